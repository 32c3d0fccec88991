#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "util/alloc_internal.h"
#include "util/fd_internal.h"

namespace kestrin::fd {

void Fd::reset() {
    if (fd_ >= 0) {
        const int saved = errno;
        ::close(fd_);
        errno = saved;
    }
    fd_ = -1;
}

int Fd::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool Fd::close() { return ::close(release()) == 0; }

void free_keeping_errno(void *block) {
    const int saved = errno;
    std::free(block);
    errno = saved;
}

long read_some(int fd, char *buffer, size_t n) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, n);
        if (got >= 0 || errno != EINTR) return static_cast<long>(got);
    }
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

bool wait_readable(int fd) {
    pollfd watched{fd, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&watched, 1, -1);
        if (ready > 0) return true;
        if (ready < 0 && errno != EINTR) return false;
    }
}

bool set_blocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

Drained copy(int in, int out, std::span<char> chunk, long limit) {
    return drain(in, chunk, limit, [out](const char *bytes, size_t n) { return write_full(out, bytes, n); });
}

char *read_exact(int fd, size_t size, size_t spare) {
    char *buffer = static_cast<char *>(mem::allocate(size + spare));
    if (!buffer) {
        errno = ENOMEM;
        return nullptr;
    }
    mem::advise_huge_pages(buffer, size + spare);
    const long got = read_full(fd, buffer, size);
    if (got != static_cast<long>(size)) {
        if (got >= 0) errno = EIO;  // the data ended early (the file shrank)
        free_keeping_errno(buffer);
        return nullptr;
    }
    return buffer;
}

}  // namespace kestrin::fd
