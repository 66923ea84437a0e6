#pragma once
// Which level meshes make up the moveables and statics of a level. The objects name their meshes
// through meshPointers, byte offsets into the mesh data; the decoded list knows where each mesh
// starts.
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "Level.h"
#include "MeshList.h"

namespace tr4export {

struct StaticObject {
    uint32_t id = 0;
    uint16_t meshPointer = 0;  // index into meshPointers
};

class ObjectMeshes {
  public:
    ObjectMeshes(const tr4::Level& level, const tr4::Lista_Mesh* list);
    // The level mesh that meshPointers[pointer] starts, or -1 when there is no such pointer or
    // no decoded mesh starts at its offset.
    int MeshOfPointer(uint32_t pointer) const;
    // The moveable with that id, or none.
    const tr4::MoveableRecord* Moveable(uint32_t id) const;
    // Every static of the level, in file order (32-byte records: id, then the mesh pointer).
    const std::vector<StaticObject>& Statics() const { return statics; }
    std::optional<StaticObject> Static(uint32_t id) const;

  private:
    const tr4::Level& level;
    std::unordered_map<uint32_t, int> meshAtOffset;
    std::vector<StaticObject> statics;
};

}  // namespace tr4export
