#pragma once
// The moveables and statics of a level and the level meshes that make them up, found through the
// objects' mesh pointers record by record: two records that share an id stay two objects, and
// nothing is gathered for objects that are not asked for.
#include <cstdint>
#include <vector>

#include "Level.h"
#include "MeshList.h"
#include "MeshOwners.h"

namespace tr4export {

class ObjectMeshes {
  public:
    ObjectMeshes(const tr4::Level& level, const tr4::Lista_Mesh* list);
    // The level mesh that mesh pointer index names, or -1 when it names no decoded mesh.
    int MeshOfPointer(uint32_t pointer) const;
    // The level mesh of part of moveable m, or -1.
    int MoveablePart(const tr4::MoveableRecord& m, uint32_t part) const {
        return MeshOfPointer(uint32_t{m.firstMesh} + part);
    }
    // The level mesh of static s, or -1.
    int Static(const tr4::StaticRecord& s) const { return MeshOfPointer(s.mesh); }

    // The occurrence-th record (0: the first) with that id, or none.
    const tr4::MoveableRecord* Moveable(uint32_t id, uint32_t occurrence = 0) const;
    const tr4::StaticRecord* FindStatic(uint32_t id, uint32_t occurrence = 0) const;
    // How many records carry that id.
    uint32_t MoveablesWithId(uint32_t id) const;
    uint32_t StaticsWithId(uint32_t id) const;

    const std::vector<tr4::StaticRecord>& Statics() const { return statics; }

  private:
    const tr4::Level& level;
    std::vector<uint32_t> starts;  // first byte of each decoded mesh, ascending
    std::vector<tr4::StaticRecord> statics;
};

}  // namespace tr4export
