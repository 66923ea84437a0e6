// Any bytes as a level file: the load and the decode of whatever meshes it gives must stay inside
// their buffers and never allocate from an implausible size.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "LevelLoader.h"
#include "MeshList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tr4::Level level;
    tr4::LoadReport report;
    tr4::LoadLevelFromMemory(data, size, level, &report);
    std::unique_ptr<tr4::Lista_Mesh> list;
    tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                      static_cast<uint32_t>(level.meshData.size() * 2), list);
    return 0;
}
