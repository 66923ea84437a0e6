#include "Prefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace tr4 {

void PrefaultForWrite(void* at, size_t n) {
#ifdef MADV_POPULATE_WRITE
    static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const uintptr_t from = (reinterpret_cast<uintptr_t>(at) + page - 1) & ~(page - 1);
    const uintptr_t to = (reinterpret_cast<uintptr_t>(at) + n) & ~(page - 1);
    // A page or two is not worth a call.
    if (to > from + page) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
#else
    (void)at;
    (void)n;
#endif
}

void ResizeForWrite(std::vector<uint8_t>& bytes, size_t n, size_t slack) {
    if (bytes.capacity() < n) {
        std::vector<uint8_t>().swap(bytes);
        bytes.reserve(n + slack);
        PrefaultForWrite(bytes.data(), n);
    }
    bytes.resize(n);
}

}  // namespace tr4
