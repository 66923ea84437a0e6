#include "LevelWriter.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tr4test {
namespace {

class Writer {
  public:
    template <class T>
    void Put(const T& value) {
        const size_t at = bytes.size();
        bytes.resize(at + sizeof(T));
        std::memcpy(bytes.data() + at, &value, sizeof(T));
    }
    void Append(const Bytes& more) { bytes.insert(bytes.end(), more.begin(), more.end()); }
    // n bytes of a pattern that differs from section to section, so misplaced reads show.
    void Pattern(uint64_t n, uint8_t seed) {
        for (uint64_t i = 0; i < n; ++i) bytes.push_back(static_cast<uint8_t>(i * 7 + seed));
    }
    template <class Count>
    void Counted(Count count, uint32_t elementSize, uint8_t seed) {
        Put(count);
        Pattern(uint64_t(count) * elementSize, seed);
    }

    Bytes bytes;
};

}  // namespace

Bytes EncodeMesh(const MeshPlan& m) {
    Writer w;
    for (int16_t c : m.centre) w.Put(c);
    w.Put(m.radius);
    w.Put(m.vertexCount.value_or(static_cast<int16_t>(m.vertices.size())));
    for (const auto& v : m.vertices) w.Put(v);
    if (m.shades.empty()) {
        w.Put(static_cast<int16_t>(m.normals.size()));
        for (const auto& n : m.normals) w.Put(n);
    } else {
        w.Put(static_cast<int16_t>(-static_cast<int>(m.shades.size())));
        for (int16_t s : m.shades) w.Put(s);
    }
    w.Put(m.rectangleCount.value_or(static_cast<int16_t>(m.rectangles.size())));
    for (const auto& r : m.rectangles) w.Put(r);
    w.Put(m.triangleCount.value_or(static_cast<int16_t>(m.triangles.size())));
    for (const auto& t : m.triangles) w.Put(t);
    if (w.bytes.size() % 4 != 0) w.Put(m.alignmentWord);
    return w.bytes;
}

Bytes EncodeMeshes(const std::vector<MeshPlan>& meshes) {
    Bytes out;
    for (const MeshPlan& m : meshes) {
        Bytes one = EncodeMesh(m);
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

namespace {

// A counted list written whole: its count, then its values.
template <typename T>
void PutAll(Writer& w, const std::vector<T>& values) {
    w.Put(static_cast<uint32_t>(values.size()));
    for (const T& v : values) w.Put(v);
}

}  // namespace

Bytes BuildLevelData(const LevelPlan& s) {
    Writer w;
    w.Put(uint32_t{0});
    w.Put(static_cast<uint16_t>(s.rooms.size()));
    for (const RoomPlan& r : s.rooms) {
        w.Pattern(16, 1);
        w.Put(r.dataWordCount);
        const std::pair<int16_t, uint32_t> geometry[] = {
            {r.vertexCount, 12}, {r.rectangleCount, 10}, {r.triangleCount, 8}, {r.spriteCount, 4}};
        for (auto [count, size] : geometry) {
            w.Put(count);
            if (count > 0) w.Pattern(uint64_t(count) * size, 2);
        }
        w.Counted(r.portalCount, 32, 3);
        w.Put(r.sectorCountZ);
        w.Put(r.sectorCountX);
        w.Pattern(uint64_t(r.sectorCountZ) * r.sectorCountX * 8, 4);
        w.Pattern(4, 5);  // colour
        w.Counted(r.lightCount, 46, 6);
        w.Counted(r.staticCount, 20, 7);
        w.Pattern(2 + 2 + 3, 8);  // extraWord1, extraWord2, extraBytes
    }
    w.Counted(s.floorDataCount, 2, 10);
    const Bytes meshData = s.meshData ? *s.meshData : EncodeMeshes(s.meshes);
    w.Put(static_cast<uint32_t>(meshData.size() / 2));
    w.Append(meshData);
    if (s.meshPointers)
        PutAll(w, *s.meshPointers);
    else
        w.Counted(s.meshPointerCount, 4, 11);
    if (s.animations) {
        w.Put(static_cast<uint32_t>(s.animations->size()));
        for (const tr4::AnimationRecord& a : *s.animations) {
            w.Put(a.frameOffset);
            w.Put(a.frameRate);
            w.Put(a.frameSize);
            w.Put(a.stateId);
            for (int32_t v : {a.speed, a.accel, a.lateralSpeed, a.lateralAccel}) w.Put(v);
            for (uint16_t v :
                 {a.frameStart, a.frameEnd, a.nextAnimation, a.nextFrame, a.stateChangeCount,
                  a.stateChangeIndex, a.commandCount, a.commandIndex})
                w.Put(v);
        }
    } else {
        w.Counted(s.animationCount, 40, 12);
    }
    w.Counted(s.stateChangeCount, 6, 13);
    w.Counted(s.animDispatchCount, 8, 14);
    if (s.animCommands)
        PutAll(w, *s.animCommands);
    else
        w.Counted(s.animCommandCount, 2, 15);
    if (s.meshTrees)
        PutAll(w, *s.meshTrees);
    else
        w.Counted(s.meshTreeCount, 4, 16);
    if (s.frames)
        PutAll(w, *s.frames);
    else
        w.Counted(s.frameCount, 2, 17);
    if (s.moveables) {
        w.Put(static_cast<uint32_t>(s.moveables->size()));
        for (const tr4::MoveableRecord& m : *s.moveables) {
            w.Put(m.id);
            w.Put(m.meshCount);
            w.Put(m.firstMesh);
            w.Put(m.meshTree);
            w.Put(m.frameOffset);
            w.Put(m.animation);
        }
    } else {
        w.Counted(s.moveableCount, 18, 18);
    }
    w.Counted(s.staticMeshCount, 32, 19);
    w.Append({'S', 'P', 'R'});
    w.Counted(s.spriteTextureCount, 16, 20);
    w.Counted(s.spriteSequenceCount, 8, 21);
    w.Counted(s.cameraCount, 16, 22);
    w.Counted(s.flybyCameraCount, 40, 23);
    w.Counted(s.soundSourceCount, 16, 24);
    w.Counted(s.boxCount, 8, 25);
    w.Counted(s.overlapCount, 2, 26);
    w.Pattern(uint64_t(s.boxCount) * 20, 27);  // zones: no count of their own
    w.Counted(s.animatedTextureCount, 2, 28);
    w.Append({0, 'T', 'E', 'X'});
    w.Put(static_cast<uint32_t>(s.objectTextures.size()));
    for (const tr4::ObjectTexture& t : s.objectTextures) {
        w.Put(t.attribute);
        w.Put(t.tile);
        w.Put(t.flags);
        for (const auto& c : t.corners) {
            w.Put(c.xCoordinate);
            w.Put(c.xPixel);
            w.Put(c.yCoordinate);
            w.Put(c.yPixel);
        }
        w.Put(t.baseU);
        w.Put(t.baseV);
        w.Put(t.width);
        w.Put(t.height);
    }
    w.Counted(s.itemCount, 24, 29);
    w.Counted(s.aiObjectCount, 24, 30);
    w.Counted(s.demoDataCount, 2, 31);
    w.Pattern(740, 32);  // soundMap
    w.Counted(s.soundDetailCount, 8, 33);
    w.Counted(s.sampleIndexCount, 4, 34);
    w.Pattern(6, 35);  // trailer
    w.Append(s.afterTrailer);
    return w.bytes;
}

Bytes BuildChunk(const Bytes& payload, std::optional<uint32_t> statedSize) {
    uLongf packedSize = compressBound(payload.size());
    Bytes packed(packedSize);
    if (compress2(packed.data(), &packedSize, payload.data(), payload.size(), 9) != Z_OK) {
        std::fprintf(stderr, "compress2 failed\n");
        return {};
    }
    packed.resize(packedSize);
    Writer w;
    w.Put(statedSize.value_or(static_cast<uint32_t>(payload.size())));
    w.Put(static_cast<uint32_t>(packed.size()));
    w.Append(packed);
    return w.bytes;
}

namespace {

std::array<Bytes, 4> Chunks(const LevelPlan& s) {
    return {BuildChunk(s.pages32), BuildChunk(s.pages16), BuildChunk(s.miscPages),
            BuildChunk(BuildLevelData(s))};
}

}  // namespace

Bytes BuildLevelFile(const LevelPlan& s) {
    Writer w;
    w.Put(s.version);
    w.Put(s.roomPageCount);
    w.Put(s.objectPageCount);
    w.Put(s.bumpPageCount);
    for (const Bytes& chunk : Chunks(s)) w.Append(chunk);
    w.Put(s.sampleCount);
    w.Append(s.sampleData);
    return w.bytes;
}

FileLayout LayoutOf(const LevelPlan& s) {
    FileLayout layout;
    size_t at = 10;
    const auto chunks = Chunks(s);
    for (int i = 0; i < 4; ++i) {
        layout.chunkStart[i] = at;
        at += chunks[i].size();
    }
    layout.sampleCountAt = at;
    layout.fileSize = at + 4 + s.sampleData.size();
    return layout;
}

Bytes SolidPage32(uint8_t r, uint8_t g, uint8_t b) {
    Bytes page(256 * 256 * 4);
    for (size_t i = 0; i < page.size(); i += 4) {
        page[i] = b;
        page[i + 1] = g;
        page[i + 2] = r;
        page[i + 3] = 255;
    }
    return page;
}

Bytes Page16From32(const Bytes& page32) {
    Bytes out;
    out.reserve(page32.size() / 2);
    for (size_t i = 0; i + 3 < page32.size(); i += 4) {
        const uint16_t texel = static_cast<uint16_t>(0x8000 | (page32[i + 2] >> 3) << 10 |
                                                     (page32[i + 1] >> 3) << 5 | page32[i] >> 3);
        out.push_back(static_cast<uint8_t>(texel));
        out.push_back(static_cast<uint8_t>(texel >> 8));
    }
    return out;
}

namespace {

tr4::ObjectTexture Quad(uint16_t tile, uint8_t x0, uint8_t y0, uint8_t x1, uint8_t y1) {
    tr4::ObjectTexture t;
    t.tile = tile;
    t.corners[0] = {0, x0, 0, y0};
    t.corners[1] = {0, x1, 0, y0};
    t.corners[2] = {0, x1, 0, y1};
    t.corners[3] = {0, x0, 0, y1};
    t.width = uint32_t(x1 - x0 + 1) << 8;
    t.height = uint32_t(y1 - y0 + 1) << 8;
    return t;
}

using V = tr4::MeshVertex;

double Dot3(const double a[3], const double b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// Puts the corners of a face in the order that keeps it facing away from the mesh's middle: seen
// from outside, corners run clockwise once the view has negated y.
template <size_t N>
void FaceOutwards(const std::vector<V>& v, uint16_t (&idx)[N]) {
    const V& a = v[idx[0]];
    const V& b = v[idx[1]];
    const V& c = v[idx[2]];
    const double ab[3] = {double(b.x - a.x), double(b.y - a.y), double(b.z - a.z)};
    const double ac[3] = {double(c.x - a.x), double(c.y - a.y), double(c.z - a.z)};
    const double n[3] = {ab[1] * ac[2] - ab[2] * ac[1], ab[2] * ac[0] - ab[0] * ac[2],
                         ab[0] * ac[1] - ab[1] * ac[0]};
    double middle[3] = {0, 0, 0};
    for (const V& p : v) {
        middle[0] += p.x;
        middle[1] += p.y;
        middle[2] += p.z;
    }
    double out[3] = {0, 0, 0};
    for (size_t i = 0; i < N; ++i) {
        out[0] += v[idx[i]].x - middle[0] / double(v.size());
        out[1] += v[idx[i]].y - middle[1] / double(v.size());
        out[2] += v[idx[i]].z - middle[2] / double(v.size());
    }
    // The right-handed normal of a clockwise face points into the mesh.
    if (Dot3(n, out) > 0) std::swap(idx[1], idx[N - 1]);
}

tr4::MeshRectangle Rect(const std::vector<V>& v, uint16_t a, uint16_t b, uint16_t c, uint16_t d,
                        uint16_t texture) {
    tr4::MeshRectangle r{{a, b, c, d}, texture, 0};
    FaceOutwards(v, r.indices);
    return r;
}

tr4::MeshTriangle Tri(const std::vector<V>& v, uint16_t a, uint16_t b, uint16_t c,
                      uint16_t texture) {
    tr4::MeshTriangle t{{a, b, c}, texture, 0};
    FaceOutwards(v, t.indices);
    return t;
}

MeshPlan Cube(int16_t half, int16_t cx, int16_t cy, int16_t cz) {
    MeshPlan m;
    m.centre[0] = cx;
    m.centre[1] = cy;
    m.centre[2] = cz;
    m.radius = uint32_t(half) * 2;
    for (int i = 0; i < 8; ++i) {
        m.vertices.push_back({int16_t(cx + (i & 1 ? half : -half)),
                              int16_t(cy + (i & 2 ? half : -half)),
                              int16_t(cz + (i & 4 ? half : -half))});
        m.normals.push_back({int16_t(i & 1 ? 16300 : -16300), int16_t(i & 2 ? 16300 : -16300),
                             int16_t(i & 4 ? 16300 : -16300)});
    }
    const auto& v = m.vertices;
    m.rectangles = {
        Rect(v, 4, 5, 7, 6, 0),  // +z, towards the viewer: red
        Rect(v, 0, 1, 3, 2, 1),  // -z: green
        Rect(v, 1, 3, 7, 5, 2),  // +x: blue
        Rect(v, 0, 2, 6, 4, 3),  // -x: yellow
        Rect(v, 0, 1, 5, 4, 4),  // top (level y grows downwards): page 1
        Rect(v, 2, 3, 7, 6, 4),  // bottom
    };
    return m;
}

}  // namespace

LevelPlan DemoLevel() {
    LevelPlan s;
    s.roomPageCount = 1;
    s.objectPageCount = 1;
    // Page 0: four coloured quadrants, each with a checker and a white frame, so orientation and
    // texture coordinates can be read off a render. Page 1: a blue-orange diagonal stripe.
    Bytes page0(256 * 256 * 4), page1(256 * 256 * 4);
    const uint8_t quadrant[4][3] = {{220, 40, 40}, {40, 180, 60}, {50, 80, 220}, {240, 210, 40}};
    for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
            const int q = (y >= 128) * 2 + (x >= 128);
            const int lx = x % 128, ly = y % 128;
            const bool frame = lx < 4 || ly < 4 || lx > 123 || ly > 123;
            const bool dark = ((lx / 16) + (ly / 16)) % 2 == 1;
            uint8_t rgb[3];
            for (int k = 0; k < 3; ++k)
                rgb[k] = frame
                             ? 255
                             : static_cast<uint8_t>(dark ? quadrant[q][k] * 3 / 5 : quadrant[q][k]);
            uint8_t* p = &page0[size_t(y * 256 + x) * 4];
            p[0] = rgb[2], p[1] = rgb[1], p[2] = rgb[0], p[3] = 255;
            const bool stripe = ((x + y) / 24) % 2 == 0;
            uint8_t* q1 = &page1[size_t(y * 256 + x) * 4];
            q1[0] = stripe ? 200 : 30, q1[1] = stripe ? 90 : 140, q1[2] = stripe ? 20 : 250;
            q1[3] = 255;
        }
    }
    s.pages32 = page0;
    s.pages32.insert(s.pages32.end(), page1.begin(), page1.end());
    s.pages16 = Page16From32(s.pages32);
    s.miscPages = Bytes(2 * 65536, 0);

    s.objectTextures = {
        Quad(0, 0, 0, 127, 127),     Quad(0, 128, 0, 255, 127), Quad(0, 0, 128, 127, 255),
        Quad(0, 128, 128, 255, 255), Quad(1, 0, 0, 255, 255),
    };
    // Triangles take their page from the tile with bit 15 cleared.
    tr4::ObjectTexture triangleTexture = Quad(0x8001, 0, 0, 255, 255);
    triangleTexture.corners[2] = {0, 128, 0, 255};
    s.objectTextures.push_back(triangleTexture);

    // Sizes suit the viewer's frame: at its zoom of 6 each mesh fills about half the view.
    // 0: a cube with a different texture on each face.
    s.meshes.push_back(Cube(40, 0, 0, 0));

    // 1: a pyramid, apex up, sides from page 1, base from the yellow quadrant.
    {
        MeshPlan m;
        m.radius = 70;
        m.vertices = {{-50, 40, -50}, {50, 40, -50}, {50, 40, 50}, {-50, 40, 50}, {0, -60, 0}};
        m.normals = m.vertices;
        const auto& v = m.vertices;
        m.rectangles = {Rect(v, 0, 1, 2, 3, 3)};
        m.triangles = {Tri(v, 0, 1, 4, 5), Tri(v, 1, 2, 4, 5), Tri(v, 2, 3, 4, 5),
                       Tri(v, 3, 0, 4, 5)};
        s.meshes.push_back(m);
    }

    // 2: a 3 x 3 checkered wall facing the viewer, far from the origin: its vertices lie about
    // its centre, as a real level's do, and the view turns it about that centre.
    {
        MeshPlan m;
        m.centre[0] = 300;
        m.centre[1] = -50;
        m.centre[2] = 200;
        m.radius = 85;
        for (int row = 0; row < 4; ++row)
            for (int col = 0; col < 4; ++col)
                m.vertices.push_back(
                    {int16_t(300 - 60 + col * 40), int16_t(-50 - 60 + row * 40), 200});
        // Shades instead of normals, as lit-by-vertex meshes carry.
        m.shades.assign(m.vertices.size(), 4096);
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 3; ++col) {
                const uint16_t a = uint16_t(row * 4 + col);
                // Faces the viewer: (x decreasing on screen) seen from +z.
                tr4::MeshRectangle r{{uint16_t(a + 1), a, uint16_t(a + 4), uint16_t(a + 5)},
                                     uint16_t((row * 3 + col) % 5),
                                     0};
                m.rectangles.push_back(r);
            }
        }
        s.meshes.push_back(m);
    }

    // 3: an octahedron of eight triangles; its fields need an alignment word.
    {
        MeshPlan m;
        m.radius = 60;
        m.vertices = {{60, 0, 0}, {-60, 0, 0}, {0, 60, 0}, {0, -60, 0}, {0, 0, 60}, {0, 0, -60}};
        m.shades = {100, 200, 300, 400, 500, 600};
        const auto& v = m.vertices;
        uint16_t tex = 0;
        for (uint16_t x : {0, 1})
            for (uint16_t y : {2, 3})
                for (uint16_t z : {4, 5}) m.triangles.push_back(Tri(v, x, y, z, tex++ % 4));
        s.meshes.push_back(m);
    }
    s.sampleCount = 0;
    return s;
}

LevelPlan ManyMeshes(int n) {
    LevelPlan s;
    s.pages32 = SolidPage32(200, 100, 50);
    s.pages16 = Page16From32(s.pages32);
    s.miscPages = Bytes(65536, 0);
    s.objectTextures = {Quad(0, 0, 0, 255, 255)};
    Bytes data;
    const Bytes cube = [] {
        MeshPlan m = Cube(100, 0, 0, 0);
        for (auto& r : m.rectangles) r.texture = 0;
        return EncodeMesh(m);
    }();
    data.reserve(cube.size() * size_t(n));
    for (int i = 0; i < n; ++i) data.insert(data.end(), cube.begin(), cube.end());
    s.meshData = std::move(data);
    return s;
}

LevelPlan RealMeshesRepeated(const tr4::Level& level, int copies) {
    LevelPlan s;
    s.version = level.version;
    s.roomPageCount = level.roomPageCount;
    s.objectPageCount = level.objectPageCount;
    s.bumpPageCount = level.bumpPageCount;
    s.pages32 = level.pages32;
    s.pages16 = level.pages16;
    s.miscPages = level.miscPages;
    s.objectTextures = level.objectTextures;
    // The decoder walks the records one after another, and every real mesh ends on a 4-byte
    // boundary, so copies laid end to end decode as copies.
    const auto* words = reinterpret_cast<const uint8_t*>(level.meshData.data());
    const size_t bytes = level.meshData.size() * 2;
    Bytes data;
    data.reserve(bytes * size_t(std::max(copies, 0)));
    std::vector<uint32_t> pointers;
    pointers.reserve(level.meshPointers.size() * size_t(std::max(copies, 0)));
    for (int k = 0; k < copies; ++k) {
        const auto shift = static_cast<uint32_t>(data.size());
        data.insert(data.end(), words, words + bytes);
        for (uint32_t p : level.meshPointers) pointers.push_back(p + shift);
    }
    s.meshData = std::move(data);
    s.meshPointers = std::move(pointers);
    return s;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

}  // namespace tr4test
