// Any bytes as a level file, loaded, then exported as glTF the ways tr4tool exports it: every
// mesh, every moveable (with its animations) and static on its own, and the whole level (rooms,
// placements, items posed by their keyframes, lights). Page images are left as names, as --format
// gltf leaves them, so the fuzzer's time goes to the level's indices rather than to PNG encoding;
// each model is charged to the file's budget first, as tr4tool charges it, and skipped past it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "GltfExport.h"
#include "LoadLevel.h"
#include "ObjectMeshes.h"

namespace {

void Export(tr4::LoadedLevel& loaded, tr4export::ExportRequest request,
            const tr4export::ObjectMeshes& objects) {
    request.objects = &objects;
    request.imageFolder = "pages";
    request.binary = false;
    const tr4export::ExportCost cost =
        tr4export::EstimateExport(*loaded.level, loaded.meshes.get(), request, objects);
    std::string error;
    if (!cost.ok || !loaded.budget.Take(cost.memory, "the export", error)) return;
    tinygltf::Model model;
    std::vector<std::string> warnings;
    tr4export::BuildModel(*loaded.level, loaded.meshes.get(), request, model, warnings, error);
    // Every reference the model makes is to something it holds.
    for (const tinygltf::Node& node : model.nodes) {
        if (node.mesh >= static_cast<int>(model.meshes.size())) __builtin_trap();
        for (int child : node.children)
            if (child < 0 || child >= static_cast<int>(model.nodes.size())) __builtin_trap();
    }
    for (const tinygltf::Mesh& mesh : model.meshes)
        for (const tinygltf::Primitive& p : mesh.primitives)
            for (const auto& [name, accessor] : p.attributes)
                if (accessor < 0 || accessor >= static_cast<int>(model.accessors.size()))
                    __builtin_trap();
    loaded.budget.Give(cost.memory);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tr4::LoadedLevel loaded;
    if (!tr4::LoadLevelImage(data, size, loaded)) return 0;
    const tr4::Level& level = *loaded.level;
    const tr4export::ObjectMeshes objects(level, loaded.meshes.get());
    using Kind = tr4export::ExportRequest::Kind;
    tr4export::ExportRequest request;
    request.kind = Kind::AllMeshes;
    Export(loaded, request, objects);
    request.kind = Kind::Moveable;
    request.animations = true;
    for (size_t k = 0; k < level.moveables.size() && k < 8; ++k) {
        request.id = level.moveables[k].id;
        Export(loaded, request, objects);
    }
    request.animations = false;
    request.kind = Kind::Static;
    for (size_t k = 0; k < objects.Statics().size() && k < 8; ++k) {
        request.id = objects.Statics()[k].id;
        Export(loaded, request, objects);
    }
    request.kind = Kind::Level;
    Export(loaded, request, objects);
    return 0;
}
