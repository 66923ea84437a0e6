#include "MeshOwners.h"

#include <algorithm>
#include <cstring>

namespace tr4 {

namespace {

constexpr size_t kStaticRecordSize = 32;
constexpr size_t kStaticMeshField = 4;  // after the u32 id

class Resolver {
  public:
    Resolver(const Level& level, const std::vector<uint32_t>& starts, MeshOwners& out)
        : level(level), starts(starts), out(out) {}

    void Add(uint32_t pointerIndex, const MeshOwner& owner) {
        if (pointerIndex >= level.meshPointers.size()) {
            ++out.unresolved;
            return;
        }
        const uint32_t offset = level.meshPointers[pointerIndex];
        const auto at = std::lower_bound(starts.begin(), starts.end(), offset);
        if (at == starts.end() || *at != offset) {
            ++out.unresolved;
            return;
        }
        out.owners[static_cast<size_t>(at - starts.begin())].push_back(owner);
    }

  private:
    const Level& level;
    const std::vector<uint32_t>& starts;
    MeshOwners& out;
};

}  // namespace

MeshOwners FindMeshOwners(const Level& level, const std::vector<uint32_t>& meshStarts) {
    MeshOwners result;
    result.owners.resize(meshStarts.size());
    Resolver resolver(level, meshStarts, result);
    for (const MoveableRecord& m : level.moveables) {
        for (uint32_t part = 0; part < m.meshCount; ++part) {
            resolver.Add(uint32_t{m.firstMesh} + part, {MeshOwner::Kind::Moveable, m.id, part});
        }
    }
    for (const StaticRecord& s : StaticRecords(level))
        resolver.Add(s.mesh, {MeshOwner::Kind::Static, s.id, 0});
    return result;
}

std::vector<StaticRecord> StaticRecords(const Level& level) {
    const Bytes& statics = level.staticMeshes;
    std::vector<StaticRecord> records;
    records.reserve(statics.size() / kStaticRecordSize);
    for (size_t at = 0; at + kStaticRecordSize <= statics.size(); at += kStaticRecordSize) {
        StaticRecord& r = records.emplace_back();
        // The file is little-endian, as is the host.
        std::memcpy(&r.id, statics.data() + at, sizeof r.id);
        std::memcpy(&r.mesh, statics.data() + at + kStaticMeshField, sizeof r.mesh);
    }
    return records;
}

MeshOwners FindMeshOwners(const Level& level, const Lista_Mesh* meshes) {
    std::vector<uint32_t> starts;
    if (meshes) {
        starts.reserve(static_cast<size_t>(meshes->Count()));
        for (const MeshRecord& m : *meshes) starts.push_back(m.offset);
    }
    return FindMeshOwners(level, starts);
}

std::string DescribeOwners(const std::vector<MeshOwner>& owners) {
    if (owners.empty()) return "not used by any object";
    std::string text;
    for (const MeshOwner& o : owners) {
        if (!text.empty()) text += "; ";
        if (o.kind == MeshOwner::Kind::Moveable) {
            text += "moveable " + std::to_string(o.id) + ", part " + std::to_string(o.part);
        } else {
            text += "static " + std::to_string(o.id);
        }
    }
    return text;
}

}  // namespace tr4
