/*
 * ldif - LDIF (RFC 2849) text: writing attribute lines.
 *
 * Line forms, each ending in one line feed (no carriage return is written):
 *   plain "name: value", base64 "name:: text", URL "name:< url", and the
 *   separator line (a lone line feed) for an empty or absent name.
 * A line longer than 78 characters (line feed included) is folded: the first
 * 77 characters of the unfolded line, a line feed, then one space and the next
 * 76 characters per line.
 */
#ifndef KESTRIN_LDIF_LDIF_H
#define KESTRIN_LDIF_LDIF_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef enum ldif_encoding {
    LDIF_ENC_AUTO = 0,   /* plain when safe, else base64 */
    LDIF_ENC_BASE64 = 1, /* always base64, over exactly value_len bytes */
    LDIF_ENC_AUTO8 = 2,  /* as AUTO, but bytes 0x80-0xFF stay plain (UTF-8) */
    LDIF_ENC_URL = 3,    /* the value text as it is, in the URL form */
    LDIF_ENC_GUESS = 4   /* as AUTO */
} ldif_encoding;

/*
 * ldif_write_attr: appends one attribute line for name and value to a heap
 * text buffer.
 *   buffer/count: with *count == 0 a new buffer is allocated (a buffer passed
 *   in is neither used nor freed); with *count > 0 buffer must be a malloc'd
 *   buffer holding *count characters, and it is grown (it may move) and the
 *   line appended. On success *count grows by the characters appended and a
 *   NUL (not counted) follows the text.
 *   name: the attribute description. Empty or NULL writes only the separator
 *   line (one line feed). ";binary" anywhere in it prints the name up to its
 *   first ';' with "::"; else ";filename" prints it up to its first ';' with
 *   ":<". A name holding a line feed, a carriage return or a colon, or
 *   beginning with a space, is refused.
 *   value/value_len/mode: modes AUTO, AUTO8, GUESS (and unknown modes) take
 *   the value as text up to its first NUL and write it plain unless it begins
 *   with a space, ':' or '<', or holds a line feed or carriage return, or
 *   (not in AUTO8) a byte 0x80-0xFF; an unsafe value is written in base64.
 *   When value_len > 0 and a NUL lies in the first value_len bytes, all
 *   value_len bytes are written in base64. BASE64 encodes exactly value_len
 *   bytes. URL writes the text up to the first NUL, never encoded.
 * Returns the buffer, or NULL when:
 *   - the name is refused, the text would not fit an int count (errno is then
 *     EOVERFLOW), or the buffer cannot be allocated or grown: the caller's
 *     buffer is still valid and unchanged;
 *   - the base64 working buffer cannot be allocated ("Failed to allocate
 *     base64 buffer\n" on stderr) or the encoder fails ("Failed to encode
 *     binary value: %d\n"): the caller's buffer has been freed.
 */
char *ldif_write_attr(char *buffer, int *count, const char *name,
                      const char *value, int value_len, int mode);

/*
 * ldif_fwrite_attr: writes one attribute line (as ldif_write_attr builds it)
 * to stream. Returns the number of characters written; 0 when the line could
 * not be built (nothing is written then).
 */
int ldif_fwrite_attr(FILE *stream, const char *name,
                     const char *value, int value_len, int mode);

#ifdef __cplusplus
}
#endif

#endif
