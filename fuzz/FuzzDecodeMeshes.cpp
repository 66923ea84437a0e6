// Any bytes as mesh data.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "MeshList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::unique_ptr<tr4::Lista_Mesh> list;
    std::vector<std::string> warnings;
    tr4::DecodeMeshes(data, static_cast<uint32_t>(size), list, &warnings);
    if (list) {
        for (int i = 0; i < list->Count(); ++i) {
            tr4::MeshRecord* m = nullptr;
            list->GetRecord(i, m);
            // Every array holds exactly what its count says.
            if (m->vertexCount > 0 && m->vertices.size() != size_t(m->vertexCount))
                __builtin_trap();
            if (m->triangleCount > 0 && m->triangles.size() != size_t(m->triangleCount))
                __builtin_trap();
        }
    }
    return 0;
}
