/*
 * base64 - RFC 4648 base64 (standard alphabet, '=' padding) over caller
 * buffers. No operation allocates or writes messages.
 */
#ifndef KESTRIN_CODEC_BASE64_H
#define KESTRIN_CODEC_BASE64_H

#include "../kestrin_api.h"

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

/*
 * base64_encoded_size: the number of characters base64_encode writes for n
 * bytes, 4 * ceil(n / 3), the NUL not counted (0 for n = 0). Returns SIZE_MAX
 * when that number does not fit in a size_t.
 */
size_t base64_encoded_size(size_t n) KESTRIN_NOEXCEPT;

/*
 * base64_encode: encodes src_len bytes of src as one unbroken run of
 * 4 * ceil(src_len / 3) characters (no line breaks), padded with '=', and
 * stores a NUL after them.
 *   out_size must be at least 4 * ceil(src_len / 3) + 1.
 * Returns the number of characters written (the NUL not counted), or -1 when
 * the text and its NUL do not fit in out_size (the whole groups that did fit
 * stay in out) or when the text would be 2 GiB or longer.
 */
int base64_encode(const unsigned char *src, size_t src_len, char *out, size_t out_size) KESTRIN_NOEXCEPT;

/*
 * base64_decode: decodes the NUL-terminated text into out.
 *   Whitespace (space, \t, \n, \v, \f, \r) is skipped anywhere, also around
 *   and between pad characters. Padding is required: the alphabet characters
 *   must come in groups of four. Only whitespace may follow the padding.
 *   Bytes 0x80-0xFF, '-' and '_' are malformed.
 *   out may be NULL: the text is then only validated (alphabet, grouping,
 *   padding) and the count returned. Otherwise out_size bytes are usable; a
 *   text ending in a partial group needs one byte more than the decoded data,
 *   because the next partial byte is stored before it is complete.
 *   The unused low bits of the last character before the padding must be
 *   zero, but they are checked only when out is given: with a NULL out, "QR=="
 *   counts 1 byte, with a buffer it is malformed.
 * Returns the number of bytes decoded (0 for an empty or all-whitespace text),
 * or -1 for a NULL text, malformed text, an output buffer that is too small,
 * or decoded data of 2 GiB or more. On -1 the bytes decoded before the fault
 * may have been written to out.
 */
int base64_decode(const char *text, unsigned char *out, size_t out_size) KESTRIN_NOEXCEPT;

/*
 * base64_decode_n: base64_decode over the text_len characters at text, which
 * need no NUL after them. A NUL byte among them is malformed. out, out_size
 * and the unused-bits rule are as for base64_decode.
 * Returns the number of bytes decoded (0 when text_len is 0 or the span is
 * all whitespace), or -1 for a NULL text, malformed text, an output buffer
 * that is too small, or decoded data of 2 GiB or more.
 */
int base64_decode_n(const char *text, size_t text_len, unsigned char *out, size_t out_size) KESTRIN_NOEXCEPT;

/*
 * base64 in pieces: text or bytes that arrive in pieces of any size (a
 * stream, a file read a block at a time), decoded or encoded to exactly
 * what the whole-buffer functions give for all the pieces together. The
 * state lives in a base64_stream the caller owns (on the stack will do);
 * nothing is allocated. One stream serves one text, in one direction.
 *
 * base64_stream_init: makes the stream ready for a new text. flags:
 *   0              as base64_decode: white space is skipped anywhere
 *   BASE64_STRICT  white space (space, \t, \n, \v, \f, \r) is malformed
 *                  (for encoding, flags do not matter)
 */
typedef struct base64_stream {
    unsigned char held[4]; /* a group begun in an earlier piece */
    unsigned char held_n;
    unsigned char state;
    unsigned char flags;
} base64_stream;

enum { BASE64_STRICT = 1 };

void base64_stream_init(base64_stream *stream, int flags) KESTRIN_NOEXCEPT;

/*
 * base64_stream_decode: decodes the next text_len characters (no NUL
 * needed after them) into out, or only validates them when out is NULL.
 * The rules are base64_decode's: groups of four, padding required at the
 * end and only white space after it, a NUL or any character outside the
 * alphabet malformed; the unused bits before the padding must be zero
 * (always checked here, also without out). out_size must be at least
 * text_len / 4 * 3 + 3 when out is given: the characters of a group begun
 * in an earlier piece complete it here.
 * Returns the number of bytes decoded from this piece (0 when its
 * characters only begin a group), or -1 when the text is malformed, or
 * out_size is too small: the stream has then failed, and every later call
 * returns -1 too. Bytes already returned are never taken back: a caller
 * that must not use a text that turns out malformed holds them until
 * base64_stream_decode_end says it was whole.
 */
long base64_stream_decode(base64_stream *stream, const char *text, size_t text_len, unsigned char *out,
                          size_t out_size) KESTRIN_NOEXCEPT;

/*
 * base64_stream_decode_end: after the last piece. Returns 0 when the whole
 * text was valid base64 (also an empty or all-white-space text: no bytes),
 * -1 when it failed or ends inside a group or between its two pad
 * characters.
 */
int base64_stream_decode_end(base64_stream *stream) KESTRIN_NOEXCEPT;

/*
 * base64_stream_encode: encodes the next src_len bytes. Whole groups of
 * three bytes go out as four characters; the one or two bytes left over
 * wait for the next piece. No NUL is written. out_size must be at least
 * (src_len + 2) / 3 * 4.
 * Returns the number of characters written, or -1 when out_size is too
 * small (nothing is written then, and the stream is unchanged).
 * base64_stream_encode_end: after the last piece, writes the padded last
 * group (out_size at least 4). Returns the characters written (0 or 4),
 * or -1 when out_size is too small.
 * The characters of all pieces together are base64_encode's text.
 */
long base64_stream_encode(base64_stream *stream, const unsigned char *src, size_t src_len, char *out,
                          size_t out_size) KESTRIN_NOEXCEPT;
long base64_stream_encode_end(base64_stream *stream, char *out, size_t out_size) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
