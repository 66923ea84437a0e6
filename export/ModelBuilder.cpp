#include "ModelBuilder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <unordered_map>

#include "GltfWriter.h"
#include "PagePng.h"
#include "Prefault.h"

namespace tinygltf {
// Part of the library's interface (exported), though its header declares it only where it
// defines it.
std::string base64_encode(unsigned char const* bytes, unsigned int length);
}  // namespace tinygltf

namespace tr4export {
namespace {

constexpr double kGrey = 128.0 / 255.0;  // the viewer's plain grey, 0x808080
constexpr const char* kUnlit = "KHR_materials_unlit";
constexpr const char* kLights = "KHR_lights_punctual";

// The normal of a face whose corners run clockwise from the side it shows, in glTF's axes.
std::array<float, 3> FaceNormal(const tr4::MeshFace& f) {
    const tr4::MeshVertex &a = f.corners[0], &b = f.corners[1], &c = f.corners[2];
    const double u[3] = {double(b.x - a.x), double(b.y - a.y), double(b.z - a.z)};
    const double w[3] = {double(c.x - a.x), double(c.y - a.y), double(c.z - a.z)};
    // The cross product points into the face's back: turned round, then mapped (-x, -y, z).
    const double x[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                         u[0] * w[1] - u[1] * w[0]};
    const double d[3] = {x[0], x[1], -x[2]};
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    if (length == 0) return {0, 1, 0};
    return {float(d[0] / length), float(d[1] / length), float(d[2] / length)};
}

}  // namespace

bool ModelBuilder::Vertex::operator==(const Vertex& o) const {
    return std::memcmp(this, &o, sizeof o) == 0;
}

size_t ModelBuilder::VertexHash::operator()(const Vertex& v) const {
    // Each 8 bytes of the vertex folded in by a multiplication, the high bits mixed down for the
    // table's mask: std::hash of the bytes cost a tenth of a level's geometry.
    uint64_t words[6] = {};
    static_assert(sizeof v <= sizeof words);
    std::memcpy(words, &v, sizeof v);
    uint64_t h = 0;
    for (uint64_t w : words) h = (h ^ w) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 32;
    h *= 0xD6E8FEB86659FD93ull;
    return static_cast<size_t>(h ^ (h >> 29));
}

ModelBuilder::Bounds::Bounds() {
    for (int c = 0; c < 3; ++c) {
        min[c] = std::numeric_limits<float>::max();
        max[c] = std::numeric_limits<float>::lowest();
    }
}

void ModelBuilder::Bounds::Add(const float p[3]) {
    for (int c = 0; c < 3; ++c) {
        min[c] = std::min(min[c], p[c]);
        max[c] = std::max(max[c], p[c]);
    }
}

ModelBuilder::ModelBuilder(const tr4::Level& level, const tr4::Lista_Mesh* list,
                           const ExportRequest& request, tinygltf::Model& model,
                           std::vector<std::string>& warnings)
    : level(level),
      list(list),
      request(request),
      model(model),
      warnings(warnings),
      bulk(request.bulk && request.binary ? *request.bulk : ownBulk) {}

ModelBuilder::Mode ModelBuilder::ModeOf(const tr4::MeshFace& f) {
    // Bit 0 of the face's effects and attribute 2 of its texture both add the face's colour to
    // what is behind it.
    if ((f.effects & 1) != 0 || f.attribute == 2) return Mode::Additive;
    return f.attribute == 1 ? Mode::Mask : Mode::Opaque;
}

void ModelBuilder::Position(const tr4::MeshVertex& v, float out[3]) const {
    // A half turn about the vertical: y up, the object's front toward +Z. Negating the integers
    // first keeps zeros positive.
    const float scale = static_cast<float>(request.scale);
    out[0] = static_cast<float>(-int{v.x}) * scale;
    out[1] = static_cast<float>(-int{v.y}) * scale;
    out[2] = static_cast<float>(v.z) * scale;
}

int ModelBuilder::Mesh(int index) {
    const auto known = meshOf.find(index);
    if (known != meshOf.end()) return known->second;
    tr4::MeshRecord* record = nullptr;
    if (list == nullptr || !list->GetRecord(index, record) || record == nullptr) return -1;
    tr4::BuildMeshFaces(*record, level, faces);

    // Meshes store either a normal or a shade for every vertex; a mesh whose arrays fall short
    // of its vertices gets neither.
    VertexData data;
    const size_t vertexCount = record->vertices.size();
    if (!record->normals.empty() && record->normals.size() >= vertexCount) {
        for (const tr4::MeshVertex& n : record->normals) {
            const double d[3] = {-double(n.x), -double(n.y), double(n.z)};
            const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            data.normals.push_back(length == 0 ? std::array<float, 3>{0, 0, 0}
                                               : std::array<float, 3>{float(d[0] / length),
                                                                      float(d[1] / length),
                                                                      float(d[2] / length)});
        }
    } else if (!record->shades.empty() && record->shades.size() >= vertexCount) {
        for (int16_t shade : record->shades) {
            const float grey = ShadeToGrey(shade);
            data.colours.push_back({grey, grey, grey});
        }
    }
    const std::string name = "mesh " + std::to_string(index);
    const int made = FacesMesh(name, faces.faces, data);
    if (faces.faces.empty()) model.meshes[made].primitives.push_back(Points(*record));
    if (faces.dropped > 0)
        warnings.push_back(name + ": " + std::to_string(faces.dropped) +
                           " face(s) name a vertex outside the mesh and are left out");
    meshOf.emplace(index, made);
    return made;
}

int ModelBuilder::FacesMesh(const std::string& name, const std::vector<tr4::MeshFace>& list,
                            const VertexData& data, const std::vector<bool>* doubleSided) {
    tinygltf::Mesh mesh;
    mesh.name = name;
    // Faces grouped by material, groups in the order their first face comes.
    std::vector<std::pair<int, std::vector<const tr4::MeshFace*>>> groups;
    std::vector<bool> textured;
    int plain = 0;
    for (size_t i = 0; i < list.size(); ++i) {
        const tr4::MeshFace& f = list[i];
        const bool both = doubleSided && i < doubleSided->size() && (*doubleSided)[i];
        const bool hasPage = HasPage(level, f.page);
        if (!hasPage) ++plain;
        const int material = hasPage ? Material(f.page, ModeOf(f), both) : GreyMaterial(both);
        auto g = std::find_if(groups.begin(), groups.end(),
                              [&](const auto& e) { return e.first == material; });
        if (g == groups.end()) {
            g = groups.insert(groups.end(), {material, {}});
            textured.push_back(hasPage);
        }
        g->second.push_back(&f);
    }
    for (size_t g = 0; g < groups.size(); ++g)
        mesh.primitives.push_back(Faces(groups[g].second, data, groups[g].first, textured[g]));
    if (plain > 0)
        warnings.push_back(name + ": " + std::to_string(plain) +
                           " face(s) have no texture page and are plain grey");
    model.meshes.push_back(std::move(mesh));
    return static_cast<int>(model.meshes.size()) - 1;
}

tinygltf::Primitive ModelBuilder::Faces(const std::vector<const tr4::MeshFace*>& members,
                                        const VertexData& data, int material, bool textured) {
    const bool normals = !data.normals.empty(), colours = !data.colours.empty();
    std::vector<Vertex> unique;
    // Open addressing over the unique vertices' indices: a node a vertex (a hash map's) cost
    // more than the rest of the primitive.
    size_t slots = 16;
    while (slots < members.size() * 8) slots *= 2;
    std::vector<uint32_t> table(slots, UINT32_MAX);
    auto indexOf = [&](const Vertex& v) {
        for (size_t i = VertexHash()(v) & (slots - 1);; i = (i + 1) & (slots - 1)) {
            if (table[i] == UINT32_MAX) {
                table[i] = static_cast<uint32_t>(unique.size());
                unique.push_back(v);
                return table[i];
            }
            if (unique[table[i]] == v) return table[i];
        }
    };
    std::vector<uint32_t> corners;
    corners.reserve(members.size() * 6);
    unique.reserve(members.size() * 4);
    for (const tr4::MeshFace* f : members) {
        uint32_t at[4] = {};
        for (int k = 0; k < f->CornerCount(); ++k) {
            const uint16_t vertex = f->vertex[k];
            Vertex v;
            Position(f->corners[k], v.position);
            if (normals) {
                std::array<float, 3> n =
                    vertex < data.normals.size() ? data.normals[vertex] : std::array<float, 3>{};
                if (n[0] == 0 && n[1] == 0 && n[2] == 0) n = FaceNormal(*f);
                std::copy(n.begin(), n.end(), v.normal);
            }
            if (colours) {
                const std::array<float, 3> c = vertex < data.colours.size()
                                                   ? data.colours[vertex]
                                                   : std::array<float, 3>{1, 1, 1};
                std::copy(c.begin(), c.end(), v.colour);
            }
            if (textured) {
                v.uv[0] = f->tu[k];
                v.uv[1] = f->tv[k];
            }
            at[k] = indexOf(v);
        }
        // The level's corners run clockwise seen from the side a face shows, glTF's front faces
        // counter-clockwise: each of the viewer's triangles is written in reverse.
        for (const tr4::CornerTriangle& t : tr4::TrianglesOf(*f))
            for (int k : {t[0], t[2], t[1]}) corners.push_back(at[k]);
    }

    tinygltf::Primitive p;
    p.mode = TINYGLTF_MODE_TRIANGLES;
    p.material = material;
    const size_t count = unique.size();
    Bounds bounds;
    Attribute& position = attributes[kPosition];
    const size_t firstPosition = position.data.size();
    uint8_t* positions = position.data.Extend(count * sizeof(Vertex::position));
    for (size_t i = 0; i < count; ++i) {
        std::memcpy(positions + i * sizeof(Vertex::position), unique[i].position,
                    sizeof(Vertex::position));
        bounds.Add(unique[i].position);
    }
    p.attributes["POSITION"] = PositionAccessor(firstPosition, count, bounds);
    auto add = [&](int which, const char* name, int type, auto member, int n) {
        Attribute& a = attributes[which];
        const size_t first = a.data.size();
        const size_t size = sizeof(float) * static_cast<size_t>(n);
        uint8_t* out = a.data.Extend(count * size);
        for (size_t i = 0; i < count; ++i) std::memcpy(out + i * size, unique[i].*member, size);
        const int accessor = Accessor(first, count, type);
        a.accessors.push_back(accessor);
        p.attributes[name] = accessor;
    };
    if (normals) add(kNormal, "NORMAL", TINYGLTF_TYPE_VEC3, &Vertex::normal, 3);
    if (colours) add(kColour, "COLOR_0", TINYGLTF_TYPE_VEC3, &Vertex::colour, 3);
    if (textured) add(kUv, "TEXCOORD_0", TINYGLTF_TYPE_VEC2, &Vertex::uv, 2);
    p.indices = IndexAccessor(corners, static_cast<uint32_t>(count));
    return p;
}

// A mesh without drawable faces: its vertices as points, so the mesh keeps its place in the file
// and stays valid. A mesh without vertices either gets one point at its origin.
tinygltf::Primitive ModelBuilder::Points(const tr4::MeshRecord& record) {
    tinygltf::Primitive p;
    p.mode = TINYGLTF_MODE_POINTS;
    Bounds bounds;
    const size_t first = attributes[kPosition].data.size();
    auto add = [&](const tr4::MeshVertex& v) {
        float at[3];
        Position(v, at);
        for (float c : at) attributes[kPosition].data.Append(c);
        bounds.Add(at);
    };
    for (const tr4::MeshVertex& v : record.vertices) add(v);
    if (record.vertices.empty()) add(tr4::MeshVertex{});
    const size_t count = std::max<size_t>(record.vertices.size(), 1);
    p.attributes["POSITION"] = PositionAccessor(first, count, bounds);
    return p;
}

int ModelBuilder::Node(const std::string& name, int mesh) {
    tinygltf::Node node;
    node.name = name;
    node.mesh = mesh;
    model.nodes.push_back(std::move(node));
    return static_cast<int>(model.nodes.size()) - 1;
}

void ModelBuilder::Translate(int node, const std::array<int64_t, 3>& offset) {
    if (offset[0] == 0 && offset[1] == 0 && offset[2] == 0) return;
    // As the positions: (-x, -y, z) x scale, the integers negated first so that zeros stay
    // positive zeros.
    model.nodes[node].translation = {static_cast<double>(-offset[0]) * request.scale,
                                     static_cast<double>(-offset[1]) * request.scale,
                                     static_cast<double>(offset[2]) * request.scale};
}

void ModelBuilder::Rotate(int node, const Quaternion& q) {
    if (q[0] == 0 && q[1] == 0 && q[2] == 0) return;  // no turn: the file stays plain
    const double length = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
    model.nodes[node].rotation = {q[0] / length, q[1] / length, q[2] / length, q[3] / length};
}

void ModelBuilder::Place(int node, const std::array<double, 3>& t) {
    if (t[0] == 0 && t[1] == 0 && t[2] == 0) return;
    model.nodes[node].translation = {t[0], t[1], t[2]};
}

void ModelBuilder::Extras(int node, tinygltf::Value::Object extras) {
    model.nodes[node].extras = tinygltf::Value(std::move(extras));
}

void ModelBuilder::Light(int node, tinygltf::Light light) {
    model.lights.push_back(std::move(light));
    tinygltf::Value::Object reference;
    reference["light"] = tinygltf::Value(static_cast<int>(model.lights.size()) - 1);
    model.nodes[node].extensions[kLights] = tinygltf::Value(reference);
}

int ModelBuilder::AnimationAccessor(const std::vector<float>& data, int type, bool bounds) {
    const int n = tinygltf::GetNumComponentsInType(static_cast<uint32_t>(type));
    AccessorRecord a =
        FloatRecord(animationData.size(), data.size() / static_cast<size_t>(n), type);
    if (!data.empty())
        std::memcpy(animationData.Extend(data.size() * sizeof(float)), data.data(),
                    data.size() * sizeof(float));
    if (bounds && !data.empty() && n <= 4) {
        a.bounds = static_cast<uint8_t>(n);
        std::fill_n(a.min, n, std::numeric_limits<float>::infinity());
        std::fill_n(a.max, n, -std::numeric_limits<float>::infinity());
        for (size_t i = 0; i < data.size(); ++i) {
            a.min[i % n] = std::min(a.min[i % n], data[i]);
            a.max[i % n] = std::max(a.max[i % n], data[i]);
        }
    }
    animationAccessors.push_back(AddAccessor(a));
    return animationAccessors.back();
}

void ModelBuilder::ReserveAccessors(size_t n) {
    bulk.accessors.reserve(bulk.accessors.size() + n);
}

int ModelBuilder::AddAccessor(const AccessorRecord& a) {
    bulk.accessors.push_back(a);
    return static_cast<int>(bulk.accessors.size()) - 1;
}

AccessorRecord ModelBuilder::FloatRecord(size_t byteOffset, size_t count, int type) {
    AccessorRecord a;
    a.byteOffset = byteOffset;
    a.count = count;
    a.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
    a.type = static_cast<uint8_t>(type);
    return a;
}

int ModelBuilder::Accessor(size_t byteOffset, size_t count, int type) {
    return AddAccessor(FloatRecord(byteOffset, count, type));
}

int ModelBuilder::PositionAccessor(size_t byteOffset, size_t count, const Bounds& b) {
    AccessorRecord a = FloatRecord(byteOffset, count, TINYGLTF_TYPE_VEC3);
    a.bounds = 3;
    std::copy_n(b.min, 3, a.min);
    std::copy_n(b.max, 3, a.max);
    attributes[kPosition].accessors.push_back(AddAccessor(a));
    return attributes[kPosition].accessors.back();
}

int ModelBuilder::IndexAccessor(const std::vector<uint32_t>& corners, uint32_t vertexCount) {
    indices.PadTo4();
    const bool narrow = vertexCount <= 0xFFFF;
    const size_t at = indices.size();
    for (uint32_t i : corners) {
        if (narrow)
            indices.Append(static_cast<uint16_t>(i));
        else
            indices.Append(i);
    }
    AccessorRecord a;
    a.byteOffset = at;
    a.count = corners.size();
    a.componentType =
        narrow ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
    a.type = TINYGLTF_TYPE_SCALAR;
    indexAccessors.push_back(AddAccessor(a));
    return indexAccessors.back();
}

namespace {

// The viewer draws without light: unlit, neither metal nor shiny where unlit is not known.
void Plain(tinygltf::Material& m) {
    m.pbrMetallicRoughness.metallicFactor = 0.0;
    m.pbrMetallicRoughness.roughnessFactor = 1.0;
    m.extensions[kUnlit] = tinygltf::Value(tinygltf::Value::Object{});
}

}  // namespace

int ModelBuilder::AddMaterial(const std::tuple<int, int, bool>& key, tinygltf::Material m) {
    Plain(m);
    usesUnlit = true;
    model.materials.push_back(std::move(m));
    const int made = static_cast<int>(model.materials.size()) - 1;
    materialOf.emplace(key, made);
    return made;
}

int ModelBuilder::GreyMaterial(bool doubleSided) {
    const auto key = std::make_tuple(-1, 0, doubleSided);
    const auto known = materialOf.find(key);
    if (known != materialOf.end()) return known->second;
    tinygltf::Material m;
    m.name = doubleSided ? "untextured double-sided" : "untextured";
    m.pbrMetallicRoughness.baseColorFactor = {kGrey, kGrey, kGrey, 1.0};
    m.doubleSided = doubleSided;
    return AddMaterial(key, std::move(m));
}

int ModelBuilder::Material(int page, Mode mode, bool doubleSided) {
    const auto key = std::make_tuple(page, static_cast<int>(mode), doubleSided);
    const auto known = materialOf.find(key);
    if (known != materialOf.end()) return known->second;
    tinygltf::Material m;
    m.name = "page " + std::to_string(page);
    switch (mode) {
        case Mode::Additive:
            // glTF has no additive blending: the page's brightness becomes its opacity, so black
            // vanishes and bright texels glow over what is behind them.
            m.name += " additive";
            m.alphaMode = "BLEND";
            break;
        case Mode::Mask:
            m.name += " mask";
            m.alphaMode = "MASK";
            m.alphaCutoff = 0.5;
            break;
        default:
            m.alphaMode = "OPAQUE";
            break;
    }
    if (doubleSided) m.name += " double-sided";
    m.doubleSided = doubleSided;
    m.pbrMetallicRoughness.baseColorTexture.index = Texture(page, mode == Mode::Additive);
    return AddMaterial(key, std::move(m));
}

int ModelBuilder::Texture(int page, bool additive) {
    const auto key = std::make_pair(page, additive);
    const auto known = textureOf.find(key);
    if (known != textureOf.end()) return known->second;
    if (sampler < 0) {
        // The viewer samples its pages bilinearly without mipmaps, and repeats them.
        tinygltf::Sampler s;
        s.magFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
        s.minFilter = TINYGLTF_TEXTURE_FILTER_LINEAR;
        s.wrapS = TINYGLTF_TEXTURE_WRAP_REPEAT;
        s.wrapT = TINYGLTF_TEXTURE_WRAP_REPEAT;
        model.samplers.push_back(s);
        sampler = static_cast<int>(model.samplers.size()) - 1;
    }
    const PageAlpha alpha = additive ? PageAlpha::Brightness : PageAlpha::Stored;
    tinygltf::Image image;
    image.name = "page " + std::to_string(page) + (additive ? " additive" : "");
    image.mimeType = "image/png";
    const int imageIndex = static_cast<int>(model.images.size());
    if (!request.imageFolder.empty()) {
        image.uri = request.imageFolder + "/" + PagePngName(page, alpha);
    } else {
        Pages().Prefetch(page, alpha);
        pending.push_back({imageIndex, page, additive});
    }
    model.images.push_back(std::move(image));
    tinygltf::Texture t;
    t.source = imageIndex;
    t.sampler = sampler;
    model.textures.push_back(std::move(t));
    const int made = static_cast<int>(model.textures.size()) - 1;
    textureOf.emplace(key, made);
    return made;
}

PagePngCache& ModelBuilder::Pages() {
    if (request.pages) return *request.pages;
    if (!ownPages) ownPages.emplace(level);
    return *ownPages;
}

uint8_t* ModelBuilder::BlockStream::Extend(size_t n) {
    if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < n) {
        // Each block twice the last, up to a few megabytes: few blocks for a large level, and
        // little room reserved for a small one (reserved room the system never faults in).
        constexpr size_t kFirst = size_t{64} << 10, kMost = size_t{8} << 20;
        const size_t room = blocks.empty() ? kFirst : std::min(2 * blocks.back().capacity(), kMost);
        blocks.emplace_back().reserve(std::max(room, n));
        prefaulted = 0;
    }
    Stream& block = blocks.back();
    const size_t at = block.size();
    if (at + n > prefaulted) {
        // Faulted in a stretch at a time, ahead of the writes: never much more than is used.
        constexpr size_t kStretch = size_t{64} << 10;
        const size_t to = std::min(block.capacity(), std::max(at + n, prefaulted + kStretch));
        tr4::PrefaultForWrite(block.data() + prefaulted, to - prefaulted);
        prefaulted = to;
    }
    block.resize(at + n);
    total += n;
    return block.data() + at;
}

void ModelBuilder::BlockStream::Reserve(size_t n) {
    if (blocks.empty() || blocks.back().capacity() - blocks.back().size() < n) {
        blocks.emplace_back().reserve(n);
        prefaulted = 0;
    }
}

void ModelBuilder::BlockStream::PadTo4() {
    if (const size_t pad = (4 - total % 4) % 4; pad != 0) std::memset(Extend(pad), 0, pad);
}

uint64_t ModelBuilder::BlockStream::MoveInto(BinaryChunk& chunk) {
    uint64_t first = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
        const uint64_t at = chunk.Add(std::move(blocks[i]), i == 0);
        if (i == 0) first = at;
    }
    blocks.clear();
    total = 0;
    prefaulted = 0;
    return first;
}

void ModelBuilder::Finish(const std::vector<int>& roots, const std::string& name) {
    // Each image's PNG for the binary chunk: taken from the builder's own cache, which goes with
    // it; a cache the caller brought keeps it until the file is written, and the chunk refers to
    // it there.
    struct Png {
        int image;
        Stream taken;
        const Stream* kept;
    };
    std::vector<Png> pngs;
    for (const PendingImage& p : pending) {
        const PageAlpha alpha = p.additive ? PageAlpha::Brightness : PageAlpha::Stored;
        if (request.binary && ownPages) {
            pngs.push_back({p.image, ownPages->Take(p.page, alpha), nullptr});
            continue;
        }
        const std::vector<uint8_t>& png = Pages().Png(p.page, alpha);
        if (request.binary)
            pngs.push_back({p.image, {}, &png});
        else
            model.images[p.image].uri =
                "data:image/png;base64," +
                tinygltf::base64_encode(png.data(), static_cast<unsigned>(png.size()));
    }
    tinygltf::Scene scene;
    // Named, so that a scene without nodes (a level without meshes) is still an object.
    scene.name = name;
    scene.nodes = roots;
    model.scenes.push_back(std::move(scene));
    model.defaultScene = 0;
    model.asset.version = "2.0";
    model.asset.generator = "tr4tool";
    if (usesUnlit) model.extensionsUsed.push_back(kUnlit);
    // The writer adds KHR_lights_punctual to the extensions used when the model has lights.

    // The streams go into the chunk as they are, each let go as it goes in.
    BinaryChunk& chunk = bulk.chunk;
    auto view = [&](size_t size, auto place, int target, int stride) {
        if (size == 0) return -1;
        tinygltf::BufferView v;
        v.buffer = 0;
        v.byteLength = size;
        v.byteOffset = place();
        v.byteStride = static_cast<size_t>(stride);
        v.target = target;
        model.bufferViews.push_back(std::move(v));
        return static_cast<int>(model.bufferViews.size()) - 1;
    };
    auto streamView = [&](BlockStream& s, int target, int stride) {
        return view(
            s.size(), [&] { return s.MoveInto(chunk); }, target, stride);
    };
    for (Attribute& a : attributes) {
        const int made = streamView(a.data, TINYGLTF_TARGET_ARRAY_BUFFER, a.stride);
        for (int accessor : a.accessors) bulk.accessors[accessor].bufferView = made;
    }
    const int indexView = streamView(indices, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, 0);
    for (int a : indexAccessors) bulk.accessors[a].bufferView = indexView;
    const int animationView = streamView(animationData, 0, 0);
    for (int a : animationAccessors) bulk.accessors[a].bufferView = animationView;
    for (Png& png : pngs) {
        const size_t size = png.kept ? png.kept->size() : png.taken.size();
        model.images[png.image].bufferView = view(
            size,
            [&] { return png.kept ? chunk.Refer(*png.kept) : chunk.Add(std::move(png.taken)); }, 0,
            0);
    }
    if (chunk.size != 0) model.buffers.emplace_back();
    if (&bulk != &ownBulk) return;

    // Nobody to write from the bulk: the model takes it, whole.
    model.accessors.reserve(bulk.accessors.size());
    for (const AccessorRecord& r : bulk.accessors) {
        tinygltf::Accessor& a = model.accessors.emplace_back();
        a.bufferView = r.bufferView;
        a.byteOffset = r.byteOffset;
        a.count = r.count;
        a.componentType = r.componentType;
        a.type = r.type;
        a.minValues.assign(r.min, r.min + r.bounds);
        a.maxValues.assign(r.max, r.max + r.bounds);
    }
    std::vector<AccessorRecord>().swap(bulk.accessors);
    if (chunk.size == 0) return;
    // Made at its final size, each piece let go once it is in: the data is held about once.
    std::vector<uint8_t>& data = model.buffers.back().data;
    data.reserve(chunk.size);
    size_t owned = 0;
    for (const BinaryChunk::Piece& piece : chunk.pieces) {
        data.insert(data.end(), piece.data, piece.data + piece.size);
        if (owned < chunk.owned.size() && piece.data == chunk.owned[owned].data())
            Stream().swap(chunk.owned[owned++]);
    }
}

}  // namespace tr4export
