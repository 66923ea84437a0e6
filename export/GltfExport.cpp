#include "GltfExport.h"

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
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>

#include "GltfWriter.h"
#include "MeshFaces.h"
#include "MeshTree.h"
#include "ModelBuilder.h"
#include "MoveableAnimations.h"
#include "MoveableNodes.h"
#include "ObjectMeshes.h"
#include "PagePng.h"
#include "SafeFile.h"
#include "World.h"

namespace tr4export {
namespace {

// The largest PNG of a 256 x 256 page with alpha: its filtered rows, which deflate at worst
// stores with a few bytes a block, and the container.
constexpr uint64_t kPagePngMax = 256 * (256 * 4 + 1) + 4096;

}  // namespace

ExportCost EstimateExport(const tr4::Level& level, const tr4::Lista_Mesh* list,
                          const ExportRequest& request, const ObjectMeshes& objects) {
    // Generous figures per item of the file: the JSON of a node, of a mesh, of a primitive with
    // its accessors (at most five, about 150 bytes each with bounds), and the bytes of one corner
    // where no corner shares its vertex (position, normal or colour, texture coordinate: 32, and
    // its index).
    constexpr uint64_t kNodeBytes = 256, kMeshBytes = 256, kPrimitiveBytes = 1024;
    constexpr uint64_t kCornerBytes = 40;
    // In memory, the model's objects (a node 456 bytes, a mesh 344, a primitive 352 with its map
    // of attributes and five accessors of 416 and their bounds), twice over for the copy a
    // growing list makes; the JSON text is made whole before it is written. A primitive's corners
    // pass through a vertex table made and dropped for each: only the largest one's is held.
    constexpr uint64_t kNodeMemory = 1536, kMeshMemory = 1024, kPrimitiveMemory = 6144;
    constexpr uint64_t kCornerWork = 192;
    const uint64_t kImageBytes = kPagePngMax;

    ExportCost cost;
    const int count = list ? list->Count() : 0;
    std::set<std::pair<int, bool>> roomImages;
    uint64_t roomCorners = 0, roomPrimitives = 0, keyframes = 0, keyframeBytes = 0;
    uint64_t largest = 0;  // corners of the largest mesh or room
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
        nodes = 1u + 2u * m->meshCount;
        for (uint32_t k = 0; k < m->meshCount; ++k) meshes.push_back(objects.MoveablePart(*m, k));
        if (request.animations) {
            if (m->id == 0)
                for (const tr4::MoveableRecord* other : {objects.Moveable(8), objects.Moveable(9)})
                    for (uint32_t k = 0; other && k < other->meshCount; ++k)
                        meshes.push_back(objects.MoveablePart(*other, k));
            // Per keyframe, a time and each part's turn and place.
            const tr4::AnimationRange range = tr4::AnimationsOf(level, *m);
            const std::vector<tr4::AnimationRecord> all = tr4::Animations(level);
            for (uint32_t a = range.first; a < range.end && a < all.size(); ++a) {
                keyframes += ReadableKeyframes(level, all[a]);
                ++roomPrimitives;  // the animation's own JSON, about a primitive's
            }
            keyframeBytes = keyframes * (4 + uint64_t{m->meshCount} * 28);
            nodes += (range.end - range.first) * uint64_t{m->meshCount} / 2;  // channels' JSON
        }
    } else if (request.kind == Kind::Static) {
        const tr4::StaticRecord* st = objects.FindStatic(request.id, request.occurrence);
        if (st == nullptr) return cost;
        nodes = 1;
        meshes.push_back(objects.Static(*st));
    }
    // A whole level: its rooms' faces, a node for each placement, light and item part, and the
    // meshes those use.

    if (request.kind == Kind::Level) {
        nodes = 2 + level.rooms.size();
        auto parts = [&](const tr4::MoveableRecord* m) {
            if (m == nullptr) return;
            nodes += 2u * m->meshCount;  // a part and, for the player, its joint piece
            for (uint32_t k = 0; k < m->meshCount; ++k)
                meshes.push_back(objects.MoveablePart(*m, k));
        };
        for (const tr4::RoomRecord& room : level.rooms) {
            nodes += room.statics.size() / 20 + room.lights.size() / 46;
            for (const tr4::StaticPlacement& s : tr4::StaticPlacements(room))
                if (const tr4::StaticRecord* st = objects.FindStatic(s.staticId))
                    meshes.push_back(objects.Static(*st));
            const uint64_t corners =
                room.rectangles.size() / 10 * 4 + room.triangles.size() / 8 * 3;
            roomCorners += corners;
            largest = std::max(largest, corners);
            std::set<std::pair<int, bool>> materials;
            for (const tr4::RoomFace& f : tr4::RoomFaces(room)) {
                tr4::MeshFace face;
                face.quad = f.quad;
                if (tr4::FaceTexture(level, f.ObjectTexture(), face) && HasPage(level, face.page))
                    roomImages.insert({face.page, face.attribute == 2});
                materials.insert({face.page, f.DoubleSided()});
            }
            roomPrimitives += materials.size();
        }
        if (request.items) {
            std::set<uint32_t> shown;
            for (const tr4::Item& item : tr4::Items(level)) {
                if (item.moveable < 0) continue;
                const tr4::MoveableRecord* m = objects.Moveable(uint32_t(item.moveable));
                ++nodes;
                if (m) nodes += 2u * m->meshCount;
                if (m && shown.insert(m->id).second) {
                    parts(m);
                    if (m->id == 0) {
                        parts(objects.Moveable(8));
                        parts(objects.Moveable(9));
                    }
                }
            }
        }
    }
    std::sort(meshes.begin(), meshes.end());
    meshes.erase(std::unique(meshes.begin(), meshes.end()), meshes.end());

    uint64_t corners = roomCorners, primitives = roomPrimitives;
    std::set<std::pair<int, bool>> images = roomImages;
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
        const uint64_t before = corners;
        faces(m->rectangles, m->rectangleCount, 4);
        faces(m->triangles, m->triangleCount, 3);
        corners += m->vertices.size();  // a mesh without faces writes its vertices as points
        largest = std::max(largest, corners - before);
        primitives += std::max<size_t>(materials.size(), 1);
    }
    const uint64_t structure =
        nodes * kNodeBytes + meshes.size() * kMeshBytes + primitives * kPrimitiveBytes + 4096;
    const uint64_t imageBytes = images.size() * kImageBytes;
    // Data URIs (.gltf) take a third more than the bytes they hold.
    const uint64_t data = corners * kCornerBytes + keyframeBytes;
    const bool separate = !request.imageFolder.empty();
    cost.file = structure + (request.binary ? data : data / 3 * 4 + 4) +
                (separate         ? 0
                 : request.binary ? imageBytes
                                  : imageBytes / 3 * 4 + 4);
    cost.pages = separate ? imageBytes : 0;
    // The streams once; a text file's buffer is gathered whole and then held again in base64.
    const uint64_t model =
        nodes * kNodeMemory + meshes.size() * kMeshMemory + primitives * kPrimitiveMemory;
    cost.memory = model + structure + largest * kCornerWork +
                  (request.binary ? data : data / 2 * 5) + (separate ? 0 : 2 * imageBytes);
    cost.images = std::move(images);
    cost.ok = true;
    return cost;
}

float ShadeToGrey(int16_t shade) {
    const int clamped = std::clamp<int>(shade, 0, 8191);
    return DisplayToLinear(std::min(1.0f, static_cast<float>(8192 - clamped) / 4096.0f));
}

float DisplayToLinear(float factor) {
    return std::pow(factor, 2.2f);
}

bool BuildModel(const tr4::Level& level, const tr4::Lista_Mesh* list, const ExportRequest& request,
                tinygltf::Model& model, std::vector<std::string>& warnings, std::string& error) {
    if (request.kind == ExportRequest::Kind::Level)
        return BuildLevelModel(level, list, request, model, warnings, error);
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
            const MoveableLook look =
                request.animations && m.id == 0 ? PlayerLook(objects, m) : MoveableLook{};
            const MoveableNodes nodes =
                AddMoveable(b, model, level, objects, m, name, nullptr, warnings, look);
            roots.push_back(nodes.object);
            if (request.animations)
                AddAnimations(b, model, level, tr4::Animations(level), m, nodes, name, warnings);
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
                std::string& error, std::optional<FileId> never, SafeFileBatch* batch,
                const ModelBulk* bulk, const std::function<void()>& whileSyncing) {
    auto file = std::make_unique<SafeFile>(never);
    if (!file->Open(path, error)) return false;
    std::string why;
    // A failed stream is the file's to explain (a full disk, a size limit): Close says why.
    if (!WriteGltf(model, file->Stream(), binary, why, bulk) && file->Stream()) {
        error = "cannot write " + path + ": " + why;
        return false;
    }
    if (batch) return file->Close(error, false) && batch->Adopt(std::move(file), error);
    if (!whileSyncing) return file->Commit(error);
    // The disk's time and the caller's letting go overlap; where no thread can be had, one
    // after the other.
    bool committed = false;
    std::string syncError;
    std::thread sync;
    try {
        sync = std::thread([&] { committed = file->Commit(syncError); });
    } catch (const std::system_error&) {
        whileSyncing();
        return file->Commit(error);
    }
    whileSyncing();
    sync.join();
    if (!committed) error = syncError;
    return committed;
}

}  // namespace tr4export
