/*
 * input - the tool's value: the whole of standard input or of a named file,
 * read into one heap buffer with one spare byte after the data (for a NUL the
 * caller may store). Bytes are taken as they are, NUL bytes included.
 *
 * *length receives the byte count (0 for an empty input) or a negative
 * status; the buffer is returned (the caller frees it) only when the count is
 * greater than 0. On a negative status errno tells the system's reason.
 *   -1  the path cannot be opened for reading, the input is a directory,
 *       or the temporary file cannot be created
 *   -3  the copy buffer cannot be allocated
 *   -4  the temporary file cannot be written
 *   -5  the result buffer cannot be allocated
 *   -6  the temporary file cannot be read back from its start
 *   -7  a read failed, or fewer bytes arrived than the file's size
 *   -8  the input is 2 GiB or larger (errno EFBIG)
 *
 * A regular file (also as standard input) is read from its current offset
 * to its end into a buffer of its size. Any other input (a pipe, a FIFO, a
 * terminal) is first copied in chunks of 65025 bytes to a temporary file made
 * from "/tmp/zan_inputXXXXXX", whose name is removed as soon as it exists;
 * the data is then read back through the open descriptor into a buffer of
 * exactly the right size. Nothing is left in /tmp, even when the process is
 * killed.
 */
#ifndef KESTRIN_TOOL_INPUT_H
#define KESTRIN_TOOL_INPUT_H

#include "kestrin_api.h" /* KESTRIN_NOEXCEPT */

#ifdef __cplusplus
extern "C" {
#endif

char *input_read_stdin(int *length) KESTRIN_NOEXCEPT;
char *input_read_file(const char *path, int *length) KESTRIN_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
