#include <gtest/gtest.h>

#include "MemoryReader.h"

namespace {

TEST(MemoryReader, ReadsInOrderAndAllowsEmptyReadsUpToTheEnd) {
    const uint8_t data[] = {1, 2, 3, 4, 5};
    tr4::MemoryReader r;
    r.Init(sizeof data, data);
    uint16_t word = 0;
    ASSERT_EQ(r.Read(&word, 2), 1);
    EXPECT_EQ(word, 0x0201);
    uint8_t rest[3] = {};
    ASSERT_EQ(r.Read(rest, 3), 1);
    EXPECT_EQ(rest[2], 5);
    EXPECT_EQ(r.Position(), 5u);
    EXPECT_EQ(r.Read(nullptr, 0), 1) << "a read of 0 bytes at the end succeeds";
    EXPECT_EQ(r.Position(), 5u);
}

TEST(MemoryReader, WithoutBufferRefusesEveryRead) {
    tr4::MemoryReader r;
    r.Init(10, nullptr);
    uint8_t b = 7;
    EXPECT_EQ(r.Read(&b, 1), 0);
    EXPECT_EQ(r.Read(&b, 0), 0);
    EXPECT_EQ(b, 7);
    EXPECT_EQ(r.Position(), 0u);
}

TEST(MemoryReader, ShortReadCopiesNothingAndEveryLaterReadIsRefused) {
    const uint8_t data[] = {1, 2, 3};
    tr4::MemoryReader r;
    r.Init(sizeof data, data);
    uint8_t first = 0;
    ASSERT_EQ(r.Read(&first, 1), 1);
    uint32_t big = 0xDEADBEEF;
    EXPECT_EQ(r.Read(&big, 4), 0);
    EXPECT_EQ(big, 0xDEADBEEFu) << "destination untouched";
    EXPECT_EQ(r.Position(), 1u) << "position untouched";
    EXPECT_TRUE(r.Failed());
    uint8_t small = 9;
    EXPECT_EQ(r.Read(&small, 1), 0) << "the failure is sticky, even for reads that would fit";
    EXPECT_EQ(r.Read(&small, 0), 0);
    EXPECT_EQ(small, 9);
}

TEST(MemoryReader, AHugeLengthRefusesWithoutWrappingTheBoundsCheck) {
    const uint8_t data[] = {1, 2, 3};
    tr4::MemoryReader r;
    r.Init(sizeof data, data);
    uint8_t b = 0;
    ASSERT_EQ(r.Read(&b, 1), 1);
    EXPECT_EQ(r.Read(&b, 0xFFFFFFFFu), 0);
    EXPECT_EQ(r.Position(), 1u);
    EXPECT_EQ(r.Take(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(r.Remaining(), 2u);
}

TEST(MemoryReader, TakeStepsOverBytesInPlaceAndFailsAsReadDoes) {
    const uint8_t data[] = {1, 2, 3, 4};
    tr4::MemoryReader r;
    r.Init(sizeof data, data);
    EXPECT_EQ(r.Take(3), data) << "the bytes in place, not a copy";
    EXPECT_EQ(r.Take(1), data + 3);
    EXPECT_EQ(r.Take(0), data + 4) << "an empty step at the end";
    EXPECT_EQ(r.Take(1), nullptr);
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.Take(0), nullptr) << "sticky";
    EXPECT_EQ(r.Position(), 4u);

    // A failure declared by the caller (a count larger than the data) is as sticky.
    r.Init(sizeof data, data);
    EXPECT_FALSE(r.Failed()) << "Init starts afresh";
    r.Fail();
    uint8_t b = 9;
    EXPECT_EQ(r.Read(&b, 1), 0);
    EXPECT_EQ(b, 9);
    EXPECT_FALSE(r.Fits(1, 1));
    EXPECT_EQ(r.Position(), 0u);
}

TEST(MemoryReader, FitsChecksCountTimesSizeWithoutOverflow) {
    const uint8_t data[16] = {};
    tr4::MemoryReader r;
    r.Init(sizeof data, data);
    EXPECT_TRUE(r.Fits(4, 4));
    EXPECT_FALSE(r.Fits(5, 4));
    EXPECT_FALSE(r.Fits(0xFFFFFFFFull, 0xFFFFFFFFull));
}

}  // namespace
