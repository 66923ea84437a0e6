#pragma once
// A cursor over a buffer owned by somebody else. Reads are all-or-nothing and the first read that
// cannot be satisfied makes the reader refuse every later one (a sticky failure): a parse built on
// it stops cleanly where the data ends and never copies a byte from outside the buffer.
#include <cstddef>
#include <cstdint>

namespace tr4 {

struct MemoryReader {
    uint32_t size = 0;
    uint32_t position = 0;
    const uint8_t* data = nullptr;  // not owned; may be none
    bool failed = false;            // set by the first refused read

    void Init(uint32_t newSize, const uint8_t* newData) {
        size = newSize;
        data = newData;
        position = 0;
        failed = false;
    }

    // Copies the next n bytes to destination and advances: 1. Refuses with 0, leaving destination
    // and position untouched, when there is no buffer, when an earlier read failed, or when fewer
    // than n bytes remain. A refusal for lack of bytes makes the failure sticky.
    int Read(void* destination, uint32_t n);

    uint32_t Remaining() const { return position <= size ? size - position : 0; }

    // True when count elements of elementSize bytes fit in what remains; counts taken from a file
    // are checked with this before their arrays are made.
    bool Fits(uint64_t count, uint64_t elementSize) const {
        return !failed && data != nullptr && count * elementSize <= Remaining();
    }
};

}  // namespace tr4
