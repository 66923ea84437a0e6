#pragma once
// The rest pose of a moveable: its parts in the hierarchy its mesh tree gives.
//
// A moveable's meshTree indexes the 4-byte records of the level's meshTrees. Each part after the
// first takes four of them there, read as signed 32-bit values: flags, then the x, y, z offset of
// the part from its parent in level units. The first part is the root. The parent of a part is the
// part before it, unless flag bit 0 is set: then the parent is popped from a stack. Flag bit 1
// pushes the parent (after any pop) so a later part can come back to it. This is how a torso
// branches into a head and two arms.
#include <cstdint>
#include <string>
#include <vector>

#include "Level.h"

namespace tr4 {

struct MeshTreePart {
    int parent = -1;                // index of the parent part; -1 for the root
    int32_t offset[3] = {0, 0, 0};  // from the parent, level units (the root's is 0)
};

// One entry per part of moveable (meshCount of them). Parts whose tree entry lies outside
// meshTrees, and pops of an empty stack, keep the part before as parent and a zero offset (or the
// root), each with a warning.
std::vector<MeshTreePart> MeshTreeParts(const Level& level, const MoveableRecord& moveable,
                                        std::vector<std::string>* warnings = nullptr);

}  // namespace tr4
