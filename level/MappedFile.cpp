#include "MappedFile.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tr4 {

MappedFile::~MappedFile() {
    if (mapping) munmap(mapping, size);
}

bool MappedFile::Open(int fd, size_t bytes, std::string& error) {
    size = bytes;
    if (bytes == 0) return true;
    // Populated at once: the whole file is read front to back anyway, and faulting it in page
    // by page costs more.
    void* m = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (m != MAP_FAILED) {
        // A file cut short since its size was taken would fault past its new end: read such a
        // one instead, which ends cleanly.
        struct stat now {};
        if (fstat(fd, &now) == 0 && static_cast<uint64_t>(now.st_size) >= bytes) {
            mapping = m;
            data = static_cast<const uint8_t*>(m);
            return true;
        }
        munmap(m, bytes);
    }
    copy.resize(bytes);
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = pread(fd, copy.data() + got, bytes - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::string("cannot read: ") + std::strerror(errno)
                          : "cannot read: the file ends after " + std::to_string(got) + " of its " +
                                std::to_string(bytes) + " bytes";
            Bytes().swap(copy);
            size = 0;
            return false;
        }
        got += static_cast<size_t>(n);
    }
    data = copy.data();
    return true;
}

}  // namespace tr4
