#include "MemoryReader.h"

#include <cstring>

namespace tr4 {

int MemoryReader::Read(void* destination, uint32_t n) {
    if (data == nullptr || failed || position > size) return 0;
    if (n > size - position) {
        failed = true;
        return 0;
    }
    if (n != 0) std::memcpy(destination, data + position, n);
    position += n;
    return 1;
}

}  // namespace tr4
