#include "WholeInflate.h"

#include <libdeflate.h>

#include <memory>
#include <new>

#include "Prefault.h"

namespace tr4 {

bool InflateWhole(const uint8_t* stream, uint32_t packedSize, uint32_t stated, Bytes& out) {
    // One decompressor a thread: it is a few tens of kilobytes of tables, cheap to keep.
    struct Free {
        void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    thread_local std::unique_ptr<libdeflate_decompressor, Free> decompressor(
        libdeflate_alloc_decompressor());
    if (!decompressor) throw std::bad_alloc();
    ResizeForWrite(out, stated);
    size_t consumed = 0, produced = 0;
    const libdeflate_result result = libdeflate_zlib_decompress_ex(
        decompressor.get(), stream, packedSize, out.data(), out.size(), &consumed, &produced);
    if (result != LIBDEFLATE_SUCCESS) {
        Bytes().swap(out);
        return false;
    }
    out.resize(produced);
    return true;
}

}  // namespace tr4
