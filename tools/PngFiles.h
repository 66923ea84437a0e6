#pragma once
// Writing frames as PNG files, fast: `render --all` writes one picture per mesh, and with libpng's
// default settings the encoding took most of its time. The pictures go through the export's
// encoder (PngEncode.h: the sub filter and ISA-L's fastest level), on a thread of their own while
// the next mesh is drawn.
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include <QImage>

#include "SafeFile.h"

namespace tr4tool {

// Writes frame (any format; stored as 8-bit RGB) to path, whole or not at all (SafeFile), never
// over the file never. False with error set ("cannot write PATH: why") when it cannot.
bool WritePng(const QImage& frame, const std::string& path, std::string& error,
              std::optional<tr4export::FileId> never = std::nullopt);

// Writes frames on a thread of its own, in the order given, so the next frame can be drawn while
// the last one is encoded. At most two frames wait at any time. Where no thread can be started,
// each frame is written by Put itself.
class PngWriterThread {
  public:
    explicit PngWriterThread(std::optional<tr4export::FileId> never = std::nullopt);
    // Writes what is still queued, then ends the thread.
    ~PngWriterThread();
    PngWriterThread(const PngWriterThread&) = delete;
    PngWriterThread& operator=(const PngWriterThread&) = delete;

    // Queues the frame for path; waits while two frames are already queued.
    void Put(QImage frame, std::string path);
    // Why the first file that could not be written failed, or an empty string.
    std::string FirstFailure();
    // Waits until every queued frame has been written and makes them all durable under their
    // names (one batch: see SafeFileBatch); then as FirstFailure. Frames not finished when the
    // writer goes leave no files.
    std::string Finish();

  private:
    void Work();
    bool Write(const QImage& frame, const std::string& path, std::string& error);

    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<QImage, std::string>> queue;
    bool busy = false;  // the worker holds a frame it has not finished
    bool stopping = false;
    std::string failure;
    tr4export::SafeFileBatch batch;  // used by one thread at a time: the worker, or Put without one
    std::thread worker;
};

}  // namespace tr4tool
