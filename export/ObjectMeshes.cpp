#include "ObjectMeshes.h"

#include <algorithm>

namespace tr4export {

ObjectMeshes::ObjectMeshes(const tr4::Level& level, const tr4::Lista_Mesh* list)
    : level(level), statics(tr4::StaticRecords(level)) {
    if (list) {
        starts.reserve(static_cast<size_t>(list->Count()));
        for (const tr4::MeshRecord& m : *list) starts.push_back(m.offset);
    }
}

int ObjectMeshes::MeshOfPointer(uint32_t pointer) const {
    if (pointer >= level.meshPointers.size()) return -1;
    const uint32_t offset = level.meshPointers[pointer];
    const auto at = std::lower_bound(starts.begin(), starts.end(), offset);
    return at == starts.end() || *at != offset ? -1 : static_cast<int>(at - starts.begin());
}

const tr4::MoveableRecord* ObjectMeshes::Moveable(uint32_t id, uint32_t occurrence) const {
    for (const tr4::MoveableRecord& m : level.moveables)
        if (m.id == id && occurrence-- == 0) return &m;
    return nullptr;
}

const tr4::StaticRecord* ObjectMeshes::FindStatic(uint32_t id, uint32_t occurrence) const {
    for (const tr4::StaticRecord& s : statics)
        if (s.id == id && occurrence-- == 0) return &s;
    return nullptr;
}

uint32_t ObjectMeshes::MoveablesWithId(uint32_t id) const {
    return static_cast<uint32_t>(std::count_if(level.moveables.begin(), level.moveables.end(),
                                               [&](const auto& m) { return m.id == id; }));
}

uint32_t ObjectMeshes::StaticsWithId(uint32_t id) const {
    return static_cast<uint32_t>(
        std::count_if(statics.begin(), statics.end(), [&](const auto& s) { return s.id == id; }));
}

}  // namespace tr4export
