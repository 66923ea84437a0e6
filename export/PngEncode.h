#pragma once
// PNG files from 8-bit pixels, compressed by ISA-L. The pages of a level and the pictures of
// tr4tool render are written far more often than anything else is encoded, and zlib through
// libpng spent most of an export's time on them; ISA-L's fastest level, after the "sub" filter on
// every row, makes files within a tenth of libpng's default at a twelfth of its time. The
// container (signature, IHDR, one IDAT, IEND, each with its CRC) is the PNG standard's.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tr4export {

enum class PngLayout {
    BgraToRgba,  // 4 bytes a pixel, blue, green, red, alpha: an RGBA file
    // As BgraToRgba, with each pixel's alpha, where it is not 0, replaced by its brightness (the
    // largest of red, green and blue)
    BgraToRgbaBrightness,
    BgrxToRgb,  // 4 bytes a pixel, blue, green, red, unused (Qt's RGB32): an RGB file
};

// Encodes height rows of width pixels, rows stride bytes apart, into png. False (png empty) for
// a size PNG cannot hold (more than 4 GiB of filtered rows).
bool EncodePng(const uint8_t* pixels, size_t stride, uint32_t width, uint32_t height,
               PngLayout layout, std::vector<uint8_t>& png);

}  // namespace tr4export
