// The tool's descriptor I/O: a descriptor closed on scope exit, copies from
// one descriptor to another up to a size limit (by splicing, or in chunks),
// and an exact-size read into a new buffer. The tool builds on the library's
// public headers only, so it keeps these few helpers of its own. Every
// helper leaves errno telling the system's reason for a failure.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace kestrin::tool {

// Closes its descriptor on scope exit without disturbing errno.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(Fd &&other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Fd &operator=(Fd &&other) noexcept;
    ~Fd();
    int get() const { return fd_; }

private:
    int fd_;
};

// free() that keeps errno.
void free_keeping_errno(void *block);

// Reads until n bytes are in or the data ends: the count, or -1.
long read_full(int fd, char *buffer, size_t n);

// The same from a given offset, leaving the file offset alone.
long pread_full(int fd, char *buffer, size_t n, long offset);

// Writes all n bytes; false on a write error.
bool write_full(int fd, const char *bytes, size_t n);

// How a copy ended.
enum class CopyEnd { kDone, kReadFailed, kWriteFailed, kTooLarge };

struct Copied {
    long total;  // bytes copied
    CopyEnd end;
};

// Copies in to out until the end of in, reading into chunk and writing each
// read whole. A read that would take the total past limit ends the copy with
// kTooLarge (errno EFBIG) before it is written.
Copied copy(int in, int out, std::span<char> chunk, long limit);

// The same inside the kernel, for an input that is a pipe. Nothing (and
// nothing read) when in is no pipe. Past limit the copy ends with kTooLarge
// (errno EFBIG) after the last move.
std::optional<Copied> splice_all(int in, int out, long limit);

// Reads exactly size bytes into a new malloc'd buffer with `spare` bytes
// after them. NULL when memory runs out (ENOMEM), a read fails, or the data
// ends early (EIO).
char *read_exact(int fd, size_t size, size_t spare);

}  // namespace kestrin::tool
