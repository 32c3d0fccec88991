#include "io.h"

#include <fcntl.h>  // splice (GNU)
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace kestrin::tool {
namespace {

// One read, repeated when a signal interrupts it: the bytes read, 0 at the
// end of the data, or -1.
long read_some(int fd, char *buffer, size_t n) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, n);
        if (got >= 0 || errno != EINTR) return static_cast<long>(got);
    }
}

// Whole 2 MiB pages for a buffer of many megabytes: it is written once, and
// page faults would dominate the time of that.
void advise_huge_pages(void *block, size_t size) {
    constexpr std::uintptr_t kHuge = 2u << 20;
    if (size < 4 * kHuge) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(block) + kHuge - 1) & ~(kHuge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kHuge - 1);
    if (end > start) ::madvise(reinterpret_cast<void *>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace

Fd &Fd::operator=(Fd &&other) noexcept {
    if (this != &other) {
        Fd old(fd_);
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

Fd::~Fd() {
    if (fd_ < 0) return;
    const int saved = errno;
    ::close(fd_);
    errno = saved;
}

long read_full(int fd, char *buffer, size_t n) {
    size_t done = 0;
    while (done < n) {
        const long got = read_some(fd, buffer + done, n - done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<long>(done);
}

long pread_full(int fd, char *buffer, size_t n, long offset) {
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, buffer + done, n - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<long>(done);
}

bool write_full(int fd, const char *bytes, size_t n) {
    while (n > 0) {
        const ssize_t put = ::write(fd, bytes, n);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        bytes += put;
        n -= static_cast<size_t>(put);
    }
    return true;
}

void free_keeping_errno(void *block) {
    const int saved = errno;
    std::free(block);
    errno = saved;
}

Copied copy(int in, int out, std::span<char> chunk, long limit) {
    long total = 0;
    for (;;) {
        const long got = read_some(in, chunk.data(), chunk.size());
        if (got < 0) return {total, CopyEnd::kReadFailed};
        if (got == 0) return {total, CopyEnd::kDone};
        if (got > limit - total) {
            errno = EFBIG;
            return {total, CopyEnd::kTooLarge};
        }
        if (!write_full(out, chunk.data(), static_cast<size_t>(got))) return {total, CopyEnd::kWriteFailed};
        total += got;
    }
}

std::optional<Copied> splice_all(int in, int out, long limit) {
    long total = 0;
    for (;;) {
        const ssize_t got = ::splice(in, nullptr, out, nullptr, 1 << 20, SPLICE_F_MOVE);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && total == 0 && errno == EINVAL) return std::nullopt;
        if (got < 0) return Copied{total, errno == ENOSPC || errno == EIO ? CopyEnd::kWriteFailed : CopyEnd::kReadFailed};
        if (got == 0) return Copied{total, CopyEnd::kDone};
        if (got > limit - total) {
            errno = EFBIG;
            return Copied{total, CopyEnd::kTooLarge};
        }
        total += got;
    }
}

char *read_exact(int fd, size_t size, size_t spare) {
    char *buffer = static_cast<char *>(std::malloc(size + spare));
    if (!buffer) {
        errno = ENOMEM;
        return nullptr;
    }
    advise_huge_pages(buffer, size + spare);
    size_t done = 0;
    while (done < size) {
        const long got = read_some(fd, buffer + done, size - done);
        if (got <= 0) {
            if (got == 0) errno = EIO;  // the data ended early (the file shrank)
            free_keeping_errno(buffer);
            return nullptr;
        }
        done += static_cast<size_t>(got);
    }
    return buffer;
}

}  // namespace kestrin::tool
