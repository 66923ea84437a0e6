#include "FileBytes.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace tr4 {
namespace {

std::atomic<void (*)(int)> readHook{nullptr};

// The mappings under guard: a handful at most live at once (one per load in progress).
struct GuardSlot {
    std::atomic<bool> used{false};
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> lost{false};
};
constexpr int kGuardSlots = 32;
GuardSlot guards[kGuardSlots];
struct sigaction previousBus {};
std::once_flag guardInstalled;

void OnBus(int signal, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<uintptr_t>(info->si_addr);
    const auto pageSize = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    for (GuardSlot& slot : guards) {
        if (at < slot.begin.load() || at >= slot.end.load()) continue;
        // The file lost this page: zeros in its place, and the load is told afterwards.
        void* page = reinterpret_cast<void*>(at & ~(pageSize - 1));
        if (mmap(page, pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
            MAP_FAILED) {
            slot.lost.store(true);
            return;
        }
    }
    // Not one of ours: whoever handled SIGBUS before does, or the default ends the process when
    // the faulting access runs again on return.
    sigaction(SIGBUS, &previousBus, nullptr);
    if (previousBus.sa_flags & SA_SIGINFO) {
        if (previousBus.sa_sigaction) previousBus.sa_sigaction(signal, info, context);
    } else if (previousBus.sa_handler != SIG_DFL && previousBus.sa_handler != SIG_IGN) {
        previousBus.sa_handler(signal);
    } else if (info->si_code <= 0) {
        raise(signal);  // sent, not a fault: it would not come again by itself
    }
}

void InstallGuard() {
    struct sigaction action {};
    action.sa_sigaction = OnBus;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &previousBus);
}

// A free slot now covering [begin, end), or -1 when all are taken.
int Guard(const void* memory, size_t bytes) {
    std::call_once(guardInstalled, InstallGuard);
    for (int i = 0; i < kGuardSlots; ++i) {
        bool used = false;
        if (guards[i].used.compare_exchange_strong(used, true)) {
            guards[i].lost.store(false);
            guards[i].begin.store(reinterpret_cast<uintptr_t>(memory));
            guards[i].end.store(reinterpret_cast<uintptr_t>(memory) + bytes);
            return i;
        }
    }
    return -1;
}

void Unguard(int slot) {
    guards[slot].begin.store(0);
    guards[slot].end.store(0);
    guards[slot].used.store(false);
}

bool SameFile(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

void SetFileReadHook(void (*hook)(int fd)) {
    readHook.store(hook);
}

FileBytes::~FileBytes() {
    Release();
}

void FileBytes::Release() {
    // Unmapped before the guard goes, so no access can fault in between unguarded.
    if (mapping) munmap(mapping, size);
    if (guard >= 0) Unguard(guard);
    mapping = nullptr;
    guard = -1;
    Bytes().swap(copy);
    data = nullptr;
    size = 0;
}

bool FileBytes::Open(int file, const struct stat& info, std::string& error) {
    Release();
    fd = file;
    taken = info;
    const size_t bytes = static_cast<size_t>(info.st_size);
    size = bytes;
    if (bytes == 0) return true;
    // Populated at once: the whole file is read front to back anyway, and faulting it in page
    // by page costs more.
    void* m = mmap(nullptr, bytes, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
    if (m != MAP_FAILED) {
        guard = Guard(m, bytes);
        if (guard >= 0) {
            mapping = m;
            data = static_cast<const uint8_t*>(m);
            if (void (*hook)(int) = readHook.load()) hook(fd);
            return true;
        }
        munmap(m, bytes);
    }
    copy.resize(bytes);
    size_t got = 0;
    while (got < bytes) {
        const ssize_t n = pread(fd, copy.data() + got, bytes - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            error = n < 0 ? std::string("cannot read: ") + std::strerror(errno) : kFileChanged;
            Release();
            return false;
        }
        got += static_cast<size_t>(n);
    }
    data = copy.data();
    if (void (*hook)(int) = readHook.load()) hook(fd);
    return true;
}

bool FileBytes::Changed(std::string& error) const {
    struct stat now {};
    const bool lost = guard >= 0 && guards[guard].lost.load();
    if (!lost && fstat(fd, &now) == 0 && SameFile(now, taken)) return false;
    error = kFileChanged;
    return true;
}

}  // namespace tr4
