#include "PagePng.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "MeshFaces.h"
#include "PngEncode.h"

namespace tr4export {

bool HasPage(const tr4::Level& level, int page) {
    return page >= 0 && page < tr4::PageCount(level) &&
           (static_cast<size_t>(page) + 1) * tr4::kPage32Bytes <= level.pages32.size();
}

bool EncodePagePng(const tr4::Level& level, int page, PageAlpha alpha, std::vector<uint8_t>& png) {
    png.clear();
    if (!HasPage(level, page)) return false;
    const uint8_t* pixels = level.pages32.data() + static_cast<size_t>(page) * tr4::kPage32Bytes;
    // The page's texels lie in memory as blue, green, red, alpha.
    return EncodePng(
        pixels, 256 * 4, 256, 256,
        alpha == PageAlpha::Brightness ? PngLayout::BgraToRgbaBrightness : PngLayout::BgraToRgba,
        png);
}

std::string PagePngName(int page, PageAlpha alpha) {
    return "page-" + std::to_string(page) + (alpha == PageAlpha::Brightness ? "-additive" : "") +
           ".png";
}

PagePngCache::PagePngCache(const tr4::Level& level) : level(level) {}

PagePngCache::~PagePngCache() {
    Stop();
}

void PagePngCache::Stop() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
        queue.clear();
    }
    changed.notify_all();
    if (worker.joinable()) worker.join();
}

std::vector<uint8_t> PagePngCache::Take(int page, PageAlpha alpha) {
    Png(page, alpha);
    std::lock_guard lock(mutex);
    return std::move(encoded[{page, alpha}].png);
}

void PagePngCache::Prefetch(int page, PageAlpha alpha) {
    std::lock_guard lock(mutex);
    Queue({page, alpha});
}

void PagePngCache::Queue(const Key& key) {
    if (!encoded.try_emplace(key).second || stopping) return;
    if (!worker.joinable()) {
        try {
            worker = std::thread([this] { Work(); });
        } catch (const std::system_error&) {
            return;  // no thread to be had: Png encodes it when asked
        }
    }
    queue.push_back(key);
    changed.notify_all();
}

void PagePngCache::Narrow(const std::set<Key>& wanted) {
    std::lock_guard lock(mutex);
    for (auto at = queue.begin(); at != queue.end();) {
        if (wanted.count(*at)) {
            ++at;
            continue;
        }
        encoded.erase(*at);  // so that a later Prefetch queues it again
        at = queue.erase(at);
    }
    for (const Key& key : wanted) Queue(key);
}

const std::vector<uint8_t>& PagePngCache::Png(int page, PageAlpha alpha) {
    const Key key{page, alpha};
    std::unique_lock lock(mutex);
    Entry& entry = encoded[key];
    while (!entry.done) {
        // This page if nobody has started it, else another the worker has yet to start (the
        // last queued, as the worker takes the first): waiting idle would leave a core unused.
        std::optional<Key> take;
        const auto queued = std::find(queue.begin(), queue.end(), key);
        if (queued != queue.end()) {
            take = key;
            queue.erase(queued);
        } else if (!busy.count(key)) {
            take = key;  // never asked ahead
        } else if (!queue.empty()) {
            take = queue.back();
            queue.pop_back();
        }
        if (!take) {
            changed.wait(lock, [&] { return entry.done; });
            break;
        }
        busy.insert(*take);
        lock.unlock();
        std::vector<uint8_t> png;
        EncodePagePng(level, take->first, take->second, png);
        lock.lock();
        busy.erase(*take);
        Entry& made = encoded[*take];
        made.png = std::move(png);
        made.done = true;
        changed.notify_all();
    }
    return entry.png;
}

void PagePngCache::Work() {
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !queue.empty(); });
        if (stopping || queue.empty()) return;
        const Key key = queue.front();
        queue.pop_front();
        busy.insert(key);
        lock.unlock();
        std::vector<uint8_t> png;
        EncodePagePng(level, key.first, key.second, png);
        lock.lock();
        busy.erase(key);
        Entry& entry = encoded[key];
        entry.png = std::move(png);
        entry.done = true;
        changed.notify_all();
    }
}

int WritePages(const tr4::Level& level, const std::string& dir, std::string& why,
               std::optional<FileId> never) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        why = "cannot make the folder " + dir + ": " + ec.message();
        return -1;
    }
    // Encoded on two threads (the cache's worker and this one), written as one batch.
    PagePngCache cache(level);
    const int pages = tr4::PageCount(level);
    for (int page = 0; page < pages; ++page) cache.Prefetch(page);
    SafeFileBatch batch(never);
    int written = 0;
    for (int page = 0; page < pages; ++page) {
        const std::vector<uint8_t>& png = cache.Png(page);
        if (png.empty()) continue;
        const std::string path = dir + "/" + PagePngName(page, PageAlpha::Stored);
        if (!batch.Write(path, png.data(), png.size(), why)) return -1;
        ++written;
    }
    return batch.Commit(why) ? written : -1;
}

}  // namespace tr4export
