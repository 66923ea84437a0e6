#include "PngEncode.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "Prefault.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tr4export {
namespace {

constexpr uint8_t kSub = 1;

// ISA-L's compressor at its level 1: on real pages twice as fast as libdeflate's fastest level,
// at 1.10 times the bytes of libpng's defaults (libdeflate's made 1.07), and ten times as fast on
// a rendered picture. Its state (80 KiB) and the buffer of its level (the small one: as fast on a
// page, and no larger) are kept for each thread, and reset for each picture.
struct Deflater {
    isal_zstream stream;  // set up by isal_deflate_init
    // The compressor's scratch, which it sets up itself: not zeroed first.
    std::unique_ptr<uint8_t[]> levelBuffer{new uint8_t[ISAL_DEF_LVL1_SMALL]};
};

// in as a zlib stream into out, grown as needed; the stream's size, or 0 when it could not be
// made.
size_t Compress(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    thread_local std::unique_ptr<Deflater> deflater;
    if (!deflater) deflater.reset(new Deflater);  // default-initialised: nothing to zero
    isal_zstream& z = deflater->stream;
    isal_deflate_init(&z);
    z.gzip_flag = IGZIP_ZLIB;
    z.level = 1;
    z.level_buf = deflater->levelBuffer.get();
    z.level_buf_size = ISAL_DEF_LVL1_SMALL;
    z.end_of_stream = 1;
    z.flush = NO_FLUSH;
    z.next_in = const_cast<uint8_t*>(in.data());
    z.avail_in = static_cast<uint32_t>(in.size());
    size_t produced = 0;
    for (;;) {
        z.next_out = out.data() + produced;
        z.avail_out = static_cast<uint32_t>(std::min<size_t>(out.size() - produced, 0xFFFFFFFFu));
        const uint32_t room = z.avail_out;
        if (isal_deflate(&z) != COMP_OK) return 0;
        produced += room - z.avail_out;
        if (z.internal_state.state == ZSTATE_END) return produced;
        // Incompressible rows come out a little larger than they went in.
        out.resize(out.size() + out.size() / 2 + 4096);
    }
}

// A row of blue, green, red, alpha pixels as red, green, blue, alpha, "sub" filtered, into row
// after its filter byte. Four pixels at a time where SSE2 is there (every x86-64): the byte
// shuffle and the subtraction were a tenth of a page's encoding, one byte at a time.
void SubFilterRgba(const uint8_t* in, uint32_t width, uint8_t* row) {
    row[0] = kSub;
    uint8_t* out = row + 1;
    uint32_t x = 0;
#if defined(__SSE2__)
    const __m128i greenAlpha = _mm_set1_epi32(static_cast<int>(0xFF00FF00u));
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    __m128i before = _mm_setzero_si128();  // nothing left of the first pixel: it stays as it is
    for (; x + 4 <= width; x += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 4 * size_t{x}));
        const __m128i red = _mm_and_si128(_mm_srli_epi32(p, 16), lowByte);
        const __m128i blue = _mm_slli_epi32(_mm_and_si128(p, lowByte), 16);
        const __m128i rgba = _mm_or_si128(_mm_and_si128(p, greenAlpha), _mm_or_si128(red, blue));
        const __m128i left = _mm_or_si128(_mm_slli_si128(rgba, 4), _mm_srli_si128(before, 12));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * size_t{x}), _mm_sub_epi8(rgba, left));
        before = rgba;
    }
#endif
    for (; x < width; ++x) {
        const uint8_t* p = in + 4 * size_t{x};
        const uint8_t* l = x > 0 ? p - 4 : nullptr;
        uint8_t* to = out + 4 * size_t{x};
        const uint8_t rgba[4] = {p[2], p[1], p[0], p[3]};
        const uint8_t left[4] = {l ? l[2] : uint8_t{0}, l ? l[1] : uint8_t{0},
                                 l ? l[0] : uint8_t{0}, l ? l[3] : uint8_t{0}};
        for (int c = 0; c < 4; ++c) to[c] = static_cast<uint8_t>(rgba[c] - left[c]);
    }
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
    const uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    out.insert(out.end(), bytes, bytes + 4);
}

void Chunk(std::vector<uint8_t>& out, const char type[4], const uint8_t* data, size_t size) {
    Put32(out, static_cast<uint32_t>(size));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    Put32(out, libdeflate_crc32(0, out.data() + start, size + 4));
}

}  // namespace

bool EncodePng(const uint8_t* pixels, size_t stride, uint32_t width, uint32_t height,
               PngLayout layout, std::vector<uint8_t>& png) {
    png.clear();
    const size_t channels = layout == PngLayout::BgrxToRgb ? 3 : 4;
    const bool brightness = layout == PngLayout::BgraToRgbaBrightness;
    if (width == 0 || height == 0 || width > 0x7FFFFFFF / channels || height > 0x7FFFFFFF)
        return false;

    // Each row: its filter byte, then each byte less the same channel of the pixel to its left
    // ("sub"). Measured on real pages, Paeth's prediction saves 5% of the bytes but costs a third
    // more time, most of an export's; sub is also a plain loop the compiler vectorises. The
    // buffers are kept from one picture to the next: fresh ones of a page's size come straight
    // from the kernel, and faulting their pages in cost as much as the filtering.
    const size_t rowBytes = size_t{width} * channels;
    thread_local std::vector<uint8_t> filtered, current, compressed;
    const size_t filteredSize = size_t{height} * (rowBytes + 1);
    if (filteredSize > 0xFFFFFFFFu) return false;  // the compressor counts in 32 bits
    // A little slack past the rows: the compressor's vector loads may look beyond its input.
    tr4::ResizeForWrite(filtered, filteredSize, 64);
    current.resize(rowBytes);
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* in = pixels + size_t{y} * stride;
        if (layout == PngLayout::BgraToRgba) {
            SubFilterRgba(in, width, filtered.data() + size_t{y} * (rowBytes + 1));
            continue;
        }
        uint8_t* here = current.data();
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t* to = here + size_t{x} * channels;
            to[0] = in[4 * x + 2];
            to[1] = in[4 * x + 1];
            to[2] = in[4 * x];
            if (channels == 4) to[3] = in[4 * x + 3];
        }
        if (brightness)
            for (uint32_t x = 0; x < width; ++x)
                if (uint8_t* to = here + size_t{x} * 4; to[3] != 0)
                    to[3] = std::max({to[0], to[1], to[2]});
        uint8_t* row = filtered.data() + size_t{y} * (rowBytes + 1);
        row[0] = kSub;
        std::memcpy(row + 1, here, channels);
        for (size_t i = channels; i < rowBytes; ++i)
            row[1 + i] = static_cast<uint8_t>(here[i] - here[i - channels]);
    }
    // Room for the stream at its likely largest; Compress grows it should that not do.
    const size_t bound = filtered.size() + filtered.size() / 16 + 4096;
    tr4::ResizeForWrite(compressed, std::max(compressed.size(), bound));
    const size_t size = Compress(filtered, compressed);
    if (size == 0) return false;

    uint8_t header[13];
    const uint32_t fields[2] = {width, height};
    for (int f = 0; f < 2; ++f)
        for (int b = 0; b < 4; ++b) header[4 * f + b] = uint8_t(fields[f] >> (24 - 8 * b));
    header[8] = 8;                             // bits a channel
    header[9] = channels == 4 ? 6 : 2;         // colour type: RGBA or RGB
    header[10] = header[11] = header[12] = 0;  // deflate, adaptive filtering, no interlace
    static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const size_t total = 8 + 25 + 12 + size + 12;
    png.reserve(total);
    tr4::PrefaultForWrite(png.data(), total);
    png.insert(png.end(), kSignature, kSignature + 8);
    Chunk(png, "IHDR", header, sizeof header);
    Chunk(png, "IDAT", compressed.data(), size);
    Chunk(png, "IEND", nullptr, 0);
    return true;
}

}  // namespace tr4export
