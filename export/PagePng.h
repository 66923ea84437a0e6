#pragma once
// Texture pages of a level as PNG files: 256 x 256, eight bits per channel, with the page's alpha.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "Level.h"

namespace tr4export {

// Whether the level's 32-bit block holds the whole of page.
bool HasPage(const tr4::Level& level, int page);

// Encodes page of the level's 32-bit block (blue, green, red, alpha texels) as PNG into png.
// False when the page does not exist or encoding failed (png is then empty).
bool EncodePagePng(const tr4::Level& level, int page, std::vector<uint8_t>& png);

// Pages of one level, each encoded on first use and kept.
class PagePngCache {
  public:
    explicit PagePngCache(const tr4::Level& level) : level(level) {}
    // The PNG of page; empty when the page does not exist.
    const std::vector<uint8_t>& Png(int page);

  private:
    const tr4::Level& level;
    std::map<int, std::vector<uint8_t>> encoded;
};

// Writes every page into folder dir (made when missing) as page-N.png. Returns the number of pages
// written, or -1 with why set when the folder or a file could not be written.
int WritePages(const tr4::Level& level, const std::string& dir, std::string& why);

}  // namespace tr4export
