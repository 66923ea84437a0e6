#pragma once
// A moveable's animations as glTF animations: one per level animation that stores keyframes,
// named "animation N" (N its index in the level), a rotation channel for every part and a
// translation channel for the root part (and for parts hung from the object, which move with the
// chain above them), keyframe k at k x frameRate / 30 seconds, interpolated linearly (glTF
// slerps rotations). What the level says of an animation that glTF has no place for (its state,
// frames, speeds, next animation, state changes and commands) is in the animation's extras, given
// as their JSON text (tinygltf::Animation::extras_json_string), which the glTF writer writes as it
// stands; a reader of the file gets them as any extras.
#include <string>
#include <vector>

#include "Animations.h"
#include "Level.h"
#include "ModelBuilder.h"
#include "MoveableNodes.h"

namespace tr4export {

// Adds the animations of m, whose nodes are nodes; returns how many it wrote. Animations without
// keyframes are skipped and counted in a warning; a keyframe that cannot be read ends its
// animation there, with a warning.
int AddAnimations(ModelBuilder& b, tinygltf::Model& model, const tr4::Level& level,
                  const std::vector<tr4::AnimationRecord>& animations, const tr4::MoveableRecord& m,
                  const MoveableNodes& nodes, const std::string& name,
                  std::vector<std::string>& warnings);

// The keyframes of animation that can be read (at most its count), for the memory estimate.
uint32_t ReadableKeyframes(const tr4::Level& level, const tr4::AnimationRecord& animation);

}  // namespace tr4export
