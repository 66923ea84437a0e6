#include "PngFiles.h"

#include <png.h>
#include <csetjmp>
#include <cstdio>
#include <ostream>
#include <system_error>

namespace tr4tool {

namespace {

void WriteToStream(png_structp png, png_bytep data, png_size_t length) {
    static_cast<std::ostream*>(png_get_io_ptr(png))
        ->write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(length));
}

void FlushStream(png_structp png) {
    static_cast<std::ostream*>(png_get_io_ptr(png))->flush();
}

// libpng reports its errors by jumping back to the setjmp; nothing with a destructor lives here.
bool Encode(png_structp png, png_infop info, std::ostream* out, const QImage& image) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    png_set_write_fn(png, out, WriteToStream, FlushStream);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width()),
                 static_cast<png_uint_32>(image.height()), 8, PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_UP);
    png_set_compression_level(png, 1);
    png_write_info(png, info);
    // Format_RGB32 rows are 32-bit words 0xffRRGGBB: bytes blue, green, red, unused.
    png_set_bgr(png);
    png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int y = 0; y < image.height(); ++y)
        png_write_row(png, const_cast<png_bytep>(image.constScanLine(y)));
    png_write_end(png, info);
    return true;
}

}  // namespace

bool WritePng(const QImage& frame, const std::string& path, std::string& error,
              std::optional<tr4export::FileId> never) {
    error = "cannot write " + path + ": there is no picture";
    if (frame.isNull()) return false;
    const QImage image = frame.format() == QImage::Format_RGB32
                             ? frame
                             : frame.convertToFormat(QImage::Format_RGB32);
    tr4export::SafeFile file(never);
    if (!file.Open(path, error)) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    const bool encoded = info != nullptr && Encode(png, info, &file.Stream(), image);
    png_destroy_write_struct(&png, &info);
    if (!encoded) {
        error = "cannot write " + path + ": the picture could not be encoded";
        return false;  // the temporary file goes with file
    }
    return file.Commit(error);
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
