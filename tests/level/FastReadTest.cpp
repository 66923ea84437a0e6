// The loader's fast paths: libdeflate for whole chunks, and the mapped file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "MappedFile.h"
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

TEST(MappedFile, HoldsTheFilesBytes) {
    char name[] = "/tmp/tr4-mapped-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const tr4::Bytes bytes = Pattern(70000);
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    std::string error;
    {
        tr4::MappedFile file;
        ASSERT_TRUE(file.Open(fd, bytes.size(), error)) << error;
        ASSERT_EQ(file.Size(), bytes.size());
        EXPECT_EQ(tr4::Bytes(file.Data(), file.Data() + file.Size()), bytes);
    }
    tr4::MappedFile empty;
    EXPECT_TRUE(empty.Open(fd, 0, error));
    EXPECT_EQ(empty.Size(), 0u);
    close(fd);
    std::remove(name);
}

}  // namespace
