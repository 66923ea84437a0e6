#pragma once
// The moveables and statics of a level and the level meshes that make them up, from the mesh
// owners that the level layer finds through the objects' mesh pointers.
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "Level.h"
#include "MeshList.h"
#include "MeshOwners.h"

namespace tr4export {

class ObjectMeshes {
  public:
    ObjectMeshes(const tr4::Level& level, const tr4::Lista_Mesh* list);
    // The level mesh of part of moveable id, or -1 when its mesh pointer names no decoded mesh.
    int MoveablePart(uint32_t id, uint32_t part) const;
    // The level mesh of static id, or -1.
    int Static(uint32_t id) const;
    // The moveable with that id, or none.
    const tr4::MoveableRecord* Moveable(uint32_t id) const;
    // The ids of every static of the level, in record order.
    const std::vector<uint32_t>& StaticIds() const { return staticIds; }
    bool HasStatic(uint32_t id) const;

  private:
    int Find(tr4::MeshOwner::Kind kind, uint32_t id, uint32_t part) const;

    const tr4::Level& level;
    std::map<std::tuple<tr4::MeshOwner::Kind, uint32_t, uint32_t>, int> meshOf;
    std::vector<uint32_t> staticIds;
};

}  // namespace tr4export
