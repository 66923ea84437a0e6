#pragma once
// A regular file's bytes in memory, read-only: mapped when the system allows it, else read. A
// mapping costs neither the copy of the bytes nor the zeroing of a buffer for them.
//
// The file must not be cut short by someone else while it is mapped (the pages past its new end
// would fault); the loader holds the mapping only for the length of one load.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Level.h"

namespace tr4 {

class MappedFile {
  public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // Takes the size bytes of the open regular file fd (the caller keeps fd and closes it).
    // False when they could be neither mapped nor read whole; error then says why.
    bool Open(int fd, size_t size, std::string& error);

    const uint8_t* Data() const { return data; }
    size_t Size() const { return size; }

  private:
    const uint8_t* data = nullptr;
    size_t size = 0;
    void* mapping = nullptr;
    Bytes copy;  // when mapping was not possible
};

}  // namespace tr4
