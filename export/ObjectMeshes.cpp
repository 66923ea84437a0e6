#include "ObjectMeshes.h"

#include <cstring>

namespace tr4export {

namespace {
constexpr size_t kStaticRecordBytes = 32;
}

ObjectMeshes::ObjectMeshes(const tr4::Level& level, const tr4::Lista_Mesh* list) : level(level) {
    if (list) {
        for (int i = 0; i < list->Count(); ++i) {
            tr4::MeshRecord* m = nullptr;
            if (list->GetRecord(i, m) && m) meshAtOffset.emplace(m->offset, i);
        }
    }
    for (size_t at = 0; at + kStaticRecordBytes <= level.staticMeshes.size();
         at += kStaticRecordBytes) {
        StaticObject s;
        std::memcpy(&s.id, level.staticMeshes.data() + at, 4);
        std::memcpy(&s.meshPointer, level.staticMeshes.data() + at + 4, 2);
        statics.push_back(s);
    }
}

int ObjectMeshes::MeshOfPointer(uint32_t pointer) const {
    if (pointer >= level.meshPointers.size()) return -1;
    const auto it = meshAtOffset.find(level.meshPointers[pointer]);
    return it == meshAtOffset.end() ? -1 : it->second;
}

const tr4::MoveableRecord* ObjectMeshes::Moveable(uint32_t id) const {
    for (const tr4::MoveableRecord& m : level.moveables)
        if (m.id == id) return &m;
    return nullptr;
}

std::optional<StaticObject> ObjectMeshes::Static(uint32_t id) const {
    for (const StaticObject& s : statics)
        if (s.id == id) return s;
    return std::nullopt;
}

}  // namespace tr4export
