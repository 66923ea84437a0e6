#pragma once
// Output files written whole or not at all. A file is written under a temporary name in its own
// folder, flushed to the disk, and only then renamed over its target: a full disk, a killed
// process or a failed encoding leaves the target as it was (a previous export stays usable) and no
// partial file. The level being read is never a target, however the output is spelled.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

namespace tr4export {

// What identifies a file on this machine, whatever path names it (links, "./", symlinks).
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId&) const = default;
};

// The identity of the file path names (following symlinks), or none when there is no such file.
std::optional<FileId> IdOf(const std::string& path);

class SafeFile {
  public:
    // never: a file that must not be replaced (the input); the write is refused when path names it.
    explicit SafeFile(std::optional<FileId> never = std::nullopt);
    ~SafeFile();  // a file opened and not committed is removed
    SafeFile(const SafeFile&) = delete;
    SafeFile& operator=(const SafeFile&) = delete;

    // Makes the temporary file beside path. False with error set ("cannot write PATH: why").
    bool Open(const std::string& path, std::string& error);
    // Where the content goes between Open and Commit.
    std::ostream& Stream();
    // Flushes, syncs and renames over the target. False with error set, the target untouched
    // and the temporary file removed.
    bool Commit(std::string& error);

  private:
    class Buffer;
    void Discard();

    std::optional<FileId> never;
    std::string named, target, temporary;  // as given, as written, and the temporary
    int fd = -1;
    std::unique_ptr<Buffer> buffer;
    std::unique_ptr<std::ostream> stream;
};

// The whole of data as the file path, through a SafeFile.
bool WriteFileSafely(const std::string& path, const void* data, size_t size, std::string& error,
                     std::optional<FileId> never = std::nullopt);

}  // namespace tr4export
