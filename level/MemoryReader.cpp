#include "MemoryReader.h"

#include <cstring>

namespace tr4 {

const uint8_t* MemoryReader::Take(uint32_t n) {
    if (data == nullptr || failed) return nullptr;
    if (n > size - position) {
        failed = true;
        return nullptr;
    }
    const uint8_t* at = data + position;
    position += n;
    return at;
}

int MemoryReader::Read(void* destination, uint32_t n) {
    const uint8_t* source = Take(n);
    if (source == nullptr) return 0;
    if (n != 0) std::memcpy(destination, source, n);
    return 1;
}

}  // namespace tr4
