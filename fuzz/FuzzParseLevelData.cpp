// Any bytes as decompressed level data: zlib's checksums keep most mutations of a whole file from
// reaching the parse, so the parse gets a target of its own.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "LevelLoader.h"
#include "MeshList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tr4::Level level;
    level.levelData.assign(data, data + size);
    level.levelDataSize = static_cast<uint32_t>(size);
    tr4::LoadReport report;
    tr4::ParseLevelData(level, &report);
    std::unique_ptr<tr4::Lista_Mesh> list;
    tr4::DecodeMeshes(reinterpret_cast<const uint8_t*>(level.meshData.data()),
                      static_cast<uint32_t>(level.meshData.size() * 2), list);
    return 0;
}
