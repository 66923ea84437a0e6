#include "SafeFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <streambuf>
#include <vector>

namespace tr4export {

// A stream buffer over a file descriptor that keeps the first error's errno, so that the reason a
// write failed ("No space left on device") reaches the message.
class SafeFile::Buffer : public std::streambuf {
  public:
    explicit Buffer(int fd) : fd(fd), space(1 << 16) {
        setp(space.data(), space.data() + space.size());
    }

    int error = 0;

    bool Flush() {
        const char* at = pbase();
        size_t left = static_cast<size_t>(pptr() - pbase());
        while (left > 0 && error == 0) {
            const ssize_t n = ::write(fd, at, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            at += n;
            left -= static_cast<size_t>(n);
            written += static_cast<uint64_t>(n);
        }
        setp(space.data(), space.data() + space.size());
#ifdef __linux__
        // Every file is made durable once whole: each mebibyte written starts on its way to the
        // disk at once, so that the sync at the end waits for the last part only (an export's
        // sync took 2.5 ms of its 40). Only a hint; a failure shows at the sync.
        if (written - hinted >= kHintBytes) {
            ::sync_file_range(fd, static_cast<off_t>(hinted), static_cast<off_t>(written - hinted),
                              SYNC_FILE_RANGE_WRITE);
            hinted = written;
        }
#endif
        return error == 0;
    }

  protected:
    int_type overflow(int_type c) override {
        if (!Flush()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override {
        return Flush() ? 0 : -1;
    }
    // A binary glTF's header is written last, its lengths known only at the end.
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        if (!Flush()) return pos_type(off_type(-1));
        const int whence = dir == std::ios_base::beg   ? SEEK_SET
                           : dir == std::ios_base::cur ? SEEK_CUR
                                                       : SEEK_END;
        const off_t at = ::lseek(fd, off, whence);
        return at < 0 ? pos_type(off_type(-1)) : pos_type(at);
    }
    pos_type seekpos(pos_type at, std::ios_base::openmode mode) override {
        return seekoff(off_type(at), std::ios_base::beg, mode);
    }

  private:
    static constexpr uint64_t kHintBytes = 1 << 20;
    int fd;
    std::vector<char> space;
    uint64_t written = 0, hinted = 0;
};

namespace {

std::string Reason(const std::string& path, int error) {
    return "cannot write " + path + ": " + std::strerror(error);
}

// The mode a new file gets from the process's umask, read without changing it for other threads.
mode_t NewFileMode() {
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::strncmp(line, "Umask:", 6) == 0)
                mask = static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8));
        std::fclose(status);
    }
    return 0666 & ~mask;
}

// Read once: an export of many objects writes many files.
const mode_t kNewFileMode = NewFileMode();

}  // namespace

std::optional<FileId> IdOf(const std::string& path) {
    struct stat s {};
    if (::stat(path.c_str(), &s) != 0) return std::nullopt;
    return FileId{s.st_dev, s.st_ino};
}

SafeFile::SafeFile(std::optional<FileId> never) : never(never) {}

SafeFile::~SafeFile() {
    Discard();
}

void SafeFile::Discard() {
    stream.reset();
    buffer.reset();
    if (fd >= 0) ::close(fd);
    fd = -1;
    if (!temporary.empty()) ::unlink(temporary.c_str());
    temporary.clear();
}

bool SafeFile::Open(const std::string& path, std::string& error) {
    Discard();
    named = path;
    target = path;
    // A symlink is followed, so that the file it names is replaced and the link stays.
    struct stat link {};
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    if (never && IdOf(target) == never) {
        error = "cannot write " + path + ": it is the level being read";
        return false;
    }
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        error = Reason(path, errno);
        return false;
    }
    temporary = pattern;
    struct stat existing {};
    const mode_t mode = ::stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)
                            ? (existing.st_mode & 07777)
                            : kNewFileMode;
    ::fchmod(fd, mode);
    buffer = std::make_unique<Buffer>(fd);
    stream = std::make_unique<std::ostream>(buffer.get());
    return true;
}

std::ostream& SafeFile::Stream() {
    return *stream;
}

bool SafeFile::Commit(std::string& error) {
    return Close(error, true) && Publish(error);
}

bool SafeFile::Close(std::string& error, bool sync) {
    if (fd < 0) {
        error = "cannot write " + named + ": it was not opened";
        return false;
    }
    const bool streamed = static_cast<bool>(stream->flush()) && buffer->Flush();
    int why = buffer->error;
    if (streamed && why == 0 && sync && ::fsync(fd) != 0) why = errno;
    if (why == 0 && !streamed) why = EIO;
    if (why == 0 && ::close(fd) != 0)
        why = errno;
    else if (why != 0)
        ::close(fd);
    fd = -1;
    if (why != 0) {
        error = Reason(named, why);
        Discard();
        return false;
    }
    return true;
}

bool SafeFile::Publish(std::string& error) {
    if (temporary.empty()) {
        error = "cannot write " + named + ": it was not written";
        return false;
    }
    if (never && IdOf(target) == never) {
        error = "cannot write " + named + ": it is the level being read";
        Discard();
        return false;
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        error = Reason(named, errno);
        Discard();
        return false;
    }
    temporary.clear();
    Discard();
    return true;
}

std::string SafeFile::Folder() const {
    const size_t slash = temporary.rfind('/');
    return slash == std::string::npos ? "" : temporary.substr(0, slash + 1);
}

bool SafeFileBatch::Write(const std::string& path, const void* data, size_t size,
                          std::string& error) {
    auto file = std::make_unique<SafeFile>(never);
    bool written = file->Open(path, error);
    if (written) {
        file->Stream().write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
        written = file->Close(error, false);
    }
    if (!written) {
        std::string ignored;
        Commit(ignored);
        return false;
    }
    return Adopt(std::move(file), error);
}

bool SafeFileBatch::Adopt(std::unique_ptr<SafeFile> closed, std::string& error) {
    waiting.push_back(std::move(closed));
    return waiting.size() < kMost || Commit(error);
}

bool SafeFileBatch::Commit(std::string& error) {
    std::vector<std::unique_ptr<SafeFile>> files = std::move(waiting);
    waiting.clear();
    std::vector<std::string> synced;
    bool ok = true;
    for (auto& file : files) {
        if (!file) continue;
        const std::string folder = file->Folder();
        if (std::find(synced.begin(), synced.end(), folder) != synced.end()) continue;
        synced.push_back(folder);
        const int dir =
            ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        const int why = dir < 0 ? errno : ::syncfs(dir) != 0 ? errno : 0;
        if (dir >= 0) ::close(dir);
        if (why != 0) {
            // Not known to be on the disk: none of this folder's files replace their targets.
            if (ok) error = "cannot write " + folder + ": " + std::strerror(why);
            ok = false;
            for (auto& other : files)
                if (other && other->Folder() == folder) other.reset();
        }
    }
    for (auto& file : files) {
        std::string why;
        if (file && !file->Publish(why) && ok) {
            error = why;
            ok = false;
        }
    }
    return ok;
}

bool WriteFileSafely(const std::string& path, const void* data, size_t size, std::string& error,
                     std::optional<FileId> never) {
    SafeFile file(never);
    if (!file.Open(path, error)) return false;
    file.Stream().write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return file.Commit(error);
}

}  // namespace tr4export
