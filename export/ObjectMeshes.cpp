#include "ObjectMeshes.h"

#include <algorithm>

namespace tr4export {

ObjectMeshes::ObjectMeshes(const tr4::Level& level, const tr4::Lista_Mesh* list) : level(level) {
    const tr4::MeshOwners owners = tr4::FindMeshOwners(level, list);
    for (size_t mesh = 0; mesh < owners.owners.size(); ++mesh)
        for (const tr4::MeshOwner& o : owners.owners[mesh])
            meshOf.emplace(std::make_tuple(o.kind, o.id, o.part), static_cast<int>(mesh));
    for (const tr4::StaticRecord& s : tr4::StaticRecords(level)) staticIds.push_back(s.id);
}

int ObjectMeshes::Find(tr4::MeshOwner::Kind kind, uint32_t id, uint32_t part) const {
    const auto it = meshOf.find(std::make_tuple(kind, id, part));
    return it == meshOf.end() ? -1 : it->second;
}

int ObjectMeshes::MoveablePart(uint32_t id, uint32_t part) const {
    return Find(tr4::MeshOwner::Kind::Moveable, id, part);
}

int ObjectMeshes::Static(uint32_t id) const {
    return Find(tr4::MeshOwner::Kind::Static, id, 0);
}

const tr4::MoveableRecord* ObjectMeshes::Moveable(uint32_t id) const {
    for (const tr4::MoveableRecord& m : level.moveables)
        if (m.id == id) return &m;
    return nullptr;
}

bool ObjectMeshes::HasStatic(uint32_t id) const {
    return std::find(staticIds.begin(), staticIds.end(), id) != staticIds.end();
}

}  // namespace tr4export
