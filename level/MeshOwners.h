#pragma once
// Which objects use which meshes. Moveable k uses, as its parts 0, 1, ..., the meshes that
// meshPointers[firstMesh .. firstMesh + meshCount - 1] point at; static k uses the mesh that
// meshPointers[mesh] points at, mesh being the u16 after the 4-byte id of its 32-byte record.
// A pointer is a byte offset into the mesh data and names the mesh that starts there. One mesh
// may be used by several objects, or by none. Free of Qt and of graphics: the viewer, tr4tool
// and the exporters share it.
#include <cstdint>
#include <string>
#include <vector>

#include "Level.h"
#include "MemoryBudget.h"
#include "MeshList.h"

namespace tr4 {

struct MeshOwner {
    enum class Kind : uint8_t { Moveable, Static };
    Kind kind = Kind::Moveable;
    uint32_t id = 0;    // the object id of the moveable or static record
    uint32_t part = 0;  // the part within a moveable; always 0 for a static
    bool operator==(const MeshOwner&) const = default;
};

// owners[i] lists the owners of mesh i, first every moveable in record order, then every static
// in record order; an empty list for a mesh nothing uses.
struct MeshOwners {
    std::vector<std::vector<MeshOwner>> owners;
    // Object references that could not be resolved to a mesh: a mesh-pointer index past the table,
    // or a pointer that is not the start of any decoded mesh. Counted, never fatal.
    uint32_t unresolved = 0;
};

// meshStarts[i] is the first byte of mesh i within the mesh data (MeshRecord::offset), in
// ascending order as the decoder produces them. The result has one entry per mesh start.
MeshOwners FindMeshOwners(const Level& level, const std::vector<uint32_t>& meshStarts);

// The same for a decoded list (null or empty gives no entries).
MeshOwners FindMeshOwners(const Level& level, const Lista_Mesh* meshes);

// The same, the table's memory first taken from budget: a few bytes of file can make every part
// of every moveable name one mesh, millions of owners. False, with out empty and error the
// budget's reason, when the table would pass it; the budget keeps what the table holds.
bool FindMeshOwners(const Level& level, const Lista_Mesh* meshes, MemoryBudget& budget,
                    MeshOwners& out, std::string& error);

// The static records of level in order: each one's id and the mesh-pointer index it uses.
struct StaticRecord {
    uint32_t id = 0;
    uint16_t mesh = 0;
};
std::vector<StaticRecord> StaticRecords(const Level& level);

// "moveable 8, part 14; static 3", or "not used by any object" for an empty list.
std::string DescribeOwners(const std::vector<MeshOwner>& owners);

// The same in a few words, for a tooltip: the parts of one moveable that follow each other as one
// range ("moveable 0 parts 0–14"), at most groups of them, then how many owners are left
// ("; and 212 more"). Its length is bounded whatever the list.
std::string DescribeOwnersBriefly(const std::vector<MeshOwner>& owners, int groups = 4);
// The most bytes DescribeOwnersBriefly gives for that many groups.
size_t BriefOwnersBytes(int groups = 4);

}  // namespace tr4
