#pragma once
// A cursor over a buffer owned by somebody else. Reads are all-or-nothing and the first read that
// cannot be satisfied makes the reader refuse every later one (a sticky failure): a parse built on
// it stops cleanly where the data ends and never copies a byte from outside the buffer. The
// position only moves through successful reads, so it never passes the end.
#include <cstddef>
#include <cstdint>

namespace tr4 {

class MemoryReader {
  public:
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

    // The next n bytes in place, stepped over; none under the same conditions as Read refuses
    // (with the same sticky failure), so a caller never holds a pointer past the end.
    const uint8_t* Take(uint32_t n);

    // Makes the failure sticky without a read: a caller that finds a count larger than the data
    // can hold refuses the rest as a short read would.
    void Fail() { failed = true; }

    bool Failed() const { return failed; }
    uint32_t Position() const { return position; }
    uint32_t Size() const { return size; }
    uint32_t Remaining() const { return size - position; }

    // True when count elements of elementSize bytes fit in what remains; counts taken from a file
    // are checked with this before their arrays are made.
    bool Fits(uint64_t count, uint64_t elementSize) const {
        return !failed && data != nullptr && count * elementSize <= Remaining();
    }

  private:
    uint32_t size = 0;
    uint32_t position = 0;
    const uint8_t* data = nullptr;  // not owned; may be none
    bool failed = false;            // set by the first refused read
};

}  // namespace tr4
