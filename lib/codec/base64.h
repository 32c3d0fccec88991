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

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
