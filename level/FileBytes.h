#pragma once
// A regular file's bytes in memory, read-only, for the length of one load: mapped, and guarded
// against the file being cut short meanwhile.
//
// A mapping costs neither the copy of the bytes nor fresh pages to copy them into (on the real
// level, reading into new pages made the whole load a tenth slower). But an editor that saves the
// level while it is read may cut the file short, and touching a mapped page past the new end
// raises SIGBUS, which would kill the process wherever the decoder happens to be. So while a
// FileBytes lives, a SIGBUS on its pages puts a page of zeros in place of the lost one and marks
// the file as changed: the load runs to its end over bytes that are only wrong, never over
// memory that is gone, and Changed() then refuses what it made. Zeros are just another damaged
// file to the reader, which the fuzzers feed anything. A SIGBUS anywhere else goes on to whoever
// handled it before (by default, it ends the process as it always did).
//
// Where the file cannot be mapped it is read into the heap instead.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "Level.h"

namespace tr4 {

// The reason given for a file whose size or contents changed while it was read.
inline constexpr const char* kFileChanged = "the file changed while it was read";

class FileBytes {
  public:
    FileBytes() = default;
    ~FileBytes();
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    // Takes the bytes of the open regular file fd, which was of taken.st_size bytes when taken
    // was filled (the caller keeps fd open for as long as this lives). False when they can be
    // neither mapped nor read whole; error then says why.
    bool Open(int fd, const struct stat& taken, std::string& error);

    // After the bytes were used: true when the file is no longer what taken described (cut
    // short, grown, rewritten) or lost pages while it was read. What was made of its bytes may
    // then be part old and part new, or zeros; error is set to kFileChanged.
    bool Changed(std::string& error) const;

    const uint8_t* Data() const { return data; }
    size_t Size() const { return size; }

  private:
    void Release();

    const uint8_t* data = nullptr;
    size_t size = 0;
    int fd = -1;
    struct stat taken {};
    void* mapping = nullptr;
    int guard = -1;  // the slot of the SIGBUS guard that covers the mapping
    Bytes copy;      // when mapping was not possible
};

// For tests: called with fd once the file is mapped (or read) and before its bytes are used,
// where an editor saving the file would cut it short or rewrite it. Null (the default) does
// nothing.
void SetFileReadHook(void (*hook)(int fd));

}  // namespace tr4
