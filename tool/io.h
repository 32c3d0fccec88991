// The tool's descriptor I/O. The retrying reads and writes and the chunked
// copy are the library's (util/fd_internal.h); the tool adds a descriptor
// owner that can be moved, a positioned read, and a copy inside the kernel
// for a pipe. Every helper leaves errno telling the system's reason for a
// failure.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

// The library's descriptor helpers are internal to it: they are no part of
// its C interface (which reads and writes files by name), and the tool, built
// and shipped with the library and linked to it statically, reuses them
// rather than keeping a second copy of the same retrying reads and writes.
#include "util/fd_internal.h"

namespace kestrin::tool {

// How writing the run's result to a descriptor ended. kInputFailed: the
// input changed since it was checked or could not be kept apart from the
// output (its message has been written); kOutputFailed: a write failed,
// errno tells why.
enum class Written { kOk, kInputFailed, kOutputFailed };

using fd::copy;
using fd::Drained;
using fd::End;
using fd::free_keeping_errno;
using fd::read_full;
using fd::write_full;

// Closes its descriptor on scope exit without disturbing errno; the owner
// can be handed on.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd &operator=(Fd &&other) noexcept;
    ~Fd();
    int get() const { return fd_; }
    // Hands the descriptor over (to be closed by the caller).
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Bytes to a descriptor: short pieces gathered in a buffer, long ones
// written through. Each call is false once a write has failed (error()
// tells errno's value then).
class Output {
public:
    explicit Output(int fd);
    bool put(const char *p, size_t n);
    // Writes what is gathered.
    bool flush();
    int error() const { return error_; }

private:
    static constexpr size_t kSize = size_t{64} << 10;
    bool write(const char *p, size_t n);

    int fd_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    int error_ = 0;
};

// The directory part of a path, with its final '/' ("" for a bare name).
std::string directory_of(const std::string &path);

// Flushes a directory's entries (a rename in it) to disk, best effort; ""
// is the current directory.
void sync_directory(const std::string &dir);

// Gives the file open at fd the owner and group of `old` where that is
// allowed (as root); otherwise it stays the writer's.
void keep_owner(int fd, const struct stat &old);

// Reads from a given offset until n bytes are in or the data ends, leaving
// the file offset alone: the count, or -1.
long pread_full(int fd, char *buffer, size_t n, long offset);

// Copies in to out until the end of in, inside the kernel, for an input that
// is a pipe; the result reads as copy()'s. Nothing (and nothing read) when
// in is no pipe. Past limit the copy ends with kTooLarge (errno EFBIG) after
// the last move.
std::optional<Drained> splice_all(int in, int out, long limit);

}  // namespace kestrin::tool
