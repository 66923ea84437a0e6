#pragma once
// trTextura: the texture pages of one loaded level, one 256 x 256 texture per page, all 32-bit
// (format 21, from the level's pages32) or all 16-bit (format 24, from pages16).
//
// The page count is pages32Size / 262,144 (whole pages only) for both kinds. The set owns its
// textures and releases them when destroyed, so replacing the set of a level frees the old pages;
// that is safe before and after the device has been destroyed. Meshes whose faces point to these
// textures must not be drawn after the set is gone.
#include <cstdint>
#include <string>
#include <vector>

#include "Level.h"
#include "MeshFaces.h"
#include "RenderTypes.h"

namespace tr4 {

class dxDevice8;

class trTextura {
  public:
    static constexpr int kPageSize = 256;
    static constexpr uint32_t kPage32Bytes = tr4::kPage32Bytes;
    static constexpr uint32_t kPage16Bytes = 256u * 256u * 2u;

    // Keeps a reference to level, whose page blocks must stay alive and unchanged as long as the
    // set does: the pages are made on them without a copy, and a device that lost its context
    // makes them again from there.
    explicit trTextura(const tr4::Level& level);
    ~trTextura();
    trTextura(const trTextura&) = delete;
    trTextura& operator=(const trTextura&) = delete;

    // Create every page (releasing pages made before). A page whose bytes are missing from a
    // short block gets an empty entry; the other pages are made all the same. False, with why,
    // when the device cannot make a page's texture (no page is kept then).
    bool CreatePages32(dxDevice8& device, std::string& error);
    bool CreatePages16(dxDevice8& device, std::string& error);

    // The page's texture, still owned by the set; none for a page number outside 0..count-1, an
    // empty entry, or pages of the other kind.
    dxTexture* GetPage32(int page) const;
    dxTexture* GetPage16(int page) const;
    bool Is32Bit() const { return uses32; }
    int PageCount() const { return pageCount; }

  private:
    void ReleasePages();
    bool CreatePages(dxDevice8& device, bool wide, std::string& error);

    std::vector<TexturePtr> pages32;
    std::vector<TexturePtr> pages16;
    int pageCount = 0;
    const tr4::Level* level;
    bool uses32 = false;
};

}  // namespace tr4
