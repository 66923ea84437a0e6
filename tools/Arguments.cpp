// How tr4tool's commands read their arguments and report a level's warnings.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>

#include "Commands.h"

namespace tr4tool {

bool ParseCount(const std::string& text, unsigned long long limit, unsigned long long& out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
    try {
        out = std::stoull(text);
        return out <= limit;
    } catch (const std::exception&) {
        return false;  // more digits than any limit
    }
}

std::string TakeOperand(const std::string& argument, std::vector<std::string>& operands) {
    if (!argument.empty() && argument[0] == '-' && argument != "-")
        return "unknown option '" + argument + "'";
    operands.push_back(argument);
    return "";
}

void PrintWarnings(const std::string& path, const std::vector<std::string>& warnings) {
    for (const std::string& w : warnings)
        std::fprintf(stderr, "tr4tool: %s: warning: %s\n", path.c_str(), w.c_str());
}

namespace {
bool outputClosed = false;
}

void KeepStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        if (fd == 1) outputClosed = true;
        // Writes to a closed standard output must still fail, as they would have.
        const int opened = open(fd == 1 ? "/dev/full" : "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

int FinishStandardOutput(int status) {
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout)) return status;
    const char* why = outputClosed ? "it is closed"
                      : error != 0 ? std::strerror(error)
                                   : "a write failed";
    std::fprintf(stderr, "tr4tool: cannot write to standard output: %s\n", why);
    return status == 0 ? 3 : status;
}

}  // namespace tr4tool
