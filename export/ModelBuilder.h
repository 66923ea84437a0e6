#pragma once
// Gathers a glTF model from the level's faces: meshes grouped by material, nodes, materials, page
// images and lights, with vertex data in one stream per attribute (positions, normals, colours,
// texture coordinates) and one of indices, each a buffer view when the model is finished, so
// accessors and views stay few. Shared by the object export and the whole-level export; the
// conventions are GltfExport.h's.
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include <tiny_gltf.h>

#include "GltfExport.h"
#include "GltfWriter.h"
#include "MeshFaces.h"
#include "PagePng.h"
#include "Quaternion.h"

namespace tr4export {

class ModelBuilder {
  public:
    ModelBuilder(const tr4::Level& level, const tr4::Lista_Mesh* list, const ExportRequest& request,
                 tinygltf::Model& model, std::vector<std::string>& warnings);

    // The glTF mesh of level mesh index, made on first use; -1 when there is no such mesh.
    int Mesh(int index);

    // What the faces of a mesh carry besides positions and texture coordinates, by vertex index
    // (MeshFace::vertex), already in glTF's axes. Empty: none.
    struct VertexData {
        std::vector<std::array<float, 3>> normals;  // unit; a zero normal takes the face's own
        std::vector<std::array<float, 3>> colours;  // linear
    };
    // A glTF mesh of faces; doubleSided, when given, marks the faces seen from both sides.
    int FacesMesh(const std::string& name, const std::vector<tr4::MeshFace>& faces,
                  const VertexData& data, const std::vector<bool>* doubleSided = nullptr);

    int Node(const std::string& name, int mesh = -1);
    // Places node at a level offset from its parent, mapped to glTF's axes and scaled.
    void Translate(int node, const std::array<int64_t, 3>& offset);
    void Rotate(int node, const Quaternion& q);
    // Sets node's translation, already in glTF's axes and units.
    void Place(int node, const std::array<double, 3>& translation);
    // node's extras: what the level says of it that glTF has no place for.
    void Extras(int node, tinygltf::Value::Object extras);
    // Adds a KHR_lights_punctual light to node.
    void Light(int node, tinygltf::Light light);

    // An accessor over animation data (key times with their bounds, or values), in a buffer view
    // of its own: count elements of type (TINYGLTF_TYPE_SCALAR, VEC3, VEC4).
    int AnimationAccessor(const std::vector<float>& data, int type, bool bounds);
    // Room for n more accessors, made in place rather than grown by copying.
    void ReserveAccessors(size_t n);
    // Room for bytes more of animation data, made once: a moveable's keyframes run to megabytes.
    void ReserveAnimationData(size_t bytes) { animationData.Reserve(bytes); }

    // Level coordinates to glTF's.
    void Position(const tr4::MeshVertex& v, float out[3]) const;
    double Scale() const { return request.scale; }

    void Finish(const std::vector<int>& roots, const std::string& name);

  private:
    enum class Mode { Opaque, Mask, Additive };
    static Mode ModeOf(const tr4::MeshFace& f);

    struct Vertex {
        float position[3] = {};
        float normal[3] = {};
        float colour[3] = {};
        float uv[2] = {};
        bool operator==(const Vertex& o) const;
    };
    struct VertexHash {
        size_t operator()(const Vertex& v) const;
    };
    struct Bounds {
        float min[3], max[3];
        Bounds();
        void Add(const float p[3]);
    };

    tinygltf::Primitive Faces(const std::vector<const tr4::MeshFace*>& members,
                              const VertexData& data, int material, bool textured);
    tinygltf::Primitive Points(const tr4::MeshRecord& record);
    int Accessor(size_t byteOffset, size_t count, int type);
    int PositionAccessor(size_t byteOffset, size_t count, const Bounds& b);
    int IndexAccessor(const std::vector<uint32_t>& corners, uint32_t vertexCount);
    // Unlit, kept under key.
    int AddMaterial(const std::tuple<int, int, bool>& key, tinygltf::Material m);
    int GreyMaterial(bool doubleSided);
    int Material(int page, Mode mode, bool doubleSided);
    int Texture(int page, bool additive);

    const tr4::Level& level;
    const tr4::Lista_Mesh* list;
    const ExportRequest& request;
    tinygltf::Model& model;
    std::vector<std::string>& warnings;
    // The chunk's pieces and the accessors: the request's when it brings them for a binary file,
    // else the builder's own, put into the model when it is finished.
    ModelBulk ownBulk;
    ModelBulk& bulk;
    int AddAccessor(const AccessorRecord& a);
    // A record of count float elements of type at byteOffset of its stream, without bounds.
    static AccessorRecord FloatRecord(size_t byteOffset, size_t count, int type);

    using Stream = std::vector<uint8_t>;
    // A stream of bytes made in blocks, each of its room reserved and never moved: one vector
    // grown by doubling copied everything it held at each step and had the system fault in
    // fresh pages for it, a third of an animated export's page faults.
    class BlockStream {
      public:
        // n more bytes at the stream's end, side by side.
        uint8_t* Extend(size_t n);
        template <typename T>
        void Append(const T& value) {
            std::memcpy(Extend(sizeof value), &value, sizeof value);
        }
        void PadTo4();
        // Room for n more bytes side by side, reserved now (and never faulted in unused).
        void Reserve(size_t n);
        size_t size() const { return total; }
        // Moves the blocks into chunk, one after the other; returns where the first starts.
        uint64_t MoveInto(BinaryChunk& chunk);

      private:
        std::vector<Stream> blocks;
        size_t total = 0;
        size_t prefaulted = 0;  // of the last block, the bytes faulted in ahead
    };
    tr4::MeshFaces faces;
    std::map<int, int> meshOf;
    std::map<std::tuple<int, int, bool>, int> materialOf;  // page (-1 grey), mode, double-sided
    std::map<std::pair<int, bool>, int> textureOf;
    int sampler = -1;
    bool usesUnlit = false;
    // The vertex streams, each with the accessors that read it.
    struct Attribute {
        BlockStream data;
        int stride = 0;
        std::vector<int> accessors;
    };
    enum { kPosition, kNormal, kColour, kUv };
    Attribute attributes[4] = {{{}, 12, {}}, {{}, 12, {}}, {{}, 12, {}}, {{}, 8, {}}};
    BlockStream indices;
    std::vector<int> indexAccessors;
    BlockStream animationData;
    std::vector<int> animationAccessors;
    // Page images asked of the cache while the model is built, gathered when it is finished: the
    // cache encodes them on its second thread meanwhile.
    struct PendingImage {
        int image;
        int page;
        bool additive;
    };
    std::vector<PendingImage> pending;
    std::optional<PagePngCache> ownPages;  // when the request brings none
    PagePngCache& Pages();
};

}  // namespace tr4export
