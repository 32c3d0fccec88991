// Reading a whole file into memory: the one reader behind file_read_all,
// file_read_lines and the LDIF file references.
#pragma once

#include <cstddef>

namespace kestrin::file {

// Reads the whole file at path into a new malloc'd buffer with `spare`
// unused bytes after the data, and stores the data size in *size. A regular
// file is read with one buffer of its size; anything else (a pipe, a FIFO)
// is read to its end in a growing buffer. Returns NULL (errno set, *size 0)
// when the file cannot be opened or read, is a directory, is 2 GiB or
// larger (EFBIG), or memory runs out.
char *read_whole(const char *path, size_t spare, size_t *size);

}  // namespace kestrin::file
