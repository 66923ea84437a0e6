#include "trTextura.h"

#include "dxDevice8.h"

namespace tr4 {

trTextura::trTextura(const tr4::Level& lvl) : pageCount(tr4::PageCount(lvl)), level(&lvl) {}

trTextura::~trTextura() = default;

void trTextura::ReleasePages() {
    pages32.clear();
    pages16.clear();
}

bool trTextura::CreatePages32(dxDevice8& device, std::string& error) {
    return CreatePages(device, true, error);
}
bool trTextura::CreatePages16(dxDevice8& device, std::string& error) {
    return CreatePages(device, false, error);
}

bool trTextura::CreatePages(dxDevice8& device, bool wide, std::string& error) {
    ReleasePages();
    const tr4::Bytes& block = wide ? level->pages32 : level->pages16;
    const size_t pageBytes = wide ? kPage32Bytes : kPage16Bytes;
    const int format = wide ? D3DFMT_A8R8G8B8 : D3DFMT_X1R5G5B5;
    std::vector<TexturePtr>& pages = wide ? pages32 : pages16;
    pages.resize(static_cast<size_t>(pageCount));
    device.ReservePageTextures(pageCount);
    for (int i = 0; i < pageCount; ++i) {
        const size_t start = static_cast<size_t>(i) * pageBytes;
        // A block shorter than the page count needs (a damaged level) leaves the pages it does
        // not hold empty, rather than reading past its end.
        if (start + pageBytes > block.size()) continue;
        pages[i] = device.CreateTextureOnPixels(kPageSize, kPageSize, format, block.data() + start);
        if (pages[i] == nullptr) {
            const std::string& why = device.LastGlError();
            error = "texture page " + std::to_string(i) + " could not be made" +
                    (why.empty() ? std::string() : ": " + why);
            ReleasePages();
            return false;
        }
    }
    uses32 = wide;
    return true;
}

dxTexture* trTextura::GetPage32(int page) const {
    if (page < 0 || page >= static_cast<int>(pages32.size())) return nullptr;
    return pages32[page].get();
}

dxTexture* trTextura::GetPage16(int page) const {
    if (page < 0 || page >= static_cast<int>(pages16.size())) return nullptr;
    return pages16[page].get();
}

}  // namespace tr4
