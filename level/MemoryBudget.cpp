#include "MemoryBudget.h"

#include <cstdio>

namespace tr4 {

MemoryBudget MemoryBudget::ForFile(uint64_t size) {
    MemoryBudget budget;
    budget.fileSize = size;
    // A file of 1 GiB or less, as the loader accepts, cannot overflow this.
    budget.limit =
        size > (UINT64_MAX - kBase) / kPerFileByte ? UINT64_MAX : kPerFileByte * size + kBase;
    return budget;
}

bool MemoryBudget::Take(uint64_t bytes, const char* what, std::string& error) {
    if (bytes <= limit - used) {
        used += bytes;
        if (used > peak) peak = used;
        return true;
    }
    char text[400];
    std::snprintf(text, sizeof text,
                  "refused: %s would need %llu more bytes of memory, over this file's budget of "
                  "%llu bytes (64 x %llu bytes of file + 64 MiB), %llu of them already taken",
                  what, static_cast<unsigned long long>(bytes),
                  static_cast<unsigned long long>(limit), static_cast<unsigned long long>(fileSize),
                  static_cast<unsigned long long>(used));
    error = text;
    return false;
}

void MemoryBudget::Give(uint64_t bytes) {
    used = bytes > used ? 0 : used - bytes;
}

}  // namespace tr4
