/*
 * file - reading files into memory; copying files with their permission
 * bits, and replacing a file by a copy of another, with an optional backup
 * of the old one.
 *
 * mode, for both: 1 gives the copy the source's permission bits; a value
 * above 1 is the permission bits to set (including set-user-ID, set-group-ID
 * and sticky bits, e.g. 0644); 0 or below leaves the bits as the creation of
 * the file (or the existing file) had them.
 * Results are byte counts of at most 2 GiB - 1; a copy of 2 GiB or more
 * fails with -1 (errno EFBIG) before anything is written.
 */
#ifndef KESTRIN_UTIL_FILE_H
#define KESTRIN_UTIL_FILE_H

#include "../kestrin_api.h"

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

/*
 * file_read_all: the whole file in a new buffer of its size plus 10 spare
 * bytes (so buffer[*len] = 0 is safe); the data is not NUL-terminated.
 * Pipes, FIFOs and devices are read to the end their writers give: a FIFO
 * that no writer has open yet is waited for, as a blocking open waits, and
 * one whose writer opens and closes it without writing reads as empty.
 * Returns NULL with *len 0 when the file cannot be read whole, is a
 * directory, is 2 GiB or larger, or memory runs out. An empty file gives a
 * buffer and *len 0.
 */
char *file_read_all(const char *path, int *len) KESTRIN_NOEXCEPT;

/*
 * file_read_lines: one list entry per line, without its line feed (a
 * carriage return before it stays); a last line without a line feed is an
 * entry too. A line ends at its first NUL byte. Pipes, FIFOs and devices
 * are read as file_read_all reads them. Returns the string list with
 * *count entries; NULL with *count 0 when the file cannot be read, is empty,
 * or memory runs out.
 */
char **file_read_lines(const char *path, int *count) KESTRIN_NOEXCEPT;

/*
 * stream_read_words: the next line of stream (any length; its line feed and
 * a carriage return before it removed), cut at its first '#', split at
 * blanks (space, tab): each run of blanks separates once, so a leading or
 * trailing blank gives an empty first or last word. Returns a string list,
 * or NULL at the end of the stream, on a read error, for a blank line, for a
 * line that begins with '#', or when memory runs out (feof tells the end
 * apart).
 */
char **stream_read_words(FILE *stream) KESTRIN_NOEXCEPT;

/*
 * file_copy: copies the contents of src onto dst (created, or truncated),
 * then applies mode. Writes no message.
 * Returns the number of bytes copied, or -1 when src cannot be examined or
 * opened (or is a directory), dst cannot be opened, a read or write fails,
 * or src and dst are the same file (same device and inode, also through
 * links: nothing is touched then).
 */
int file_copy(const char *dst, const char *src, int mode) KESTRIN_NOEXCEPT;

/*
 * file_replace: puts a copy of src in the place of dst. A symbolic link at
 * dst is removed (its target is left alone) and replaced by a regular file;
 * an existing regular dst is first copied to backup (when backup is not
 * NULL; the backup gets the old file's permission bits) and then removed.
 * src is opened before anything is removed or backed up, so a source that
 * cannot be read never costs the old destination.
 * Returns the number of bytes copied from src, or -1 after one of these
 * messages on stderr:
 *   "Failed to stat %s: %s\n"                          src cannot be examined
 *   "%s is not a regular file, refusing to remove it\n" dst is a directory,
 *                                                       device, FIFO or socket
 *   "%s and %s are the same file\n"                     src and dst (or backup)
 *                                                       are one file
 *   "Failed to open %s for reading: %s\n"               src or the old dst
 *   "Failed to open %s for writing: %s\n"               backup or dst
 *   "Failed to copy %s to %s: %s\n"                     a read or write failed
 * "Failed to set permission on %s: %s\n" reports a failed permission change
 * of backup or dst; the result is not affected.
 */
int file_replace(const char *dst, const char *src, const char *backup, int mode) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
