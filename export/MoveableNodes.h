#pragma once
// The nodes of a moveable: one per part, in the hierarchy its mesh tree gives, each at its offset
// from its parent, turned as a keyframe poses it (or not turned: the rest pose). Shared by the
// object export, the whole-level export's items and the animations.
#include <array>
#include <string>
#include <vector>

#include "Animations.h"
#include "Level.h"
#include "MeshTree.h"
#include "ModelBuilder.h"
#include "ObjectMeshes.h"

namespace tr4export {

// Parts nest at most this deep under their object; deeper ones hang from the object itself at
// the place the chain puts them, since importers and validators walk hierarchies recursively.
inline constexpr int kMaxPartDepth = 64;

// A part's turn in glTF's axes from its keyframe angles (x, y, z; level axes): the level turns by
// Ry(y) Rx(x) Rz(z), which the half turn to glTF's axes makes qY(-y) qX(-x) qZ(z).
Quaternion PartRotation(const std::array<double, 3>& angles);

struct MoveableNodes {
    int object = -1;                      // the node named name, parent of the root part
    std::vector<int> parts;               // the node of each part
    std::vector<bool> flattened;          // parts hung from the object (kMaxPartDepth)
    std::vector<tr4::MeshTreePart> tree;  // the parts' hierarchy and offsets
};

// A part's turn and place in a pose: from its parent (t, q) and from the object (objectT,
// objectQ), in glTF's axes and units.
struct PartPose {
    std::array<double, 3> t{0, 0, 0}, objectT{0, 0, 0};
    Quaternion q{0, 0, 0, 1}, objectQ{0, 0, 0, 1};
};
// Every part of tree posed by pose (null: the rest pose, nothing turned, the root at the origin).
// Without objectSpace, objectT and objectQ are left as they start (an animation of a tree that
// is not flattened reads only each part's own place and turn, a keyframe at a time).
std::vector<PartPose> Pose(const std::vector<tr4::MeshTreePart>& tree, const tr4::Keyframe* pose,
                           double scale, bool objectSpace = true);
// The same into out, whose storage is reused: an animation poses thousands of keyframes.
void Pose(const std::vector<tr4::MeshTreePart>& tree, const tr4::Keyframe* pose, double scale,
          bool objectSpace, std::vector<PartPose>& out);

// What a moveable is drawn with: its own meshes, or (the player) another moveable's on the same
// tree, with a third's joint pieces beside them.
struct MoveableLook {
    const tr4::MoveableRecord* skin = nullptr;    // meshes of the parts; null: the moveable's own
    const tr4::MoveableRecord* joints = nullptr;  // extra pieces at each part; null: none
};

// Adds the nodes of moveable m under a new node called name. Parts are named "name part K";
// pose, when given, turns each part and moves the root part by its offset.
MoveableNodes AddMoveable(ModelBuilder& b, tinygltf::Model& model, const tr4::Level& level,
                          const ObjectMeshes& objects, const tr4::MoveableRecord& m,
                          const std::string& name, const tr4::Keyframe* pose,
                          std::vector<std::string>& warnings, MoveableLook look = {});

// The player's look, where the level has it: moveable 0's parts point at placeholders; its body
// is moveable 8 (the skin) and its joint pieces moveable 9, on the same tree.
MoveableLook PlayerLook(const ObjectMeshes& objects, const tr4::MoveableRecord& player);

// The first keyframe of the first of m's animations that stores keyframes, or none (with a
// warning when one is stored but cannot be read).
// animations: the level's (tr4::Animations), read once by the caller.
bool FirstKeyframe(const tr4::Level& level, const std::vector<tr4::AnimationRecord>& animations,
                   const tr4::MoveableRecord& m, tr4::Keyframe& out,
                   std::vector<std::string>& warnings, const std::string& name);

}  // namespace tr4export
