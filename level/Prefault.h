#pragma once
// Fresh memory faulted in ahead of the writes that fill it. Each page of new memory otherwise
// costs a fault of its own at its first write, and on the virtual machines these tools run on a
// fault costs about 10 microseconds, more than filling the page does: a level's load and export
// spent a third of their time there. Asking the kernel for the pages of a range in one call
// halves that. Only for memory about to be written whole: a page faulted in is resident.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tr4 {

// Faults in, for writing, the whole pages within [at, at + n). Does nothing where the kernel
// cannot (before Linux 5.14): the writes fault the pages in as before.
void PrefaultForWrite(void* at, size_t n);

// Sizes bytes to n for writing over: when that needs more room, the old bytes are dropped and the
// new room (with slack bytes more, for readers that look past the end) is faulted in at once.
void ResizeForWrite(std::vector<uint8_t>& bytes, size_t n, size_t slack = 0);

}  // namespace tr4
