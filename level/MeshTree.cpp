#include "MeshTree.h"

#include <cstring>

namespace tr4 {

std::vector<MeshTreePart> MeshTreeParts(const Level& level, const MoveableRecord& moveable,
                                        std::vector<std::string>* warnings) {
    std::vector<MeshTreePart> parts(moveable.meshCount);
    std::vector<int> stack;
    int parent = 0;
    int outside = 0, emptyPops = 0;
    for (int k = 1; k < static_cast<int>(parts.size()); ++k) {
        const uint64_t at = (static_cast<uint64_t>(moveable.meshTree) + 4ull * (k - 1)) * 4ull;
        int32_t entry[4] = {0, 0, 0, 0};
        if (at + sizeof entry <= level.meshTrees.size()) {
            std::memcpy(entry, level.meshTrees.data() + at, sizeof entry);
        } else {
            ++outside;
        }
        if (entry[0] & 1) {
            if (stack.empty()) {
                ++emptyPops;
            } else {
                parent = stack.back();
                stack.pop_back();
            }
        }
        if (entry[0] & 2) stack.push_back(parent);
        parts[k].parent = parent;
        for (int c = 0; c < 3; ++c) parts[k].offset[c] = entry[c + 1];
        parent = k;
    }
    const std::string who = "moveable " + std::to_string(moveable.id) + ": ";
    if (warnings && outside > 0)
        warnings->push_back(who + std::to_string(outside) +
                            " part(s) have no mesh tree entry and sit on the part before");
    if (warnings && emptyPops > 0)
        warnings->push_back(who + "the mesh tree pops an empty stack " + std::to_string(emptyPops) +
                            " time(s)");
    return parts;
}

}  // namespace tr4
