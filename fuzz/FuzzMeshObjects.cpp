// Any bytes as a level file, loaded, and then everything that reads the level's objects and their
// meshes after the load: the faces of every mesh (what the viewer draws and the export writes),
// the owner table, with and without the file's budget, and the mesh tree of every moveable.
// Their indices (vertices, object textures, mesh pointers, tree entries) all come from the file.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Animations.h"
#include "LoadLevel.h"
#include "MeshFaces.h"
#include "MeshOwners.h"
#include "MeshTree.h"
#include "World.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tr4::LoadedLevel loaded;
    if (!tr4::LoadLevelImage(data, size, loaded)) return 0;
    const tr4::Level& level = *loaded.level;
    if (loaded.meshes) {
        tr4::MeshFaces faces;
        for (const tr4::MeshRecord& record : *loaded.meshes)
            tr4::BuildMeshFaces(record, level, faces);
    }
    tr4::MeshOwners owners;
    std::string error;
    // Within the budget the table is the one FindMeshOwners gives without it; only then is the
    // unbudgeted one made too, since past it the table could take gigabytes.
    if (tr4::FindMeshOwners(level, loaded.meshes.get(), loaded.budget, owners, error)) {
        const tr4::MeshOwners plain = tr4::FindMeshOwners(level, loaded.meshes.get());
        if (plain.owners != owners.owners || plain.unresolved != owners.unresolved)
            __builtin_trap();
        for (const auto& used : owners.owners)
            if (tr4::DescribeOwnersBriefly(used).size() > tr4::BriefOwnersBytes()) __builtin_trap();
    }
    std::vector<std::string> warnings;
    for (const tr4::MoveableRecord& moveable : level.moveables) {
        const std::vector<tr4::MeshTreePart> parts = tr4::MeshTreeParts(level, moveable, &warnings);
        for (size_t k = 0; k < parts.size(); ++k)
            if (parts[k].parent >= static_cast<int>(k) || (k > 0 && parts[k].parent < 0))
                __builtin_trap();  // every parent comes before its part
    }
    // The rooms and what stands in them, and the first keyframe of every moveable's animations.
    for (const tr4::RoomRecord& room : level.rooms) {
        const std::vector<tr4::RoomVertex> vertices = tr4::RoomVertices(room);
        tr4::MeshFace face;
        for (const tr4::RoomFace& f : tr4::RoomFaces(room)) {
            face.quad = f.quad;
            tr4::FaceTexture(level, f.ObjectTexture(), face);
        }
        tr4::ReadRoomInfo(room);
        tr4::RoomLights(room);
        tr4::StaticPlacements(room);
        tr4::SectorAt(room, 0, 0);
    }
    tr4::Items(level);
    const std::vector<tr4::AnimationRecord> animations = tr4::Animations(level);
    tr4::Keyframe keyframe;
    for (const tr4::MoveableRecord& moveable : level.moveables) {
        const tr4::AnimationRange range = tr4::AnimationsOf(level, moveable);
        for (uint32_t a = range.first; a < range.end && a < range.first + 4; ++a)
            if (std::string why;
                tr4::ReadKeyframe(level, animations.at(a), 0, moveable.meshCount, keyframe, why) &&
                keyframe.rotations.size() != moveable.meshCount)
                __builtin_trap();
    }
    return 0;
}
