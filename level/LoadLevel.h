#pragma once
// The one way into a level for every caller (the window, every tr4tool command, the benchmarks and
// the fuzzers): read the file, decompress its chunks, parse the level data and decode the meshes,
// all inside the file's memory budget, with one success flag.
//
// False means the file gave no level: error holds the one-line reason (a file that cannot be
// opened or is not a regular file, no level data, a level over its memory budget, out of memory)
// and nothing else is meant to be used. True means level and meshes hold what could be read, and
// warnings say what was read only in part. The library shows nothing; the caller decides.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Level.h"
#include "LevelLoader.h"
#include "MemoryBudget.h"
#include "MeshList.h"

namespace tr4 {

struct LoadedLevel {
    // Every count and parsed array, but of the raw blocks only those the caller asked to keep;
    // its meshData is released once decoded, as meshes holds the same geometry.
    std::unique_ptr<Level> level;
    // The decoded meshes; none when the level holds no mesh data.
    std::unique_ptr<Lista_Mesh> meshes;
    std::string error;
    // The load's, then the decoder's, in the order met.
    std::vector<std::string> warnings;
    // The level data was parsed to its last field, and how many of its bytes the parse consumed.
    bool parseComplete = false;
    uint32_t parseEnd = 0;
    // The file's budget, holding what the level and its meshes took: texture pages and render
    // meshes are taken from what remains.
    MemoryBudget budget;
};

// Loads the level file at path into out (replacing all it held), keeping the raw blocks named in
// keep (RawBlocks: by default the 32-bit pages, which the export and the renderer read). Out of
// memory is reported as an error, never thrown.
// watcher: told of the 32-bit pages as soon as they are in (PagesWatcher, LevelLoader.h).
bool LoadLevel(const std::string& path, LoadedLevel& out, unsigned keep = kPages32Block,
               PagesWatcher* watcher = nullptr);
// The same over a file image in memory, with the budget of a file of that size.
bool LoadLevelImage(const uint8_t* data, size_t size, LoadedLevel& out,
                    unsigned keep = kPages32Block);

// The mesh data as the decoder takes it: every whole word the parse kept.
inline uint32_t MeshDataBytes(const Level& level) {
    return static_cast<uint32_t>(level.meshData.size() * 2);
}

}  // namespace tr4
