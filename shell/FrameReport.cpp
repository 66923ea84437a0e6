#include "FrameReport.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace tr4 {

namespace {
int reportTo = -1;  // the descriptor still to be told; -1 once told, or when there is none
}

void TakeFrameReportDescriptor() {
    reportTo = -1;
    const char* text = std::getenv("TR4_REPORT_FRAME_FD");
    if (!text) return;
    int fd = -1;
    const char* end = text + std::strlen(text);
    const auto [stop, failed] = std::from_chars(text, end, fd);
    if (failed == std::errc() && stop == end && *text && fd >= 0 && fcntl(fd, F_GETFD) != -1) {
        reportTo = fd;
        // Only the viewer tells; a program it might start must not hold the pipe open.
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    unsetenv("TR4_REPORT_FRAME_FD");
}

void ReportFramePresented(bool listFilled) {
    if (!listFilled || reportTo < 0) return;
    const int fd = reportTo;
    reportTo = -1;
    // A reader that has gone away raises SIGPIPE, which would end the viewer: held back for the
    // write, and taken if it came.
    sigset_t pipeSignal, before;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    const char byte = 'F';
    ssize_t written = 0;
    do {
        written = write(fd, &byte, 1);
    } while (written < 0 && errno == EINTR);
    if (written < 0 && errno == EPIPE) {
        const timespec now{};
        sigtimedwait(&pipeSignal, nullptr, &now);
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    close(fd);
}

}  // namespace tr4
