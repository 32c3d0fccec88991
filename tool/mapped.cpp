#include "mapped.h"

#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>

namespace kestrin::tool {
namespace {

// What the fault handler needs: the window it covers. A signal handler can
// reach nothing else; only one MappedWindows installs it at a time.
struct Guard {
    char *volatile low = nullptr;
    char *volatile high = nullptr;
    size_t page = 4096;
    volatile sig_atomic_t faulted = 0;
    bool installed = false;
    struct sigaction previous {};
};
Guard guard;

void on_bus_error(int signal, siginfo_t *info, void *) {
    char *const at = static_cast<char *>(info->si_addr);
    if (at >= guard.low && at < guard.high) {
        // The file ended before the window did: zeros in the page's place
        // (mmap is a plain system call, safe here), and the pass told.
        const auto page = reinterpret_cast<char *>(reinterpret_cast<uintptr_t>(at) & ~(guard.page - 1));
        if (::mmap(page, guard.page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
            guard.faulted = 1;
            return;
        }
    }
    // Not ours: the default action once the instruction runs again.
    std::signal(signal, SIG_DFL);
}

}  // namespace

MappedWindows::MappedWindows(int fd, off_t start) : fd_(fd), start_(start) {
    if (guard.installed) return;  // another one is in use: this one never maps
    struct sigaction action {};
    action.sa_sigaction = on_bus_error;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (::sigaction(SIGBUS, &action, &guard.previous) != 0) return;
    const long page = ::sysconf(_SC_PAGESIZE);
    guard.page = page > 0 ? static_cast<size_t>(page) : 4096;
    guard.faulted = 0;
    guard.installed = guarded_ = true;
}

MappedWindows::~MappedWindows() {
    unmap();
    if (!guarded_) return;
    ::sigaction(SIGBUS, &guard.previous, nullptr);
    guard.installed = false;
}

void MappedWindows::unmap() {
    if (!base_) return;
    guard.low = nullptr;
    guard.high = nullptr;
    ::munmap(base_, length_);
    base_ = nullptr;
}

const char *MappedWindows::view(size_t from, size_t n) {
    unmap();
    if (!guarded_ || n == 0) return nullptr;
    const off_t at = start_ + static_cast<off_t>(from);
    const off_t aligned = at & ~static_cast<off_t>(guard.page - 1);
    const size_t lead = static_cast<size_t>(at - aligned);
    void *p = ::mmap(nullptr, n + lead, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, aligned);
    if (p == MAP_FAILED) return nullptr;
    base_ = static_cast<char *>(p);
    length_ = n + lead;
    guard.low = base_;
    guard.high = base_ + length_;
    return base_ + lead;
}

bool MappedWindows::faulted() const { return guarded_ && guard.faulted != 0; }

}  // namespace kestrin::tool
