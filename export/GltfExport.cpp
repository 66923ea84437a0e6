#include "GltfExport.h"

#include <png.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "MeshFaces.h"
#include "MeshTree.h"
#include "ObjectMeshes.h"
#include "PagePng.h"
#include "SafeFile.h"

namespace tinygltf {
// Part of the library's interface (exported), though its header declares it only where it
// defines it.
std::string base64_encode(unsigned char const* bytes, unsigned int length);
}  // namespace tinygltf

namespace tr4export {
namespace {

constexpr double kGrey = 128.0 / 255.0;  // the viewer's plain grey, 0x808080
constexpr const char* kUnlit = "KHR_materials_unlit";
constexpr int kMaxPartDepth = 64;
// The largest PNG libpng makes of a 256 x 256 page with alpha.
const uint64_t kPagePngMax = [] {
    png_image image{};
    image.width = 256;
    image.height = 256;
    image.format = PNG_FORMAT_BGRA;
    return static_cast<uint64_t>(PNG_IMAGE_PNG_SIZE_MAX(image));
}();

using Stream = std::vector<uint8_t>;

template <typename T>
void Append(Stream& s, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    s.insert(s.end(), p, p + sizeof value);
}

void PadTo4(Stream& s) {
    while (s.size() % 4) s.push_back(0);
}

// Gathers the model: vertex data in one stream per attribute (positions, normals, colours,
// texture coordinates) and one of indices, each a buffer view when the model is finished, so
// accessors and views stay few.
class ModelBuilder {
  public:
    ModelBuilder(const tr4::Level& level, const tr4::Lista_Mesh* list, const ExportRequest& request,
                 tinygltf::Model& model, std::vector<std::string>& warnings)
        : level(level), list(list), request(request), model(model), warnings(warnings) {}

    // The glTF mesh of level mesh index, made on first use.
    int Mesh(int index) {
        const auto known = meshOf.find(index);
        if (known != meshOf.end()) return known->second;
        tr4::MeshRecord* record = nullptr;
        if (list == nullptr || !list->GetRecord(index, record) || record == nullptr) return -1;
        tr4::BuildMeshFaces(*record, level, faces);

        tinygltf::Mesh mesh;
        mesh.name = "mesh " + std::to_string(index);
        // Faces grouped by material, groups in the order their first face comes.
        std::vector<std::pair<int, std::vector<const tr4::MeshFace*>>> groups;
        int plain = 0;
        for (const tr4::MeshFace& f : faces.faces) {
            const bool textured = HasPage(level, f.page);
            if (!textured) ++plain;
            const int material = textured ? Material(f.page, ModeOf(f)) : GreyMaterial();
            auto g = std::find_if(groups.begin(), groups.end(),
                                  [&](const auto& e) { return e.first == material; });
            if (g == groups.end()) g = groups.insert(groups.end(), {material, {}});
            g->second.push_back(&f);
        }
        for (const auto& [material, members] : groups)
            mesh.primitives.push_back(Faces(*record, members, material, material != greyMaterial));
        if (groups.empty()) mesh.primitives.push_back(Points(*record));

        if (faces.dropped > 0)
            warnings.push_back(mesh.name + ": " + std::to_string(faces.dropped) +
                               " face(s) name a vertex outside the mesh and are left out");
        if (plain > 0)
            warnings.push_back(mesh.name + ": " + std::to_string(plain) +
                               " face(s) have no texture page and are plain grey");
        model.meshes.push_back(std::move(mesh));
        const int made = static_cast<int>(model.meshes.size()) - 1;
        meshOf.emplace(index, made);
        return made;
    }

    int Node(const std::string& name, int mesh = -1) {
        tinygltf::Node node;
        node.name = name;
        node.mesh = mesh;
        model.nodes.push_back(std::move(node));
        return static_cast<int>(model.nodes.size()) - 1;
    }

    void Translate(int node, const std::array<int64_t, 3>& offset) {
        if (offset[0] == 0 && offset[1] == 0 && offset[2] == 0) return;
        // As the positions: (-x, -y, z) x scale, the integers negated first so that zeros stay
        // positive zeros.
        model.nodes[node].translation = {static_cast<double>(-offset[0]) * request.scale,
                                         static_cast<double>(-offset[1]) * request.scale,
                                         static_cast<double>(offset[2]) * request.scale};
    }

    void Finish(const std::vector<int>& roots, const std::string& name) {
        tinygltf::Scene scene;
        // Named, so that a scene without nodes (a level without meshes) is still an object.
        scene.name = name;
        scene.nodes = roots;
        model.scenes.push_back(std::move(scene));
        model.defaultScene = 0;
        model.asset.version = "2.0";
        model.asset.generator = "tr4tool";
        if (usesUnlit) model.extensionsUsed.push_back(kUnlit);

        tinygltf::Buffer buffer;
        auto view = [&](const Stream& s, int target, int stride) {
            if (s.empty()) return -1;
            PadTo4(buffer.data);
            tinygltf::BufferView v;
            v.buffer = 0;
            v.byteOffset = buffer.data.size();
            v.byteLength = s.size();
            v.byteStride = static_cast<size_t>(stride);
            v.target = target;
            buffer.data.insert(buffer.data.end(), s.begin(), s.end());
            model.bufferViews.push_back(std::move(v));
            return static_cast<int>(model.bufferViews.size()) - 1;
        };
        for (Attribute& a : attributes) {
            const int made = view(a.data, TINYGLTF_TARGET_ARRAY_BUFFER, a.stride);
            for (int accessor : a.accessors) model.accessors[accessor].bufferView = made;
        }
        const int indexView = view(indices, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, 0);
        for (int a : indexAccessors) model.accessors[a].bufferView = indexView;
        for (auto& [image, png] : pngs) model.images[image].bufferView = view(png, 0, 0);
        if (!buffer.data.empty()) model.buffers.push_back(std::move(buffer));
    }

  private:
    // How a face's texels reach the picture.
    enum class Mode { Opaque, Mask, Additive };

    static Mode ModeOf(const tr4::MeshFace& f) {
        // Bit 0 of the face's effects and attribute 2 of its texture both add the face's colour to
        // what is behind it.
        if ((f.effects & 1) != 0 || f.attribute == 2) return Mode::Additive;
        return f.attribute == 1 ? Mode::Mask : Mode::Opaque;
    }

    // One vertex of a primitive: everything a glTF vertex carries. Faces that meet share a vertex
    // where all of it is equal, so a surface is connected in the file as it is in the level.
    struct Vertex {
        float position[3] = {};
        float normal[3] = {};
        float colour[3] = {};
        float uv[2] = {};
        bool operator==(const Vertex& o) const { return std::memcmp(this, &o, sizeof o) == 0; }
    };
    struct VertexHash {
        size_t operator()(const Vertex& v) const {
            return std::hash<std::string_view>()(
                std::string_view(reinterpret_cast<const char*>(&v), sizeof v));
        }
    };

    tinygltf::Primitive Faces(const tr4::MeshRecord& record,
                              const std::vector<const tr4::MeshFace*>& members, int material,
                              bool textured) {
        // Meshes store either a normal or a shade for every vertex; a mesh whose arrays fall short
        // of its vertices gets neither.
        const size_t vertexCount = record.vertices.size();
        const bool normals = !record.normals.empty() && record.normals.size() >= vertexCount;
        const bool shades =
            !normals && !record.shades.empty() && record.shades.size() >= vertexCount;
        std::vector<Vertex> unique;
        std::unordered_map<Vertex, uint32_t, VertexHash> indexOf;
        std::vector<uint32_t> corners;
        for (const tr4::MeshFace* f : members) {
            uint32_t at[4] = {};
            for (int k = 0; k < f->CornerCount(); ++k) {
                Vertex v;
                Position(f->corners[k], v.position);
                if (normals) Normal(record.normals[f->vertex[k]], *f, v.normal);
                if (shades) Shade(record.shades[f->vertex[k]], v.colour);
                if (textured) {
                    v.uv[0] = f->tu[k];
                    v.uv[1] = f->tv[k];
                }
                const auto [it, fresh] =
                    indexOf.try_emplace(v, static_cast<uint32_t>(unique.size()));
                if (fresh) unique.push_back(v);
                at[k] = it->second;
            }
            // The level's corners run clockwise seen from the side a face shows, glTF's front
            // faces counter-clockwise: each triangle is written in reverse. A rectangle splits
            // along its corners 1-3, as the viewer draws it.
            if (f->quad) {
                for (int k : {0, 3, 1, 1, 3, 2}) corners.push_back(at[k]);
            } else {
                for (int k : {0, 2, 1}) corners.push_back(at[k]);
            }
        }

        tinygltf::Primitive p;
        p.mode = TINYGLTF_MODE_TRIANGLES;
        p.material = material;
        const size_t count = unique.size();
        Bounds bounds;
        Attribute& position = attributes[kPosition];
        const size_t firstPosition = position.data.size();
        for (const Vertex& v : unique) {
            for (int c = 0; c < 3; ++c) {
                Append(position.data, v.position[c]);
                bounds.min[c] = std::min(bounds.min[c], v.position[c]);
                bounds.max[c] = std::max(bounds.max[c], v.position[c]);
            }
        }
        p.attributes["POSITION"] = PositionAccessor(firstPosition, count, bounds);
        auto add = [&](int which, const char* name, int type, auto member, int n) {
            Attribute& a = attributes[which];
            const size_t first = a.data.size();
            for (const Vertex& v : unique)
                for (int c = 0; c < n; ++c) Append(a.data, (v.*member)[c]);
            const int accessor = Accessor(first, count, type);
            a.accessors.push_back(accessor);
            p.attributes[name] = accessor;
        };
        if (normals) add(kNormal, "NORMAL", TINYGLTF_TYPE_VEC3, &Vertex::normal, 3);
        if (shades) add(kColour, "COLOR_0", TINYGLTF_TYPE_VEC3, &Vertex::colour, 3);
        if (textured) add(kUv, "TEXCOORD_0", TINYGLTF_TYPE_VEC2, &Vertex::uv, 2);
        p.indices = IndexAccessor(corners, static_cast<uint32_t>(count));
        return p;
    }

    // Level coordinates to glTF's: y turned up and the object's front (+z) toward glTF's +Z, a
    // half turn about the vertical. Negating the integers first keeps zeros positive.
    void Position(const tr4::MeshVertex& v, float out[3]) const {
        const float scale = static_cast<float>(request.scale);
        out[0] = static_cast<float>(-int{v.x}) * scale;
        out[1] = static_cast<float>(-int{v.y}) * scale;
        out[2] = static_cast<float>(v.z) * scale;
    }

    // A stored normal turned as the positions, at unit length. A zero normal says nothing: the
    // face's own takes its place.
    static void Normal(const tr4::MeshVertex& n, const tr4::MeshFace& f, float out[3]) {
        double d[3] = {-static_cast<double>(n.x), -static_cast<double>(n.y),
                       static_cast<double>(n.z)};
        double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        if (length == 0) {
            // The face's own normal: its corners run clockwise from the side it shows.
            const tr4::MeshVertex &a = f.corners[0], &b = f.corners[1], &c = f.corners[2];
            const double u[3] = {double(b.x - a.x), double(b.y - a.y), double(b.z - a.z)};
            const double w[3] = {double(c.x - a.x), double(c.y - a.y), double(c.z - a.z)};
            const double x[3] = {u[1] * w[2] - u[2] * w[1], u[2] * w[0] - u[0] * w[2],
                                 u[0] * w[1] - u[1] * w[0]};
            // Clockwise corners give a normal into the face's back: turned round and mapped.
            d[0] = x[0];
            d[1] = x[1];
            d[2] = -x[2];
            length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            if (length == 0) {
                d[0] = 0;
                d[1] = 1;
                d[2] = 0;
                length = 1;
            }
        }
        for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(d[c] / length);
    }

    static void Shade(int16_t shade, float out[3]) {
        const float grey = ShadeToGrey(shade);
        out[0] = out[1] = out[2] = grey;
    }

    // A mesh without drawable faces: its vertices as points, so the mesh keeps its place in the
    // file and stays valid. A mesh without vertices either gets one point at its origin.
    tinygltf::Primitive Points(const tr4::MeshRecord& record) {
        tinygltf::Primitive p;
        p.mode = TINYGLTF_MODE_POINTS;
        Bounds bounds;
        const size_t first = attributes[kPosition].data.size();
        for (const tr4::MeshVertex& v : record.vertices) AddPosition(v, bounds);
        if (record.vertices.empty()) AddPosition(tr4::MeshVertex{}, bounds);
        const size_t count = std::max<size_t>(record.vertices.size(), 1);
        p.attributes["POSITION"] = PositionAccessor(first, count, bounds);
        return p;
    }

    struct Bounds {
        float min[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                        std::numeric_limits<float>::max()};
        float max[3] = {std::numeric_limits<float>::lowest(), std::numeric_limits<float>::lowest(),
                        std::numeric_limits<float>::lowest()};
    };

    void AddPosition(const tr4::MeshVertex& v, Bounds& b) {
        float p[3];
        Position(v, p);
        for (int c = 0; c < 3; ++c) {
            Append(attributes[kPosition].data, p[c]);
            b.min[c] = std::min(b.min[c], p[c]);
            b.max[c] = std::max(b.max[c], p[c]);
        }
    }

    int Accessor(size_t byteOffset, size_t count, int type) {
        tinygltf::Accessor a;
        a.byteOffset = byteOffset;
        a.count = count;
        a.componentType = TINYGLTF_COMPONENT_TYPE_FLOAT;
        a.type = type;
        model.accessors.push_back(std::move(a));
        return static_cast<int>(model.accessors.size()) - 1;
    }

    int PositionAccessor(size_t byteOffset, size_t count, const Bounds& b) {
        const int a = Accessor(byteOffset, count, TINYGLTF_TYPE_VEC3);
        model.accessors[a].minValues = {b.min[0], b.min[1], b.min[2]};
        model.accessors[a].maxValues = {b.max[0], b.max[1], b.max[2]};
        attributes[kPosition].accessors.push_back(a);
        return a;
    }

    int IndexAccessor(const std::vector<uint32_t>& corners, uint32_t vertexCount) {
        PadTo4(indices);
        const bool narrow = vertexCount <= 0xFFFF;
        const size_t at = indices.size();
        for (uint32_t i : corners) {
            if (narrow)
                Append(indices, static_cast<uint16_t>(i));
            else
                Append(indices, i);
        }
        tinygltf::Accessor a;
        a.byteOffset = at;
        a.count = corners.size();
        a.componentType =
            narrow ? TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT : TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
        a.type = TINYGLTF_TYPE_SCALAR;
        model.accessors.push_back(std::move(a));
        indexAccessors.push_back(static_cast<int>(model.accessors.size()) - 1);
        return indexAccessors.back();
    }

    static void Plain(tinygltf::Material& m) {
        // The viewer draws without light: unlit, neither metal nor shiny where unlit is not known.
        m.pbrMetallicRoughness.metallicFactor = 0.0;
        m.pbrMetallicRoughness.roughnessFactor = 1.0;
        m.extensions[kUnlit] = tinygltf::Value(tinygltf::Value::Object{});
    }

    int GreyMaterial() {
        if (greyMaterial >= 0) return greyMaterial;
        tinygltf::Material m;
        m.name = "untextured";
        m.pbrMetallicRoughness.baseColorFactor = {kGrey, kGrey, kGrey, 1.0};
        Plain(m);
        usesUnlit = true;
        model.materials.push_back(std::move(m));
        greyMaterial = static_cast<int>(model.materials.size()) - 1;
        return greyMaterial;
    }

    int Material(int page, Mode mode) {
        const auto key = std::make_pair(page, static_cast<int>(mode));
        const auto known = materialOf.find(key);
        if (known != materialOf.end()) return known->second;
        tinygltf::Material m;
        m.name = "page " + std::to_string(page);
        switch (mode) {
            case Mode::Additive:
                // glTF has no additive blending: the page's brightness becomes its opacity, so
                // black vanishes and bright texels glow over what is behind them.
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
        m.pbrMetallicRoughness.baseColorTexture.index = Texture(page, mode == Mode::Additive);
        Plain(m);
        usesUnlit = true;
        model.materials.push_back(std::move(m));
        const int made = static_cast<int>(model.materials.size()) - 1;
        materialOf.emplace(key, made);
        return made;
    }

    int Texture(int page, bool additive) {
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
            std::vector<uint8_t> png;
            if (request.pages)
                png = request.pages->Png(page, alpha);
            else
                EncodePagePng(level, page, alpha, png);
            if (request.binary) {
                pngs.emplace_back(imageIndex, std::move(png));
            } else {
                image.uri = "data:image/png;base64," +
                            tinygltf::base64_encode(png.data(), static_cast<unsigned>(png.size()));
            }
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

    const tr4::Level& level;
    const tr4::Lista_Mesh* list;
    const ExportRequest& request;
    tinygltf::Model& model;
    std::vector<std::string>& warnings;

    tr4::MeshFaces faces;
    std::map<int, int> meshOf;
    std::map<std::pair<int, int>, int> materialOf;
    std::map<std::pair<int, bool>, int> textureOf;
    int greyMaterial = -1;
    int sampler = -1;
    bool usesUnlit = false;
    // The vertex streams, each with the accessors that read it.
    struct Attribute {
        Stream data;
        int stride = 0;
        std::vector<int> accessors;
    };
    enum { kPosition, kNormal, kColour, kUv };
    Attribute attributes[4] = {{{}, 12, {}}, {{}, 12, {}}, {{}, 12, {}}, {{}, 8, {}}};
    Stream indices;
    std::vector<int> indexAccessors;
    std::vector<std::pair<int, Stream>> pngs;
};

}  // namespace

ExportCost EstimateExport(const tr4::Level& level, const tr4::Lista_Mesh* list,
                          const ExportRequest& request, const ObjectMeshes& objects) {
    // Generous figures per item of the file, measured on real exports: the JSON of a node, of a
    // mesh with its primitives' accessors, and the bytes of one corner (position, normal or
    // colour, texture coordinate and its share of the indices).
    constexpr uint64_t kNodeBytes = 256, kMeshBytes = 256, kPrimitiveBytes = 1536;
    constexpr uint64_t kCornerBytes = 64;
    // In memory a node, mesh or accessor of the model weighs several times its JSON, and every
    // corner passes through the vertex table and the streams before the buffer.
    constexpr uint64_t kModelPerFileByte = 4, kCornerWork = 192;
    const uint64_t kImageBytes = kPagePngMax;

    ExportCost cost;
    const int count = list ? list->Count() : 0;
    std::vector<int> meshes;
    uint64_t nodes = 0;
    using Kind = ExportRequest::Kind;
    if (request.kind == Kind::AllMeshes) {
        nodes = static_cast<uint64_t>(count);
        for (int i = 0; i < count; ++i) meshes.push_back(i);
    } else if (request.kind == Kind::Meshes) {
        nodes = request.meshes.size();
        for (int i : request.meshes) {
            if (i < 0 || i >= count) return cost;
            meshes.push_back(i);
        }
    } else if (request.kind == Kind::Moveable) {
        const tr4::MoveableRecord* m = objects.Moveable(request.id, request.occurrence);
        if (m == nullptr) return cost;
        nodes = 1u + m->meshCount;
        for (uint32_t k = 0; k < m->meshCount; ++k) meshes.push_back(objects.MoveablePart(*m, k));
    } else {
        const tr4::StaticRecord* st = objects.FindStatic(request.id, request.occurrence);
        if (st == nullptr) return cost;
        nodes = 1;
        meshes.push_back(objects.Static(*st));
    }
    std::sort(meshes.begin(), meshes.end());
    meshes.erase(std::unique(meshes.begin(), meshes.end()), meshes.end());

    uint64_t corners = 0, primitives = 0;
    std::set<std::pair<int, bool>> images;
    std::set<std::pair<int, int>> materials;
    const auto& textures = level.objectTextures;
    for (int i : meshes) {
        tr4::MeshRecord* m = nullptr;
        if (i < 0 || !list->GetRecord(i, m) || m == nullptr) continue;
        materials.clear();
        auto faces = [&](const auto& stored, int declared, uint64_t n) {
            const size_t faceCount = std::min<size_t>(std::max(declared, 0), stored.size());
            corners += faceCount * n;
            for (size_t f = 0; f < faceCount; ++f) {
                const uint16_t t = stored[f].texture;
                if (t >= textures.size()) {
                    materials.insert({-1, 0});
                    continue;
                }
                const int page = n == 4 ? textures[t].tile : (textures[t].tile & 0x7FFF);
                const bool additive = (stored[f].faceFlags & 1) != 0 || textures[t].attribute == 2;
                materials.insert({page, additive ? 2 : textures[t].attribute == 1});
                if (HasPage(level, page)) images.insert({page, additive});
            }
        };
        faces(m->rectangles, m->rectangleCount, 4);
        faces(m->triangles, m->triangleCount, 3);
        corners += m->vertices.size();  // a mesh without faces writes its vertices as points
        primitives += std::max<size_t>(materials.size(), 1);
    }
    const uint64_t structure =
        nodes * kNodeBytes + meshes.size() * kMeshBytes + primitives * kPrimitiveBytes + 4096;
    const uint64_t imageBytes = images.size() * kImageBytes;
    // Data URIs (.gltf) take a third more than the bytes they hold.
    const uint64_t data = corners * kCornerBytes;
    const bool separate = !request.imageFolder.empty();
    cost.file = structure + (request.binary ? data : data / 3 * 4 + 4) +
                (separate         ? 0
                 : request.binary ? imageBytes
                                  : imageBytes / 3 * 4 + 4);
    cost.pages = separate ? imageBytes : 0;
    cost.memory = structure * kModelPerFileByte + corners * kCornerWork + 2 * cost.file +
                  (separate ? 0 : 2 * imageBytes);
    cost.ok = true;
    return cost;
}

float ShadeToGrey(int16_t shade) {
    const int clamped = std::clamp<int>(shade, 0, 8191);
    return std::min(1.0f, static_cast<float>(8192 - clamped) / 4096.0f);
}

bool BuildModel(const tr4::Level& level, const tr4::Lista_Mesh* list, const ExportRequest& request,
                tinygltf::Model& model, std::vector<std::string>& warnings, std::string& error) {
    model = tinygltf::Model();
    ModelBuilder b(level, list, request, model, warnings);
    const int count = list ? list->Count() : 0;
    std::vector<int> roots;
    using Kind = ExportRequest::Kind;

    if (request.kind == Kind::AllMeshes || request.kind == Kind::Meshes) {
        std::vector<int> wanted = request.meshes;
        if (request.kind == Kind::AllMeshes) {
            wanted.clear();
            for (int i = 0; i < count; ++i) wanted.push_back(i);
        }
        for (int i : wanted) {
            if (i < 0 || i >= count) {
                error = "mesh " + std::to_string(i) + " is past the last mesh (" +
                        std::to_string(count) + " meshes)";
                return false;
            }
        }
        for (int i : wanted) roots.push_back(b.Node("mesh " + std::to_string(i), b.Mesh(i)));
    } else {
        std::optional<ObjectMeshes> own;
        const ObjectMeshes& objects = request.objects ? *request.objects : own.emplace(level, list);
        // A part or static whose mesh pointer names no decoded mesh stays, without a mesh.
        auto meshOrWarn = [&](int mesh, const std::string& who) {
            if (mesh < 0) warnings.push_back(who + ": its mesh pointer names no decoded mesh");
            return mesh < 0 ? -1 : b.Mesh(mesh);
        };
        const bool moveable = request.kind == Kind::Moveable;
        std::string name = (moveable ? "moveable " : "static ") + std::to_string(request.id);
        const uint32_t sharing =
            moveable ? objects.MoveablesWithId(request.id) : objects.StaticsWithId(request.id);
        if (request.occurrence >= sharing) {
            error =
                std::string("no ") + (moveable ? "moveable" : "static") + " has id " +
                std::to_string(request.id) +
                (request.occurrence > 0 ? " " + std::to_string(request.occurrence + 1) + " times"
                                        : "");
            return false;
        }
        if (request.occurrence > 0) name += " (" + std::to_string(request.occurrence + 1) + ")";
        if (sharing > 1)
            warnings.push_back(std::to_string(sharing) + " records share the id of " + name +
                               "; this is record " + std::to_string(request.occurrence + 1) +
                               " of them");
        if (moveable) {
            const tr4::MoveableRecord& m = *objects.Moveable(request.id, request.occurrence);
            const std::vector<tr4::MeshTreePart> parts = tr4::MeshTreeParts(level, m, &warnings);
            const int object = b.Node(name);
            roots.push_back(object);
            std::vector<int> partNodes, depth;
            std::vector<std::array<int64_t, 3>> fromObject;  // each part's place in the object
            int flattened = 0;
            for (size_t k = 0; k < parts.size(); ++k) {
                const std::string part = name + " part " + std::to_string(k);
                const int node =
                    b.Node(part, meshOrWarn(objects.MoveablePart(m, uint32_t(k)), part));
                const int up = parts[k].parent;
                std::array<int64_t, 3> at{};
                for (int c = 0; c < 3; ++c)
                    at[c] = (up < 0 ? 0 : fromObject[up][c]) + parts[k].offset[c];
                int partDepth = up < 0 ? 1 : depth[up] + 1;
                int parent = up < 0 ? object : partNodes[up];
                // Importers and validators walk the hierarchy recursively: a chain thousands of
                // parts deep overflows their stacks. Deeper parts hang from the object itself, at
                // the same place (parts are not turned, so their offsets simply add up).
                if (partDepth > kMaxPartDepth) {
                    ++flattened;
                    partDepth = 1;
                    parent = object;
                    b.Translate(node, at);
                } else {
                    b.Translate(node, {parts[k].offset[0], parts[k].offset[1], parts[k].offset[2]});
                }
                model.nodes[parent].children.push_back(node);
                partNodes.push_back(node);
                depth.push_back(partDepth);
                fromObject.push_back(at);
            }
            if (flattened > 0)
                warnings.push_back(name + ": " + std::to_string(flattened) +
                                   " part(s) deeper than " + std::to_string(kMaxPartDepth) +
                                   " levels hang from the object itself, in place");
        } else {
            const tr4::StaticRecord& st = *objects.FindStatic(request.id, request.occurrence);
            roots.push_back(b.Node(name, meshOrWarn(objects.Static(st), name)));
        }
    }
    b.Finish(roots, roots.empty() ? "empty" : model.nodes[roots.front()].name);
    return true;
}

namespace {

bool EndsWithNoCase(const std::string& text, std::string_view end) {
    if (text.size() < end.size()) return false;
    return std::equal(
        end.begin(), end.end(), text.end() - static_cast<long>(end.size()),
        [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

}  // namespace

bool IsJsonPath(const std::string& path) {
    return EndsWithNoCase(path, ".gltf");
}

bool IsExportPath(const std::string& path) {
    return EndsWithNoCase(path, ".gltf") || EndsWithNoCase(path, ".glb");
}

bool WriteModel(const tinygltf::Model& model, const std::string& path, bool binary,
                std::string& error, std::optional<FileId> never) {
    SafeFile file(never);
    if (!file.Open(path, error)) return false;
    tinygltf::TinyGLTF gltf;
    // Images are already PNG, in the buffer or as data URIs: nothing for the library to encode.
    gltf.SetImageWriter(nullptr, nullptr);
    if (!gltf.WriteGltfSceneToStream(&model, file.Stream(), false, binary)) {
        error = "cannot write " + path + ": the glTF writer failed";
        return false;
    }
    return file.Commit(error);
}

}  // namespace tr4export
