#include "GltfExport.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <optional>
#include <utility>

#include "MeshFaces.h"
#include "MeshTree.h"
#include "ObjectMeshes.h"
#include "PagePng.h"

namespace tinygltf {
// Part of the library's interface (exported), though its header declares it only where it
// defines it.
std::string base64_encode(unsigned char const* bytes, unsigned int length);
}  // namespace tinygltf

namespace tr4export {
namespace {

constexpr double kGrey = 128.0 / 255.0;  // the viewer's plain grey, 0x808080
constexpr const char* kUnlit = "KHR_materials_unlit";

using Stream = std::vector<uint8_t>;

template <typename T>
void Append(Stream& s, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    s.insert(s.end(), p, p + sizeof value);
}

void PadTo4(Stream& s) {
    while (s.size() % 4) s.push_back(0);
}

// Gathers the model: vertex data in three streams (positions, texture coordinates, indices) that
// become one buffer view each when the model is finished, so accessors and views stay few.
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
            const int material = textured ? Material(f.page, f.attribute) : GreyMaterial();
            auto g = std::find_if(groups.begin(), groups.end(),
                                  [&](const auto& e) { return e.first == material; });
            if (g == groups.end()) g = groups.insert(groups.end(), {material, {}});
            g->second.push_back(&f);
        }
        for (const auto& [material, members] : groups)
            mesh.primitives.push_back(Faces(members, material, material != greyMaterial));
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

    void Translate(int node, const int32_t offset[3]) {
        if (offset[0] == 0 && offset[1] == 0 && offset[2] == 0) return;
        // As the positions: (x, -y, -z) x scale, the integers negated first (wide enough for
        // any 32-bit value) so that zeros stay positive zeros.
        model.nodes[node].translation = {static_cast<double>(offset[0]) * request.scale,
                                         static_cast<double>(-int64_t{offset[1]}) * request.scale,
                                         static_cast<double>(-int64_t{offset[2]}) * request.scale};
    }

    void Finish(const std::vector<int>& roots) {
        tinygltf::Scene scene;
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
        const int positionView = view(positions, TINYGLTF_TARGET_ARRAY_BUFFER, 12);
        const int uvView = view(texcoords, TINYGLTF_TARGET_ARRAY_BUFFER, 8);
        const int indexView = view(indices, TINYGLTF_TARGET_ELEMENT_ARRAY_BUFFER, 0);
        for (int a : positionAccessors) model.accessors[a].bufferView = positionView;
        for (int a : uvAccessors) model.accessors[a].bufferView = uvView;
        for (int a : indexAccessors) model.accessors[a].bufferView = indexView;
        for (auto& [image, png] : pngs) model.images[image].bufferView = view(png, 0, 0);
        if (!buffer.data.empty()) model.buffers.push_back(std::move(buffer));
    }

  private:
    tinygltf::Primitive Faces(const std::vector<const tr4::MeshFace*>& members, int material,
                              bool textured) {
        tinygltf::Primitive p;
        p.mode = TINYGLTF_MODE_TRIANGLES;
        p.material = material;
        Bounds bounds;
        const size_t firstPosition = positions.size();
        const size_t firstUv = texcoords.size();
        std::vector<uint32_t> corners;
        uint32_t next = 0;
        for (const tr4::MeshFace* f : members) {
            for (int k = 0; k < f->CornerCount(); ++k) {
                AddPosition(f->corners[k], bounds);
                if (textured) {
                    Append(texcoords, f->tu[k]);
                    Append(texcoords, f->tv[k]);
                }
            }
            // A rectangle splits along its corners 1-3, as the viewer draws it.
            if (f->quad) {
                for (uint32_t k : {0u, 1u, 3u, 1u, 2u, 3u}) corners.push_back(next + k);
                next += 4;
            } else {
                for (uint32_t k : {0u, 1u, 2u}) corners.push_back(next + k);
                next += 3;
            }
        }
        p.attributes["POSITION"] = PositionAccessor(firstPosition, next, bounds);
        if (textured) {
            const int a = Accessor(firstUv, next, TINYGLTF_TYPE_VEC2);
            uvAccessors.push_back(a);
            p.attributes["TEXCOORD_0"] = a;
        }
        p.indices = IndexAccessor(corners, next);
        return p;
    }

    // A mesh without drawable faces: its vertices as points, so the mesh keeps its place in the
    // file and stays valid. A mesh without vertices either gets one point at its origin.
    tinygltf::Primitive Points(const tr4::MeshRecord& record) {
        tinygltf::Primitive p;
        p.mode = TINYGLTF_MODE_POINTS;
        Bounds bounds;
        const size_t first = positions.size();
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
        // Negating the integers first keeps zeros positive.
        const float scale = static_cast<float>(request.scale);
        const float p[3] = {static_cast<float>(v.x) * scale, static_cast<float>(-int{v.y}) * scale,
                            static_cast<float>(-int{v.z}) * scale};
        for (int c = 0; c < 3; ++c) {
            Append(positions, p[c]);
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
        positionAccessors.push_back(a);
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

    int Material(int page, uint16_t attribute) {
        const auto key = std::make_pair(page, static_cast<int>(attribute));
        const auto known = materialOf.find(key);
        if (known != materialOf.end()) return known->second;
        tinygltf::Material m;
        m.name = "page " + std::to_string(page) + " attribute " + std::to_string(attribute);
        m.pbrMetallicRoughness.baseColorTexture.index = Texture(page);
        if (attribute == 1) {
            m.alphaMode = "MASK";
            m.alphaCutoff = 0.5;
        } else if (attribute == 2) {
            m.alphaMode = "BLEND";
        } else {
            m.alphaMode = "OPAQUE";
        }
        Plain(m);
        usesUnlit = true;
        model.materials.push_back(std::move(m));
        const int made = static_cast<int>(model.materials.size()) - 1;
        materialOf.emplace(key, made);
        return made;
    }

    int Texture(int page) {
        const auto known = textureOf.find(page);
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
        std::vector<uint8_t> png;
        if (request.pages)
            png = request.pages->Png(page);
        else
            EncodePagePng(level, page, png);
        tinygltf::Image image;
        image.name = "page " + std::to_string(page);
        image.mimeType = "image/png";
        const int imageIndex = static_cast<int>(model.images.size());
        if (request.binary) {
            pngs.emplace_back(imageIndex, std::move(png));
        } else {
            image.uri = "data:image/png;base64," +
                        tinygltf::base64_encode(png.data(), static_cast<unsigned>(png.size()));
        }
        model.images.push_back(std::move(image));
        tinygltf::Texture t;
        t.source = imageIndex;
        t.sampler = sampler;
        model.textures.push_back(std::move(t));
        const int made = static_cast<int>(model.textures.size()) - 1;
        textureOf.emplace(page, made);
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
    std::map<int, int> textureOf;
    int greyMaterial = -1;
    int sampler = -1;
    bool usesUnlit = false;
    Stream positions, texcoords, indices;
    std::vector<int> positionAccessors, uvAccessors, indexAccessors;
    std::vector<std::pair<int, Stream>> pngs;
};

}  // namespace

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
        const std::string name =
            (request.kind == Kind::Moveable ? "moveable " : "static ") + std::to_string(request.id);
        if (request.kind == Kind::Moveable) {
            const tr4::MoveableRecord* m = objects.Moveable(request.id);
            if (m == nullptr) {
                error = "no moveable has id " + std::to_string(request.id);
                return false;
            }
            const std::vector<tr4::MeshTreePart> parts = tr4::MeshTreeParts(level, *m, &warnings);
            const int object = b.Node(name);
            roots.push_back(object);
            std::vector<int> partNodes;
            for (size_t k = 0; k < parts.size(); ++k) {
                const std::string part = name + " part " + std::to_string(k);
                const int node =
                    b.Node(part, meshOrWarn(objects.MoveablePart(m->id, uint32_t(k)), part));
                b.Translate(node, parts[k].offset);
                const int parent = parts[k].parent < 0 ? object : partNodes[parts[k].parent];
                model.nodes[parent].children.push_back(node);
                partNodes.push_back(node);
            }
        } else {
            if (!objects.HasStatic(request.id)) {
                error = "no static has id " + std::to_string(request.id);
                return false;
            }
            roots.push_back(b.Node(name, meshOrWarn(objects.Static(request.id), name)));
        }
    }
    b.Finish(roots);
    return true;
}

bool IsJsonPath(const std::string& path) {
    return path.size() >= 5 && path.compare(path.size() - 5, 5, ".gltf") == 0;
}

bool WriteModel(const tinygltf::Model& model, const std::string& path, bool binary,
                std::string& error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        error = "cannot write " + path;
        return false;
    }
    tinygltf::TinyGLTF gltf;
    // Images are already PNG, in the buffer or as data URIs: nothing for the library to encode.
    gltf.SetImageWriter(nullptr, nullptr);
    const bool written = gltf.WriteGltfSceneToStream(&model, out, false, binary);
    out.close();
    if (!written || !out) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace tr4export
