// File-descriptor helpers shared by the file readers, file copy, the SHA-1
// file digest and the LDIF file loaders: a descriptor closed on scope exit,
// reads and writes that retry on interruption, a wait for a stream's first
// data, a read of a descriptor to its end in chunks (with a size limit), and
// an exact-size read into a new buffer. Every helper leaves errno telling
// the system's reason for a failure.
#pragma once

#include <cerrno>
#include <cstddef>
#include <span>

namespace kestrin::fd {

// Closes its descriptor on scope exit without disturbing errno.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }
    int get() const { return fd_; }
    void reset();
    int release();  // hands the descriptor over
    bool close();   // closes now; false when close reports an error

private:
    int fd_;
};

// free() that keeps errno.
void free_keeping_errno(void *block);

// One read of at most n bytes, repeated when a signal interrupts it: the
// bytes read, 0 at the end of the data, or -1 on a read error.
long read_some(int fd, char *buffer, size_t n);

// Reads until n bytes are in or the data ends. The bytes read, or -1 on a
// read error.
long read_full(int fd, char *buffer, size_t n);

// Writes all n bytes; false on a write error.
bool write_full(int fd, const char *bytes, size_t n);

// Waits, without a time limit, until poll reports fd readable, hung up or in
// error, repeating the wait when a signal interrupts it; false when poll
// fails. A FIFO opened without waiting before any writer had it open reports
// neither data nor hang-up until a writer has come (while a read of it gives
// the end at once): this is the wait for that first writer.
bool wait_readable(int fd);

// Clears O_NONBLOCK on fd; false when fcntl fails.
bool set_blocking(int fd);

// How a drain (or copy) ended.
enum class End { kData, kReadFailed, kSinkFailed, kTooLarge };

struct Drained {
    long total;  // bytes handed on
    End end;
};

// Reads fd to the end of its data, each read into chunk, and hands the bytes
// of each read to sink(bytes, n), which returns false to stop (kSinkFailed,
// errno as the sink left it). A read that would take the total past limit
// stops the drain with kTooLarge (errno EFBIG) before the sink sees it.
template <class Sink>
Drained drain(int fd, std::span<char> chunk, long limit, Sink sink) {
    long total = 0;
    for (;;) {
        const long got = read_some(fd, chunk.data(), chunk.size());
        if (got < 0) return {total, End::kReadFailed};
        if (got == 0) return {total, End::kData};
        if (got > limit - total) {
            errno = EFBIG;
            return {total, End::kTooLarge};
        }
        if (!sink(chunk.data(), static_cast<size_t>(got))) return {total, End::kSinkFailed};
        total += got;
    }
}

// Copies in to out until the end of in: a drain whose sink writes every
// chunk whole (kSinkFailed is a write error).
Drained copy(int in, int out, std::span<char> chunk, long limit);

// Reads exactly size bytes into a new malloc'd buffer with `spare` bytes
// after them. NULL when memory runs out (ENOMEM), a read fails, or the data
// ends early (EIO).
char *read_exact(int fd, size_t size, size_t spare);

}  // namespace kestrin::fd
