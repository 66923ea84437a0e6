#include "MemoryBudget.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>

namespace tr4 {
namespace {
std::atomic<bool> countProcess{false};
}

void MemoryBudget::CountTheProcess(bool on) {
    countProcess.store(on);
}

uint64_t MemoryBudget::ProcessResidentBytes() {
    // statm: total program size, then resident pages.
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return 0;
    unsigned long long total = 0, resident = 0;
    const bool read = std::fscanf(statm, "%llu %llu", &total, &resident) == 2;
    std::fclose(statm);
    const long page = sysconf(_SC_PAGESIZE);
    return read && page > 0 ? resident * static_cast<uint64_t>(page) : 0;
}

MemoryBudget MemoryBudget::ForFile(uint64_t size) {
    MemoryBudget budget;
    budget.fileSize = size;
    // A file of 1 GiB or less, as the loader accepts, cannot overflow this.
    budget.limit =
        size > (UINT64_MAX - kBase) / kPerFileByte ? UINT64_MAX : kPerFileByte * size + kBase;
    if (countProcess.load()) {
        budget.processBytes = ProcessResidentBytes();
        budget.limit = budget.processBytes < budget.limit ? budget.limit - budget.processBytes : 0;
    }
    return budget;
}

bool MemoryBudget::Take(uint64_t bytes, const char* what, std::string& error) {
    if (bytes <= limit - used) {
        used += bytes;
        if (used > peak) peak = used;
        return true;
    }
    char process[80] = "";
    if (processBytes != 0)
        std::snprintf(process, sizeof process, " less %llu the process holds",
                      static_cast<unsigned long long>(processBytes));
    char text[480];
    std::snprintf(text, sizeof text,
                  "refused: %s would need %llu more bytes of memory, over this file's budget of "
                  "%llu bytes (64 x %llu bytes of file + 64 MiB%s), %llu of them already taken",
                  what, static_cast<unsigned long long>(bytes),
                  static_cast<unsigned long long>(limit), static_cast<unsigned long long>(fileSize),
                  process, static_cast<unsigned long long>(used));
    error = text;
    return false;
}

void MemoryBudget::Give(uint64_t bytes) {
    used = bytes > used ? 0 : used - bytes;
}

}  // namespace tr4
