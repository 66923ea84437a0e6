#include "PngFiles.h"

#include <system_error>
#include <vector>

#include "PngEncode.h"

namespace tr4tool {

namespace {

// frame as PNG bytes, or false with error set.
bool EncodeFrame(const QImage& frame, const std::string& path, std::vector<uint8_t>& png,
                 std::string& error) {
    error = "cannot write " + path + ": there is no picture";
    if (frame.isNull()) return false;
    const QImage image = frame.format() == QImage::Format_RGB32
                             ? frame
                             : frame.convertToFormat(QImage::Format_RGB32);
    // Format_RGB32 rows are 32-bit words 0xffRRGGBB: bytes blue, green, red, unused.
    if (!tr4export::EncodePng(image.constBits(), static_cast<size_t>(image.bytesPerLine()),
                              static_cast<uint32_t>(image.width()),
                              static_cast<uint32_t>(image.height()),
                              tr4export::PngLayout::BgrxToRgb, png)) {
        error = "cannot write " + path + ": the picture could not be encoded";
        return false;
    }
    return true;
}

}  // namespace

bool WritePng(const QImage& frame, const std::string& path, std::string& error,
              std::optional<tr4export::FileId> never) {
    std::vector<uint8_t> png;
    return EncodeFrame(frame, path, png, error) &&
           tr4export::WriteFileSafely(path, png.data(), png.size(), error, never);
}

bool PngWriterThread::Write(const QImage& frame, const std::string& path, std::string& error) {
    thread_local std::vector<uint8_t> png;
    return EncodeFrame(frame, path, png, error) && batch.Write(path, png.data(), png.size(), error);
}

PngWriterThread::PngWriterThread(std::optional<tr4export::FileId> never) : batch(never) {
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
        const bool written = Write(frame, path, why);
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
    // Nothing is being written now: the batch is this thread's until the next Put.
    if (std::string why; !batch.Commit(why) && failure.empty()) failure = why;
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
        const bool written = Write(frame, path, why);
        frame = QImage();
        lock.lock();
        busy = false;
        if (!written && failure.empty()) failure = why;
        changed.notify_all();
    }
}

}  // namespace tr4tool
