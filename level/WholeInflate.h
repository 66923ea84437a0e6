#pragma once
// The fast path of chunk decompression: libdeflate decompresses a whole zlib stream in one call,
// about twice as fast as zlib's inflate. It needs the output's room up front, so it is tried only
// where the stated size is a plausible one for the stream; anything it does not finish cleanly
// (a damaged stream, one that holds more than its stated size) is left to zlib, whose exact
// results (the bytes kept, the error reported) the reader depends on there.
#include <cstddef>
#include <cstdint>

#include "Level.h"

namespace tr4 {

// Whether a stated size is worth giving libdeflate room for at once: at most this many times the
// compressed size. Real chunks expand 2 to 8 times; anything larger goes the careful way.
inline constexpr uint64_t kWholeInflateRatio = 16;

// Decompresses the zlib stream (packedSize bytes) into out, which is resized to the stated size
// first and then to the bytes produced. True when the stream ended within the stated size with
// a good checksum (bytes after its end are ignored, as zlib's uncompress does); false otherwise,
// with out emptied.
bool InflateWhole(const uint8_t* stream, uint32_t packedSize, uint32_t stated, Bytes& out);

}  // namespace tr4
