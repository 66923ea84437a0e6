// Any bytes as a level file, through the one load entry point: once from memory and once through
// the path that opens a file (an in-memory file under /proc/self/fd), so the opening, the budget
// and the decode of whatever meshes it gives are all explored. Nothing may read outside its
// buffer or allocate from an implausible size.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "LoadLevel.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tr4::LoadedLevel loaded;
    tr4::LoadLevelImage(data, size, loaded);

    static const int fd = memfd_create("level", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    tr4::LoadLevel(path, loaded);
    return 0;
}
