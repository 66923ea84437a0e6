#pragma once
// Reading a level file into a Level: the container with its four zlib chunks, then the level data.
//
// Results follow the level reader's convention: 1 for done, 0 for refused. Beside the result, an
// optional LoadReport says whether the bytes make a readable level at all (error) and where and why
// reading stopped short (warnings). The library shows nothing; callers decide what a person sees.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Level.h"
#include "MemoryBudget.h"

namespace tr4 {

struct LoadReport {
    // Fatal: the bytes are not a readable level (no header, level data missing or not
    // decompressible, a file that cannot be opened). Empty when the level was read.
    std::string error;
    // Everything else that stopped short: a damaged texture chunk, level data that ends early or
    // does not fit the standard layout, trailing bytes. The level is still usable up to that point.
    std::vector<std::string> warnings;
    // The level data was parsed up to and including its last field.
    bool parseComplete = false;
    // Bytes of level data the parse consumed.
    uint32_t parseEnd = 0;

    bool Readable() const { return error.empty(); }

    // A new warning.
    void Warn(std::string text) { warnings.push_back(std::move(text)); }
    // More about the last warning (where the stop happened, in what record): appended to it, or
    // a warning of its own when there is none yet.
    void AddToLastWarning(std::string_view more) {
        if (warnings.empty()) {
            warnings.emplace_back(more);
        } else {
            warnings.back() += more;
        }
    }
};

// The raw blocks of a level file, as a set of bits: those a caller goes on reading once the load
// is done. A block left out is released as soon as the load has no more use for it (a page chunk
// once decompressed, the level data once parsed; the sample data is never copied) and its bytes
// go back to the budget. Sizes, counts and warnings are the same whichever blocks are kept.
enum RawBlocks : unsigned {
    kNoRawBlocks = 0,
    kPages32Block = 1u << 0,
    kPages16Block = 1u << 1,
    kMiscPagesBlock = 1u << 2,
    kLevelDataBlock = 1u << 3,
    kSampleDataBlock = 1u << 4,
    kEveryRawBlock = (1u << 5) - 1,
};

// zlib's deflate cannot expand its input more than about 1032 times; a stated size beyond that is
// a lie, and is refused before anything is allocated for it.
inline constexpr uint64_t kMaxZlibExpansion = 1032;
// Files larger than this are refused before they are read.
inline constexpr uint64_t kMaxFileSize = 1ull << 30;

// Reads the file at path into level. Returns 0 when the file cannot be opened or read (level
// untouched): only regular files are read, and a FIFO or device is refused without blocking.
// Otherwise 1, with every field of level replaced by what the file gave, and report (when given)
// telling whether that makes a readable level. Everything allocated is first taken from the
// file's budget (MemoryBudget::ForFile); when budget is given it is set to that budget and left
// holding what the level keeps, so later stages spend from the same one. Of the raw blocks,
// only those named in keep stay in level.
// Told when the 32-bit pages are in, before the rest of the file is taken up, so that a caller can
// start on them (the export encodes them on another core) while the level data is parsed. A load
// with a watcher that keeps no 16-bit pages reads the chunks after the 32-bit pages on a thread
// of its own meanwhile, with the same level, report and budget as reading them in turn.
// The pages and their size are not changed after Ready. Gone comes before the level is dropped
// after a failed load: whatever reads the pages must have stopped when it returns.
class PagesWatcher {
  public:
    virtual ~PagesWatcher() = default;
    virtual void Ready(const Level& level) = 0;
    virtual void Gone() = 0;
};

int LoadLevelFile(const char* path, Level& level, LoadReport* report = nullptr,
                  MemoryBudget* budget = nullptr, unsigned keep = kEveryRawBlock,
                  PagesWatcher* watcher = nullptr);

// The same load over a file image already in memory (tests, fuzzers). Always 1. Spends from
// budget when given (the caller decides its size), else without limit.
int LoadLevelFromMemory(const uint8_t* data, size_t size, Level& level,
                        LoadReport* report = nullptr, MemoryBudget* budget = nullptr,
                        unsigned keep = kEveryRawBlock, PagesWatcher* watcher = nullptr);

// Releases the raw blocks of level that keep leaves out, giving their bytes back to budget, which
// holds them as the load took them. For a caller that learns only after the load which blocks it
// reads (the depth of the texture pages is known once there is a device).
void ReleaseRawBlocks(Level& level, unsigned keep, MemoryBudget& budget);

// Parses level.levelData (levelDataSize bytes) into the level-data fields. Always 1; a parse that
// stops early keeps every field read before that point and says where it stopped in report.
int ParseLevelData(Level& level, LoadReport* report = nullptr);

}  // namespace tr4
