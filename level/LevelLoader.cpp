#include "LevelLoader.h"

#include <sys/stat.h>
#include <zlib.h>

#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "MemoryReader.h"

static_assert(std::endian::native == std::endian::little,
              "level fields are copied straight from little-endian files");

namespace tr4 {
namespace {

std::string Format(const char* fmt, auto... args) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, fmt, args...);
    return buffer;
}

struct ChunkFields {
    const char* name;
    uint32_t Level::*size;
    uint32_t Level::*packedSize;
    Bytes Level::*buffer;
};

constexpr ChunkFields kChunks[4] = {
    {"pages32", &Level::pages32Size, &Level::pages32PackedSize, &Level::pages32},
    {"pages16", &Level::pages16Size, &Level::pages16PackedSize, &Level::pages16},
    {"miscPages", &Level::miscPagesSize, &Level::miscPagesPackedSize, &Level::miscPages},
    {"levelData", &Level::levelDataSize, &Level::levelDataPackedSize, &Level::levelData},
};

// Reads one chunk. Returns false when the file cannot hold the chunk at all (its header or its
// compressed bytes are cut off), which ends the container. A chunk whose stream is damaged or whose
// stated size is implausible is left empty and only reported; the caller decides how bad that is.
bool ReadChunk(MemoryReader& file, Level& level, const ChunkFields& chunk, int number,
               std::string& problem) {
    uint32_t& size = level.*chunk.size;
    uint32_t& packedSize = level.*chunk.packedSize;
    Bytes& buffer = level.*chunk.buffer;
    const uint32_t headerAt = file.position;
    if (!file.Read(&size, 4) || !file.Read(&packedSize, 4)) {
        problem = Format("file ends inside the header of chunk %d (%s) at byte %u of %u", number,
                         chunk.name, headerAt, file.size);
        size = packedSize = 0;
        return false;
    }
    const uint32_t streamAt = file.position;
    if (!file.Fits(packedSize, 1)) {
        problem =
            Format("chunk %d (%s) states %u compressed bytes at byte %u, but only %u of %u remain",
                   number, chunk.name, packedSize, streamAt, file.Remaining(), file.size);
        file.failed = true;
        size = 0;
        return false;
    }
    const uint8_t* stream = file.data + streamAt;
    file.position += packedSize;

    const uint32_t stated = size;
    size = 0;
    if (stated == 0) return true;  // nothing to decompress; an empty level data is refused later
    if (stated > kMaxChunkSize || stated > uint64_t(packedSize) * kMaxZlibExpansion + 64) {
        problem = Format(
            "chunk %d (%s) states %u uncompressed bytes from %u compressed, which no zlib "
            "stream can give; left empty",
            number, chunk.name, stated, packedSize);
        return true;
    }
    buffer.resize(stated);
    uLongf produced = stated;
    const int z = uncompress(buffer.data(), &produced, stream, packedSize);
    if (z != Z_OK) {
        problem = Format("chunk %d (%s) does not decompress (zlib error %d: %s); left empty",
                         number, chunk.name, z, zError(z));
        Bytes().swap(buffer);
        return true;
    }
    buffer.resize(produced);
    size = static_cast<uint32_t>(produced);
    return true;
}

}  // namespace

int LoadLevelFromMemory(const uint8_t* data, size_t fileSize, Level& level, LoadReport* report) {
    LoadReport local;
    LoadReport& out = report ? *report : local;
    out = LoadReport{};
    level = Level{};

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

    for (int i = 0; i < 4; ++i) {
        std::string problem;
        const bool present = ReadChunk(file, level, kChunks[i], i + 1, problem);
        if (problem.empty()) continue;
        const bool isLevelData = i == 3;
        if (!present || isLevelData) {
            // Without its level data the file is not a level we can show anything of.
            out.error = problem;
            return 1;
        }
        out.warnings.push_back(problem);
    }
    if (level.levelDataSize == 0) {
        out.error = "the level data chunk is empty";
        return 1;
    }

    if (!file.Read(&level.sampleCount, 4)) {
        out.warnings.push_back(
            Format("file ends before sampleCount at byte %u of %u", file.position, file.size));
    } else if (file.Remaining() > 0) {
        level.sampleData.assign(file.data + file.position, file.data + file.size);
    }

    ParseLevelData(level, &out);
    return 1;
}

int LoadLevelFile(const char* path, Level& level, LoadReport* report) {
    LoadReport local;
    LoadReport& out = report ? *report : local;
    out = LoadReport{};

    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path, "rb"), &std::fclose);
    if (!file) {
        out.error = Format("cannot open: %s", std::strerror(errno));
        return 0;
    }
    struct stat info {};
    if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
        out.error = S_ISDIR(info.st_mode) ? "cannot open: it is a directory"
                                          : "cannot open: not a regular file";
        return 0;
    }
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (size > kMaxFileSize) {
        level = Level{};
        out.error = Format("%llu bytes is far larger than any level",
                           static_cast<unsigned long long>(size));
        return 1;
    }
    Bytes bytes(size);
    if (size != 0 && std::fread(bytes.data(), 1, size, file.get()) != size) {
        out.error = Format("cannot read: %s", std::strerror(errno));
        return 0;
    }
    file.reset();
    return LoadLevelFromMemory(bytes.data(), bytes.size(), level, &out);
}

}  // namespace tr4
