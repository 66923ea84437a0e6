// The loader's fast paths: libdeflate for whole chunks, and the file read whole; a file that
// changes while it is read is refused, not trusted and not a crash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "FileBytes.h"
#include "LevelWriter.h"
#include "LoadLevel.h"
#include "Prefault.h"
#include "WholeInflate.h"

namespace {

tr4::Bytes Pattern(size_t n) {
    tr4::Bytes bytes(n);
    for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>((i * 7) ^ (i >> 5));
    return bytes;
}

tr4::Bytes Zlib(const tr4::Bytes& payload) {
    uLongf size = compressBound(payload.size());
    tr4::Bytes stream(size);
    compress(stream.data(), &size, payload.data(), payload.size());
    stream.resize(size);
    return stream;
}

TEST(WholeInflate, TakesOnlyAStreamThatEndsCleanlyWithinItsStatedSize) {
    const tr4::Bytes payload = Pattern(100000);
    tr4::Bytes stream = Zlib(payload);
    const auto packed = static_cast<uint32_t>(stream.size());
    tr4::Bytes out;

    ASSERT_TRUE(tr4::InflateWhole(stream.data(), packed, 100000, out));
    EXPECT_EQ(out, payload);
    // A stated size larger than the stream gives: the bytes there are, no more.
    ASSERT_TRUE(tr4::InflateWhole(stream.data(), packed, 150000, out));
    EXPECT_EQ(out, payload);
    // Bytes after the stream's end are not its business, as with zlib's uncompress.
    tr4::Bytes trailing = stream;
    trailing.insert(trailing.end(), {1, 2, 3, 4});
    ASSERT_TRUE(tr4::InflateWhole(trailing.data(), packed + 4, 100000, out));
    EXPECT_EQ(out, payload);

    // Left to zlib: a stream holding more than stated, a damaged one, a cut one.
    EXPECT_FALSE(tr4::InflateWhole(stream.data(), packed, 99999, out));
    EXPECT_TRUE(out.empty());
    tr4::Bytes damaged = stream;
    damaged[damaged.size() - 1] ^= 0xFF;  // the checksum
    EXPECT_FALSE(tr4::InflateWhole(damaged.data(), packed, 100000, out));
    EXPECT_FALSE(tr4::InflateWhole(stream.data(), packed / 2, 100000, out));
    EXPECT_TRUE(out.empty());
}

// A temporary file of the given bytes, removed with the object.
struct TempFile {
    explicit TempFile(const tr4::Bytes& bytes) {
        char name[] = "/tmp/tr4-read-XXXXXX";
        const int fd = mkstemp(name);
        path = name;
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    ~TempFile() { std::remove(path.c_str()); }
    std::string path;
};

// What an editor saving the file does at the worst moment, as the read hook. The reader's own
// descriptor is read-only: the file is opened again for writing, as the editor has it.
struct Writable {
    explicit Writable(int fd) : fd(open(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDWR)) {
        EXPECT_GE(this->fd, 0);
    }
    ~Writable() { close(fd); }
    int fd;
};
void CutToHalf(int fd) {
    Writable w(fd);
    struct stat s {};
    fstat(w.fd, &s);
    EXPECT_EQ(ftruncate(w.fd, s.st_size / 2), 0);
}
void CutToNothing(int fd) {
    Writable w(fd);
    EXPECT_EQ(ftruncate(w.fd, 0), 0);
}
void Append(int fd) {
    Writable w(fd);
    struct stat s {};
    fstat(w.fd, &s);
    const uint8_t more[3] = {1, 2, 3};
    EXPECT_EQ(pwrite(w.fd, more, 3, s.st_size), 3);
}
void RewriteInPlace(int fd) {
    Writable w(fd);
    const uint8_t byte = 0x5A;
    EXPECT_EQ(pwrite(w.fd, &byte, 1, 100), 1);
    // The same size, a later time: as a save a little after the size was taken.
    const timespec later[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 5, 0}};
    EXPECT_EQ(futimens(w.fd, later), 0);
}

struct Hook {
    explicit Hook(void (*hook)(int)) { tr4::SetFileReadHook(hook); }
    ~Hook() { tr4::SetFileReadHook(nullptr); }
};

// Opens the file as the loader does, reads every byte of it (into sum), and says whether it
// changed meanwhile.
struct Read {
    bool opened = false;
    bool changed = false;
    std::string error;
    tr4::Bytes bytes;
};
Read ReadWhole(const std::string& path) {
    Read r;
    const int fd = open(path.c_str(), O_RDONLY);
    struct stat taken {};
    EXPECT_EQ(fstat(fd, &taken), 0);
    {
        tr4::FileBytes file;
        r.opened = file.Open(fd, taken, r.error);
        if (r.opened) {
            // Every page touched, as the decoder would: a lost one must not end the process.
            r.bytes.assign(file.Data(), file.Data() + file.Size());
            r.changed = file.Changed(r.error);
        }
    }
    close(fd);
    return r;
}

TEST(FileBytes, HoldsTheFilesBytesOrSaysItChangedWhileRead) {
    const tr4::Bytes bytes = Pattern(70000);
    {
        TempFile temp(bytes);
        const Read r = ReadWhole(temp.path);
        ASSERT_TRUE(r.opened) << r.error;
        EXPECT_FALSE(r.changed);
        EXPECT_EQ(r.bytes, bytes);
    }
    {
        TempFile temp(tr4::Bytes{});
        const Read r = ReadWhole(temp.path);
        EXPECT_TRUE(r.opened) << r.error;
        EXPECT_FALSE(r.changed);
        EXPECT_TRUE(r.bytes.empty());
    }
    for (void (*change)(int) : {CutToHalf, CutToNothing, Append, RewriteInPlace}) {
        TempFile temp(bytes);
        Hook hook(change);
        const Read r = ReadWhole(temp.path);
        ASSERT_TRUE(r.opened) << r.error;
        EXPECT_TRUE(r.changed);
        EXPECT_EQ(r.error, tr4::kFileChanged);
        ASSERT_EQ(r.bytes.size(), bytes.size());
        if (change == CutToNothing) {
            // The pages the file lost read as zeros.
            EXPECT_EQ(r.bytes, tr4::Bytes(bytes.size(), 0));
        }
    }
}

TEST(LoadLevel, ALevelCutShortWhileReadIsRefusedWithItsReason) {
    const tr4::Bytes level = tr4test::BuildLevelFile(tr4test::DemoLevel());
    TempFile temp(level);
    tr4::LoadedLevel loaded;
    ASSERT_TRUE(tr4::LoadLevel(temp.path, loaded)) << loaded.error;
    for (void (*change)(int) : {CutToHalf, CutToNothing, RewriteInPlace}) {
        tr4test::WriteFile(temp.path, level);
        Hook hook(change);
        EXPECT_FALSE(tr4::LoadLevel(temp.path, loaded));
        EXPECT_EQ(loaded.error, "the file changed while it was read");
        EXPECT_EQ(loaded.level, nullptr);
        EXPECT_EQ(loaded.meshes, nullptr);
        EXPECT_EQ(loaded.budget.Used(), 0u);
    }
}

}  // namespace

// Fresh memory is faulted in for exactly the whole pages within the range asked for, and reads
// back as the zeros it holds: the pages either side, shared with whatever lies there, are left.
TEST(Prefault, FaultsInTheWholePagesOfTheRangeAndNothingElse) {
    constexpr size_t pages = 16;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* map =
        mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(map, MAP_FAILED);
    auto* at = static_cast<uint8_t*>(map);
    auto resident = [&] {
        unsigned char in[pages];
        EXPECT_EQ(mincore(map, pages * page, in), 0);
        std::string s;
        for (unsigned char c : in) s += (c & 1) ? 'R' : '-';
        return s;
    };
    ASSERT_EQ(resident(), std::string(pages, '-'));
    void* probe = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(probe, MAP_FAILED);
    const bool canPrefault = madvise(probe, page, MADV_POPULATE_WRITE) == 0;
    munmap(probe, page);
    if (!canPrefault) {
        munmap(map, pages * page);
        GTEST_SKIP() << "the kernel cannot fault pages in ahead (before Linux 5.14)";
    }
    tr4::PrefaultForWrite(at + 100, 3);  // within one page: nothing
    tr4::PrefaultForWrite(at + page / 2, 10 * page);
    EXPECT_EQ(resident(), "-RRRRRRRRR------");
    for (size_t i = 0; i < pages * page; ++i) ASSERT_EQ(at[i], 0) << i;
    munmap(map, pages * page);
}
