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

    // The mesh the pointer names, or -1 (counted) when none.
    long Resolve(uint32_t pointerIndex) {
        if (pointerIndex >= level.meshPointers.size()) {
            ++out.unresolved;
            return -1;
        }
        const uint32_t offset = level.meshPointers[pointerIndex];
        const auto at = std::lower_bound(starts.begin(), starts.end(), offset);
        if (at == starts.end() || *at != offset) {
            ++out.unresolved;
            return -1;
        }
        return at - starts.begin();
    }
    void Add(uint32_t pointerIndex, const MeshOwner& owner) {
        if (const long mesh = Resolve(pointerIndex); mesh >= 0)
            out.owners[static_cast<size_t>(mesh)].push_back(owner);
    }

  private:
    const Level& level;
    const std::vector<uint32_t>& starts;
    MeshOwners& out;
};

// Calls use(pointer index, owner) for every object reference, moveables then statics.
template <class Use>
void EachReference(const Level& level, Use use) {
    for (const MoveableRecord& m : level.moveables)
        for (uint32_t part = 0; part < m.meshCount; ++part)
            use(uint32_t{m.firstMesh} + part, MeshOwner{MeshOwner::Kind::Moveable, m.id, part});
    for (const StaticRecord& s : StaticRecords(level))
        use(s.mesh, MeshOwner{MeshOwner::Kind::Static, s.id, 0});
}

std::vector<uint32_t> Starts(const Lista_Mesh* meshes) {
    std::vector<uint32_t> starts;
    if (meshes) {
        starts.reserve(static_cast<size_t>(meshes->Count()));
        for (const MeshRecord& m : *meshes) starts.push_back(m.offset);
    }
    return starts;
}

}  // namespace

bool FindMeshOwners(const Level& level, const Lista_Mesh* meshes, MemoryBudget& budget,
                    MeshOwners& out, std::string& error) {
    out = MeshOwners{};
    const std::vector<uint32_t> starts = Starts(meshes);
    // Counted first, one number per mesh: only then is the table itself allocated, each list
    // at its final size.
    MeshOwners counting;
    Resolver counter(level, starts, counting);
    std::vector<uint32_t> counts(starts.size(), 0);
    uint64_t owners = 0;
    EachReference(level, [&](uint32_t pointer, const MeshOwner&) {
        if (const long mesh = counter.Resolve(pointer); mesh >= 0) {
            ++counts[static_cast<size_t>(mesh)];
            ++owners;
        }
    });
    if (!budget.Take(owners * sizeof(MeshOwner) + starts.size() * sizeof(std::vector<MeshOwner>),
                     "the table of mesh owners", error))
        return false;
    out.owners.resize(starts.size());
    for (size_t i = 0; i < counts.size(); ++i) out.owners[i].reserve(counts[i]);
    Resolver resolver(level, starts, out);
    EachReference(level,
                  [&](uint32_t pointer, const MeshOwner& owner) { resolver.Add(pointer, owner); });
    return true;
}

MeshOwners FindMeshOwners(const Level& level, const std::vector<uint32_t>& meshStarts) {
    MeshOwners result;
    result.owners.resize(meshStarts.size());
    Resolver resolver(level, meshStarts, result);
    EachReference(level,
                  [&](uint32_t pointer, const MeshOwner& owner) { resolver.Add(pointer, owner); });
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
    return FindMeshOwners(level, Starts(meshes));
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

namespace tr4 {

namespace {
constexpr const char* kRangeDash = "\u2013";  // an en dash, as ranges are written
}

std::string DescribeOwnersBriefly(const std::vector<MeshOwner>& owners, int groups) {
    if (owners.empty()) return "not used by any object";
    std::string text;
    size_t at = 0;
    for (int g = 0; g < groups && at < owners.size(); ++g) {
        const MeshOwner& first = owners[at];
        size_t last = at;
        // A moveable's parts that follow each other make one range.
        while (first.kind == MeshOwner::Kind::Moveable && last + 1 < owners.size() &&
               owners[last + 1].kind == MeshOwner::Kind::Moveable &&
               owners[last + 1].id == first.id && owners[last + 1].part == owners[last].part + 1)
            ++last;
        if (!text.empty()) text += "; ";
        if (first.kind == MeshOwner::Kind::Static) {
            text += "static " + std::to_string(first.id);
        } else if (last == at) {
            text += "moveable " + std::to_string(first.id) + ", part " + std::to_string(first.part);
        } else {
            text += "moveable " + std::to_string(first.id) + " parts " +
                    std::to_string(first.part) + kRangeDash + std::to_string(owners[last].part);
        }
        at = last + 1;
    }
    if (at < owners.size()) text += "; and " + std::to_string(owners.size() - at) + " more";
    return text;
}

size_t BriefOwnersBytes(int groups) {
    // "moveable 4294967295 parts 4294967295–4294967295; " at most per group, and the count.
    return static_cast<size_t>(groups) * 52 + 32;
}

}  // namespace tr4
