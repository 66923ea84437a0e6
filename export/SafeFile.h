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
#include <vector>

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

    // Commit in two steps, for a batch that makes many files durable at once: Close writes out
    // and closes the temporary file (synced first when sync), Publish renames it over the target.
    // Each false with error set and the temporary file removed.
    bool Close(std::string& error, bool sync);
    bool Publish(std::string& error);
    // The temporary file's folder ("" for the working folder), while the file is open or closed.
    std::string Folder() const;

  private:
    class Buffer;
    void Discard();

    std::optional<FileId> never;
    std::string named, target, temporary;  // as given, as written, and the temporary
    int fd = -1;
    std::unique_ptr<Buffer> buffer;
    std::unique_ptr<std::ostream> stream;
};

// Many files written whole or not at all, for the commands that write a folder of them: each is
// written under its temporary name, then one flush of the file system (syncfs) makes them all
// durable before they are renamed over their targets. A sync a file cost about 4 ms on an ext4
// disk (190 pictures: 0.76 s); one syncfs for all of them about 20 ms. At most kMost files wait:
// the rest are committed as the batch fills, so a killed process leaves few temporary files.
class SafeFileBatch {
  public:
    static constexpr size_t kMost = 64;

    explicit SafeFileBatch(std::optional<FileId> never = std::nullopt) : never(never) {}
    // Files written and not committed are removed; their targets stay as they were.
    ~SafeFileBatch() = default;
    SafeFileBatch(const SafeFileBatch&) = delete;
    SafeFileBatch& operator=(const SafeFileBatch&) = delete;

    // Writes data as path's temporary file. False with error set when it cannot be written; the
    // files written before it are committed then, so they stay as a one-by-one write left them.
    bool Write(const std::string& path, const void* data, size_t size, std::string& error);
    // Takes a file written and closed (SafeFile::Close) into the batch; as Write.
    bool Adopt(std::unique_ptr<SafeFile> closed, std::string& error);
    // Makes every written file durable and renames it over its target. False with the first
    // error set; a file that failed leaves its target untouched.
    bool Commit(std::string& error);

  private:
    std::optional<FileId> never;
    std::vector<std::unique_ptr<SafeFile>> waiting;
};

// The whole of data as the file path, through a SafeFile.
bool WriteFileSafely(const std::string& path, const void* data, size_t size, std::string& error,
                     std::optional<FileId> never = std::nullopt);

}  // namespace tr4export
