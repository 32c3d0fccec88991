/*
 * file - copying files with their permission bits, and replacing a file by a
 * copy of another, with an optional backup of the old one.
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

#ifdef __cplusplus
extern "C" {
#endif

/*
 * file_copy: copies the contents of src onto dst (created, or truncated),
 * then applies mode. Writes no message.
 * Returns the number of bytes copied, or -1 when src cannot be examined or
 * opened (or is a directory), dst cannot be opened, a read or write fails,
 * or src and dst are the same file (same device and inode, also through
 * links: nothing is touched then).
 */
int file_copy(const char *dst, const char *src, int mode);

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
int file_replace(const char *dst, const char *src, const char *backup, int mode);

#ifdef __cplusplus
}
#endif

#endif
