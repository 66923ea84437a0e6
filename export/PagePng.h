#pragma once
// Texture pages of a level as PNG files: 256 x 256, eight bits per channel, with the page's alpha.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Level.h"
#include "SafeFile.h"

namespace tr4export {

// Whether the level's 32-bit block holds the whole of page.
bool HasPage(const tr4::Level& level, int page);

// The alpha a page's image carries: its own, or its texels' brightness (the largest of red, green
// and blue) for faces that add their colour to what is behind them. Texels the page itself leaves
// out (alpha 0) stay out.
enum class PageAlpha { Stored, Brightness };

// Encodes page of the level's 32-bit block (blue, green, red, alpha texels) as PNG into png.
// False when the page does not exist or encoding failed (png is then empty).
bool EncodePagePng(const tr4::Level& level, int page, PageAlpha alpha, std::vector<uint8_t>& png);
inline bool EncodePagePng(const tr4::Level& level, int page, std::vector<uint8_t>& png) {
    return EncodePagePng(level, page, PageAlpha::Stored, png);
}

// The file name of a page's image: page-N.png, or page-N-additive.png.
std::string PagePngName(int page, PageAlpha alpha);

// Pages of one level, each encoded once and kept. Pages asked for ahead (Prefetch) are encoded on
// a second thread while the caller builds the rest of its file; Png waits for them. Where no
// thread can be had, Png encodes on the calling thread. Pages still queued when the cache goes
// are left unencoded: nobody can ask for them any more.
class PagePngCache {
  public:
    explicit PagePngCache(const tr4::Level& level);
    ~PagePngCache();
    PagePngCache(const PagePngCache&) = delete;
    PagePngCache& operator=(const PagePngCache&) = delete;

    using Key = std::pair<int, PageAlpha>;

    void Prefetch(int page, PageAlpha alpha = PageAlpha::Stored);
    // Pages asked ahead on a guess, before the file's own were known, kept to those: a queued
    // page not in wanted is no longer encoded (nor kept), and a wanted one not yet asked is
    // queued. What is being encoded already is finished.
    void Narrow(const std::set<Key>& wanted);
    // The PNG of page; empty when the page does not exist. Stays valid as long as the cache.
    const std::vector<uint8_t>& Png(int page, PageAlpha alpha = PageAlpha::Stored);
    // The PNG of page, moved out of the cache, which has it no more: for a cache with one user.
    std::vector<uint8_t> Take(int page, PageAlpha alpha = PageAlpha::Stored);
    // Drops the pages asked ahead and not yet started and waits for the one being encoded, after
    // which the cache no longer reads the level on its own: its texels may go. Pages asked for
    // afterwards are encoded on the calling thread.
    void Stop();

  private:
    struct Entry {
        bool done = false;
        std::vector<uint8_t> png;
    };
    void Queue(const Key& key);  // with the mutex held
    void Work();

    const tr4::Level& level;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<Key, Entry> encoded;  // std::map: entries stay where they are as others are added
    std::deque<Key> queue;
    std::set<Key> busy;  // being encoded now, by the worker or a caller
    bool stopping = false;
    std::thread worker;
};

// Writes every page into folder dir (made when missing) as page-N.png, each whole or not at all.
// Returns the number of pages written, or -1 with why set when the folder or a file could not be
// written (the pages written before stay). Never replaces the file never.
int WritePages(const tr4::Level& level, const std::string& dir, std::string& why,
               std::optional<FileId> never = std::nullopt);

}  // namespace tr4export
