// File-descriptor helpers shared by the file readers, file copy and the
// tool's input: a descriptor closed on scope exit, whole reads and writes
// that retry on interruption, and an exact-size read into a new buffer.
// Every helper leaves errno telling the system's reason for a failure.
#pragma once

#include <cstddef>

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

// Reads until n bytes are in or the data ends. The bytes read, or -1 on a
// read error.
long read_full(int fd, char *buffer, size_t n);

// Writes all n bytes; false on a write error.
bool write_full(int fd, const char *bytes, size_t n);

// Reads exactly size bytes into a new malloc'd buffer with `spare` bytes
// after them. NULL when memory runs out (ENOMEM), a read fails, or the data
// ends early (EIO).
char *read_exact(int fd, size_t size, size_t spare);

}  // namespace kestrin::fd
