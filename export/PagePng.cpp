#include "PagePng.h"

#include <png.h>

#include <filesystem>
#include <fstream>

#include "MeshFaces.h"

namespace tr4export {

bool HasPage(const tr4::Level& level, int page) {
    return page >= 0 && page < tr4::PageCount(level) &&
           (static_cast<size_t>(page) + 1) * tr4::kPage32Bytes <= level.pages32.size();
}

bool EncodePagePng(const tr4::Level& level, int page, std::vector<uint8_t>& png) {
    png.clear();
    if (!HasPage(level, page)) return false;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = 256;
    image.height = 256;
    // The page's texels lie in memory as blue, green, red, alpha: libpng takes them as they are.
    image.format = PNG_FORMAT_BGRA;
    const uint8_t* pixels = level.pages32.data() + static_cast<size_t>(page) * tr4::kPage32Bytes;
    // Room for the largest PNG the page can make, so it is encoded once: asked without room,
    // libpng would compress the whole page only to tell the size.
    png_alloc_size_t size = PNG_IMAGE_PNG_SIZE_MAX(image);
    png.resize(size);
    if (!png_image_write_to_memory(&image, png.data(), &size, 0, pixels, 0, nullptr) || size == 0) {
        png.clear();
        return false;
    }
    png.resize(size);
    png.shrink_to_fit();
    return true;
}

const std::vector<uint8_t>& PagePngCache::Png(int page) {
    auto [it, fresh] = encoded.try_emplace(page);
    if (fresh) EncodePagePng(level, page, it->second);
    return it->second;
}

int WritePages(const tr4::Level& level, const std::string& dir, std::string& why) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        why = "cannot make the folder " + dir + ": " + ec.message();
        return -1;
    }
    int written = 0;
    std::vector<uint8_t> png;
    for (int page = 0; page < tr4::PageCount(level); ++page) {
        if (!EncodePagePng(level, page, png)) continue;
        const std::string path = dir + "/page-" + std::to_string(page) + ".png";
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(png.data()),
                  static_cast<std::streamsize>(png.size()));
        out.close();
        if (!out) {
            why = "cannot write " + path;
            return -1;
        }
        ++written;
    }
    return written;
}

}  // namespace tr4export
