#pragma once
// How much memory one level may cost, decided before anything is allocated for it.
//
// A level file comes from anywhere, and a few kilobytes of zlib can claim gigabytes. Every stage
// that allocates for a level (reading the file, the chunks, the parse, the decoded meshes, the
// texture pages and the render meshes) first takes what it is about to allocate from one budget
// of 64 x file size + 64 MiB; a level that would need more is refused with a one-line reason
// naming the figures. Real levels need about 1.3 x (file + decompressed chunks), far below it.
#include <cstdint>
#include <string>

namespace tr4 {

class MemoryBudget {
  public:
    static constexpr uint64_t kPerFileByte = 64;
    static constexpr uint64_t kBase = 64ull << 20;

    // No limit (tests and callers that measure nothing).
    MemoryBudget() = default;
    // The budget of a level file of fileSize bytes; less what the process holds already when it
    // counts itself (CountTheProcess).
    static MemoryBudget ForFile(uint64_t fileSize);

    // From now on, each budget made by ForFile leaves out what the process is resident with at
    // that moment (its code, libraries and heap before the level), so that the peak of the whole
    // process stays within 64 x file size + 64 MiB, as tr4tool promises. Off by default: the
    // viewer holds its current level while it opens the next, and the tests and fuzzers measure
    // levels, not processes.
    static void CountTheProcess(bool on);
    // The process's resident bytes now (/proc/self/statm); 0 where that cannot be read.
    static uint64_t ProcessResidentBytes();

    // Takes bytes for what (a short noun: "the level data", "the render meshes"). When that would
    // pass the limit, takes nothing, sets error to the one-line reason and returns false.
    bool Take(uint64_t bytes, const char* what, std::string& error);
    // Gives back bytes taken before (never below zero).
    void Give(uint64_t bytes);

    uint64_t Limit() const { return limit; }
    uint64_t Used() const { return used; }
    uint64_t FileSize() const { return fileSize; }
    // The largest amount taken at any one time.
    uint64_t Peak() const { return peak; }
    // What the process held when the budget was made, left out of it (0 when not counted).
    uint64_t ProcessBytes() const { return processBytes; }

  private:
    uint64_t limit = UINT64_MAX;
    uint64_t fileSize = 0;
    uint64_t processBytes = 0;
    uint64_t used = 0;
    uint64_t peak = 0;
};

}  // namespace tr4
