#include "PngFiles.h"

#include <system_error>
#include <vector>

#include "PngEncode.h"

namespace tr4tool {

bool WritePng(const QImage& frame, const std::string& path, std::string& error,
              std::optional<tr4export::FileId> never) {
    error = "cannot write " + path + ": there is no picture";
    if (frame.isNull()) return false;
    const QImage image = frame.format() == QImage::Format_RGB32
                             ? frame
                             : frame.convertToFormat(QImage::Format_RGB32);
    // Format_RGB32 rows are 32-bit words 0xffRRGGBB: bytes blue, green, red, unused.
    std::vector<uint8_t> png;
    if (!tr4export::EncodePng(image.constBits(), static_cast<size_t>(image.bytesPerLine()),
                              static_cast<uint32_t>(image.width()),
                              static_cast<uint32_t>(image.height()),
                              tr4export::PngLayout::BgrxToRgb, png)) {
        error = "cannot write " + path + ": the picture could not be encoded";
        return false;
    }
    return tr4export::WriteFileSafely(path, png.data(), png.size(), error, never);
}

PngWriterThread::PngWriterThread(std::optional<tr4export::FileId> never) : never(never) {
    try {
        worker = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        // No thread to be had (a process or memory limit): Put writes each frame itself.
    }
}

PngWriterThread::~PngWriterThread() {
    {
        std::lock_guard lock(mutex);
        stopping = true;
    }
    changed.notify_all();
    if (worker.joinable()) worker.join();
}

void PngWriterThread::Put(QImage frame, std::string path) {
    if (!worker.joinable()) {
        std::string why;
        const bool written = WritePng(frame, path, why, never);
        std::lock_guard lock(mutex);
        if (!written && failure.empty()) failure = why;
        return;
    }
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return queue.size() < 2; });
    queue.emplace_back(std::move(frame), std::move(path));
    changed.notify_all();
}

std::string PngWriterThread::FirstFailure() {
    std::lock_guard lock(mutex);
    return failure;
}

std::string PngWriterThread::Finish() {
    std::unique_lock lock(mutex);
    changed.wait(lock, [this] { return queue.empty() && !busy; });
    return failure;
}

void PngWriterThread::Work() {
    std::unique_lock lock(mutex);
    for (;;) {
        changed.wait(lock, [this] { return stopping || !queue.empty(); });
        if (queue.empty()) return;  // stopping, and everything written
        auto [frame, path] = std::move(queue.front());
        queue.pop_front();
        busy = true;
        changed.notify_all();  // room in the queue
        lock.unlock();
        std::string why;
        const bool written = WritePng(frame, path, why, never);
        frame = QImage();
        lock.lock();
        busy = false;
        if (!written && failure.empty()) failure = why;
        changed.notify_all();
    }
}

}  // namespace tr4tool
