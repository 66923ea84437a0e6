#include "LevelLoader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "FileBytes.h"
#include "Format.h"
#include "MemoryReader.h"
#include "WholeInflate.h"

static_assert(std::endian::native == std::endian::little,
              "level fields are copied straight from little-endian files");

namespace tr4 {
namespace {

struct ChunkFields {
    const char* name;
    uint32_t Level::*size;
    uint32_t Level::*packedSize;
    Bytes Level::*buffer;
    RawBlocks block;
};

constexpr ChunkFields kChunks[4] = {
    {"pages32", &Level::pages32Size, &Level::pages32PackedSize, &Level::pages32, kPages32Block},
    {"pages16", &Level::pages16Size, &Level::pages16PackedSize, &Level::pages16, kPages16Block},
    {"miscPages", &Level::miscPagesSize, &Level::miscPagesPackedSize, &Level::miscPages,
     kMiscPagesBlock},
    {"levelData", &Level::levelDataSize, &Level::levelDataPackedSize, &Level::levelData,
     kLevelDataBlock},
};

constexpr struct {
    Bytes Level::*buffer;
    RawBlocks block;
} kRawBlocks[] = {
    {&Level::pages32, kPages32Block},       {&Level::pages16, kPages16Block},
    {&Level::miscPages, kMiscPagesBlock},   {&Level::levelData, kLevelDataBlock},
    {&Level::sampleData, kSampleDataBlock},
};

// Decompresses one zlib stream into buffer, the stated size bounding the output. The buffer grows
// with what the stream really gives (a stated size is a claim, not an allocation), each growth
// taken from the budget first. Returns the zlib result: Z_STREAM_END when the stream ended within
// the stated size; Z_BUF_ERROR with the stated bytes kept when the stream gives more than stated;
// anything else for a damaged stream, with the bytes produced so far kept. A budget refusal
// returns Z_MEM_ERROR with budgetError set.
int Inflate(const uint8_t* stream, uint32_t packedSize, uint32_t stated, Bytes& buffer,
            MemoryBudget& budget, const char* what, std::string& budgetError) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) throw std::bad_alloc();
    struct End {
        z_stream& z;
        ~End() { inflateEnd(&z); }
    } end{z};
    z.next_in = const_cast<Bytef*>(stream);
    z.avail_in = packedSize;

    // Start at the compressed size; once part of the stream is read, its ratio tells how large
    // the whole will be, so a chunk is mostly made in one or two steps.
    uint64_t capacity = std::min<uint64_t>(stated, std::max<uint64_t>(packedSize, 1u << 16));
    uint64_t taken = 0;  // what the budget holds for buffer
    size_t produced = 0;
    int result = Z_OK;
    for (;;) {
        if (buffer.size() < capacity) {
            // While the bytes move, the old and the new block are both held.
            if (!budget.Take(capacity, what, budgetError)) {
                budget.Give(taken);
                buffer = Bytes();
                return Z_MEM_ERROR;
            }
            Bytes grown(capacity);
            if (produced != 0) std::memcpy(grown.data(), buffer.data(), produced);
            buffer.swap(grown);
            grown = Bytes();
            budget.Give(taken);
            taken = capacity;
        }
        z.next_out = buffer.data() + produced;
        z.avail_out = static_cast<uInt>(capacity - produced);
        result = inflate(&z, Z_NO_FLUSH);
        produced = capacity - z.avail_out;
        if (result == Z_STREAM_END) break;
        if (result != Z_OK && result != Z_BUF_ERROR) break;
        if (z.avail_out != 0) {
            result = Z_DATA_ERROR;  // the input ran out before the stream's end
            break;
        }
        if (capacity == stated) {
            // The stated size is reached. Either only the checksum remains, or the stream holds
            // more than stated: look with one byte of room.
            uint8_t probe = 0;
            z.next_out = &probe;
            z.avail_out = 1;
            result = inflate(&z, Z_NO_FLUSH);
            if (result == Z_STREAM_END && z.avail_out == 1) break;
            result = z.avail_out == 0 ? Z_BUF_ERROR : Z_DATA_ERROR;
            break;
        }
        const uint64_t consumed = std::max<uint64_t>(z.total_in, 1);
        const uint64_t estimate = produced * uint64_t{packedSize} / consumed / 8 * 9;
        capacity = std::min<uint64_t>(stated, std::max(capacity + capacity / 4, estimate));
    }
    if (buffer.size() - produced <= buffer.size() / 8) {
        buffer.resize(produced);  // a little slack is cheaper than a copy; the budget keeps it
    } else {
        if (!budget.Take(produced, what, budgetError)) {
            budget.Give(taken);
            buffer = Bytes();
            return Z_MEM_ERROR;
        }
        Bytes exact(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(produced));
        buffer.swap(exact);
        budget.Give(taken);
    }
    return result;
}

// Reads one chunk. Returns false when the file cannot hold the chunk at all (its header or its
// compressed bytes are cut off) or when the chunk would pass the memory budget (fatal set): that
// ends the load. A chunk whose stream is damaged or whose stated size is implausible is left empty
// and only reported; the caller decides how bad that is.
bool ReadChunk(MemoryReader& file, Level& level, const ChunkFields& chunk, int number,
               MemoryBudget& budget, std::string& problem, bool& fatal) {
    uint32_t& size = level.*chunk.size;
    uint32_t& packedSize = level.*chunk.packedSize;
    Bytes& buffer = level.*chunk.buffer;
    const uint32_t headerAt = file.Position();
    if (!file.Read(&size, 4) || !file.Read(&packedSize, 4)) {
        problem = Format("file ends inside the header of chunk %d (%s) at byte %u of %u", number,
                         chunk.name, headerAt, file.Size());
        size = packedSize = 0;
        return false;
    }
    const uint32_t streamAt = file.Position();
    const uint32_t remaining = file.Remaining();
    const uint8_t* stream = file.Take(packedSize);
    if (stream == nullptr) {
        problem =
            Format("chunk %d (%s) states %u compressed bytes at byte %u, but only %u of %u remain",
                   number, chunk.name, packedSize, streamAt, remaining, file.Size());
        size = 0;
        return false;
    }

    const uint32_t stated = size;
    size = 0;
    if (stated == 0) return true;  // nothing to decompress; an empty level data is refused later
    if (stated > uint64_t(packedSize) * kMaxZlibExpansion + 64) {
        problem = Format(
            "chunk %d (%s) states %u uncompressed bytes from %u compressed, more than any zlib "
            "stream can give (about 1032 : 1); left empty",
            number, chunk.name, stated, packedSize);
        return true;
    }
    std::string budgetError;
    const std::string what = Format("chunk %d (%s)", number, chunk.name);
    // The fast way first, where the stated size is a plausible one for the stream: libdeflate in
    // one call into room for the stated size. A stream it does not finish cleanly, or room the
    // budget will not give, goes the careful way below, as if the fast one had not been tried.
    if (stated <= uint64_t(packedSize) * kWholeInflateRatio + 64 &&
        budget.Take(stated, what.c_str(), budgetError)) {
        if (InflateWhole(stream, packedSize, stated, buffer)) {
            size = static_cast<uint32_t>(buffer.size());
            if (buffer.size() < stated - stated / 8) {
                // Much less than stated: keep only what the stream gave.
                Bytes exact(buffer);
                buffer.swap(exact);
                budget.Give(stated - buffer.size());
            } else {
                budget.Give(stated - buffer.capacity());
            }
            return true;
        }
        budget.Give(stated);
    }
    budgetError.clear();
    const int z = Inflate(stream, packedSize, stated, buffer, budget, what.c_str(), budgetError);
    if (z == Z_MEM_ERROR && !budgetError.empty()) {
        problem = budgetError;
        fatal = true;
        return false;
    }
    if (z == Z_BUF_ERROR) {
        problem = Format(
            "chunk %d (%s) states %u uncompressed bytes, but its stream holds more; the first %u "
            "are kept",
            number, chunk.name, stated, stated);
    } else if (z != Z_STREAM_END) {
        problem = Format("chunk %d (%s) does not decompress (zlib error %d: %s); left empty",
                         number, chunk.name, z, zError(z));
        budget.Give(buffer.capacity());
        Bytes().swap(buffer);
        return true;
    }
    size = static_cast<uint32_t>(buffer.size());
    return true;
}

// Chunks 2 to 4 read on a thread of their own while the 32-bit pages are decompressed on the
// caller's: the second core is idle until those are in, and a caller that keeps no 16-bit pages
// (the export) has them decompressed only to be measured and checked, a quarter of the load.
// Each chunk is taken up in its turn, after the 32-bit pages, as if read then: its fields move
// into the level and what the budget would hold of it is taken, its warning or error follows the
// ones before, and a load that stops earlier drops what was read ahead. Only where the budget
// holds every chunk at its worst at once, so that nothing the budget refuses depends on the
// order; the thread spends from what is taken for it ahead, given back once it is done.
class ChunksAside {
  public:
    ChunksAside(Level& level, MemoryBudget& budget, unsigned keep)
        : level(level), budget(budget), keep(keep) {}
    ~ChunksAside() { Join(); }

    // Starts reading chunks 2 to 4 while file stands before chunk 1. False (nothing taken) when
    // they are read in turn instead.
    bool Start(const MemoryReader& file) {
        // Stated and compressed sizes of every chunk, where the file has them all.
        MemoryReader ahead = file;
        uint64_t worst = 0;
        for (int c = 0; c < 4; ++c) {
            uint32_t sizes[2];
            if (!ahead.Read(sizes, 8) || ahead.Take(sizes[1]) == nullptr) return false;
            // The careful way holds a chunk twice while it grows, and the thread's copy is held
            // once more while it is taken up; the parse takes the level data's size and a
            // quarter, and at most 65,535 rooms.
            worst += 4 * uint64_t{sizes[0]};
            if (c > 0) reserved += 2 * uint64_t{sizes[0]};
        }
        worst += 65535ull * sizeof(RoomRecord) + file.Size();
        if (worst > budget.Limit() - budget.Used()) return false;
        MemoryReader at = file;
        uint32_t skipped[2];
        at.Read(skipped, 8);
        at.Take(skipped[1]);
        std::string ignored;
        budget.Take(reserved, "the chunks read ahead", ignored);
        try {
            thread = std::thread([this, at]() mutable {
                try {
                    for (int i = 1; i < 4; ++i) {
                        MemoryBudget unlimited;
                        Read& r = read[i];
                        failedAt = i;
                        r.present =
                            ReadChunk(at, side, kChunks[i], i + 1, unlimited, r.problem, r.fatal);
                        // A page chunk nobody keeps goes at once, as it would in turn.
                        if (i < 3 && !(keep & kChunks[i].block))
                            Bytes().swap(side.*kChunks[i].buffer);
                        if (!r.present || r.fatal) break;
                    }
                } catch (...) {
                    failure = std::current_exception();
                }
            });
        } catch (const std::system_error&) {
            budget.Give(reserved);
            reserved = 0;
            return false;
        }
        return true;
    }

    // Chunk i's turn (1 to 3): file steps over it (the thread found it all there) and the chunk
    // is taken up as ReadChunk would have read it; rethrows what reading it threw.
    bool TakeUp(int i, MemoryReader& file, std::string& problem, bool& fatal) {
        Join();
        if (failure && failedAt == i) std::rethrow_exception(failure);
        uint32_t sizes[2];
        file.Read(sizes, 8);
        file.Take(sizes[1]);
        const ChunkFields& chunk = kChunks[i];
        level.*chunk.size = side.*chunk.size;
        level.*chunk.packedSize = side.*chunk.packedSize;
        level.*chunk.buffer = std::move(side.*chunk.buffer);
        std::string ignored;
        budget.Take((level.*chunk.buffer).capacity(), chunk.name, ignored);
        problem = std::move(read[i].problem);
        fatal = read[i].fatal;
        return read[i].present;
    }

  private:
    void Join() {
        if (!thread.joinable()) return;
        thread.join();
        budget.Give(reserved);
    }

    struct Read {
        bool present = false, fatal = false;
        std::string problem;
    };
    Level& level;
    MemoryBudget& budget;
    const unsigned keep;
    Level side;
    Read read[4];
    std::exception_ptr failure;
    int failedAt = 0;  // the chunk being read when failure was thrown
    uint64_t reserved = 0;
    std::thread thread;
};

}  // namespace

void ReleaseRawBlocks(Level& level, unsigned keep, MemoryBudget& budget) {
    for (const auto& raw : kRawBlocks) {
        if ((keep & raw.block) != 0) continue;
        Bytes& buffer = level.*raw.buffer;
        budget.Give(buffer.capacity());
        Bytes().swap(buffer);
    }
}

int LoadLevelFromMemory(const uint8_t* data, size_t fileSize, Level& level, LoadReport* report,
                        MemoryBudget* budget, unsigned keep, PagesWatcher* watcher) {
    LoadReport local;
    LoadReport& out = report ? *report : local;
    out = LoadReport{};
    level = Level{};
    MemoryBudget unlimited;
    MemoryBudget& spend = budget ? *budget : unlimited;

    if (fileSize > kMaxFileSize) {
        out.error = Format("%zu bytes is far larger than any level", fileSize);
        return 1;
    }
    MemoryReader file;
    file.Init(static_cast<uint32_t>(fileSize), data);

    if (!file.Read(&level.version, 4) || !file.Read(&level.roomPageCount, 2) ||
        !file.Read(&level.objectPageCount, 2) || !file.Read(&level.bumpPageCount, 2)) {
        out.error =
            Format("no level header: the file holds %zu bytes, a header needs 10", fileSize);
        return 1;
    }

    ChunksAside ahead(level, spend, keep);
    const bool aside = watcher && !(keep & kPages16Block) && ahead.Start(file);
    for (int i = 0; i < 4; ++i) {
        std::string problem;
        bool fatal = false;
        const bool present = aside && i > 0
                                 ? ahead.TakeUp(i, file, problem, fatal)
                                 : ReadChunk(file, level, kChunks[i], i + 1, spend, problem, fatal);
        // A page chunk nobody reads goes at once, before the next is made; the level data
        // after the parse.
        if (i < 3) ReleaseRawBlocks(level, keep | ~unsigned{kChunks[i].block}, spend);
        if (i == 0 && watcher && present && !fatal && (keep & kPages32Block) &&
            !level.pages32.empty())
            watcher->Ready(level);
        if (problem.empty()) continue;
        const bool isLevelData = i == 3;
        // Without its level data the file is not a level we can show anything of; kept bytes of
        // an understated level data are parsed all the same.
        if (!present || fatal || (isLevelData && level.levelDataSize == 0)) {
            out.error = problem;
            return 1;
        }
        out.Warn(problem);
    }
    if (level.levelDataSize == 0) {
        out.error = "the level data chunk is empty";
        return 1;
    }

    if (!file.Read(&level.sampleCount, 4)) {
        out.Warn(
            Format("file ends before sampleCount at byte %u of %u", file.Position(), file.Size()));
    } else if (const uint32_t rest = file.Remaining(); rest > 0 && (keep & kSampleDataBlock)) {
        std::string problem;
        if (!spend.Take(rest, "the sample data", problem)) {
            out.error = problem;
            return 1;
        }
        const uint8_t* samples = file.Take(rest);
        level.sampleData.assign(samples, samples + rest);
    }

    // The parse copies each array out of the level data, a little more than its bytes in all; a
    // room record takes more than its bytes in the file.
    std::string problem;
    uint16_t roomCount = 0;
    if (level.levelDataSize >= 6) std::memcpy(&roomCount, level.levelData.data() + 4, 2);
    if (!spend.Take(uint64_t{level.levelDataSize} + level.levelDataSize / 4 +
                        uint64_t{roomCount} * sizeof(RoomRecord),
                    "the parsed level data", problem)) {
        out.error = problem;
        return 1;
    }
    ParseLevelData(level, &out);
    ReleaseRawBlocks(level, keep, spend);
    return 1;
}

int LoadLevelFile(const char* path, Level& level, LoadReport* report, MemoryBudget* budget,
                  unsigned keep, PagesWatcher* watcher) {
    LoadReport local;
    LoadReport& out = report ? *report : local;
    out = LoadReport{};

    // Opened without blocking, so a FIFO or a device cannot hold the caller until someone writes
    // to it; only then is it checked to be a regular file.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        out.error = Format("cannot open: %s", std::strerror(errno));
        return 0;
    }
    std::unique_ptr<FILE, int (*)(FILE*)> file(fdopen(fd, "rb"), &std::fclose);
    if (!file) {
        out.error = Format("cannot open: %s", std::strerror(errno));
        close(fd);
        return 0;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        out.error = Format("cannot open: %s", std::strerror(errno));
        return 0;
    }
    if (!S_ISREG(info.st_mode)) {
        out.error = S_ISDIR(info.st_mode) ? "cannot open: it is a directory"
                    : S_ISFIFO(info.st_mode)
                        ? "cannot open: it is a pipe (FIFO), not a regular file"
                        : "cannot open: it is a device or socket, not a regular file";
        return 0;
    }
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > kMaxFileSize) {
        level = Level{};
        out.error = Format("%llu bytes is far larger than any level",
                           static_cast<unsigned long long>(size));
        return 1;
    }
    MemoryBudget forFile = MemoryBudget::ForFile(size);
    MemoryBudget& spend = budget ? *budget : forFile;
    if (budget) *budget = forFile;
    std::string problem;
    if (!spend.Take(size, "the file's bytes", problem)) {
        level = Level{};
        out.error = problem;
        return 1;
    }
    // Mapped rather than copied (FileBytes.h): neither fresh pages nor a copy of the bytes. The
    // file stays open while its bytes are used, to see whether it changed meanwhile.
    FileBytes bytes;
    std::string readError;
    if (!bytes.Open(fd, info, readError)) {
        spend.Give(size);
        out.error = readError;
        return 0;
    }
    LoadLevelFromMemory(bytes.Data(), bytes.Size(), level, &out, &spend, keep, watcher);
    spend.Give(size);  // the file's bytes go here
    if (bytes.Changed(problem)) {
        // Saved by someone else meanwhile: what was read may mix the old and the new file.
        level = Level{};
        out = LoadReport{};
        out.error = problem;
    }
    return 1;
}

}  // namespace tr4
