/*
 * str - small operations on NUL-terminated 8-bit text. A blank is a space or
 * a tab; trailing trimming removes spaces only. Nothing here looks at letter
 * case, locale or multi-byte characters, and nothing prints.
 */
#ifndef KESTRIN_UTIL_STR_H
#define KESTRIN_UTIL_STR_H

#include "../kestrin_api.h"

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

/* str_trim: removes leading blanks and trailing spaces in place (a trailing
 * tab stays). */
void str_trim(char *s) KESTRIN_NOEXCEPT;

/* str_first_word: replaces s by its first blank-delimited word. */
void str_first_word(char *s) KESTRIN_NOEXCEPT;

/*
 * str_unquote: replaces s by its value: leading blanks skipped; an unquoted
 * value loses its trailing spaces; a value opened by ' or " runs to the next
 * unescaped quote of either kind (or the end), nothing trimmed, and \' or \"
 * inside it stand for the quote itself. Text after the closing quote is
 * dropped.
 */
void str_unquote(char *s) KESTRIN_NOEXCEPT;

/*
 * str_split_key_value: splits line at its first '=' into key_buf (reduced to
 * its first word) and value_buf (cleaned with str_unquote). Both buffers must
 * be at least as large as line with its NUL. Without '=' both become empty.
 */
void str_split_key_value(const char *line, char *key_buf, char *value_buf) KESTRIN_NOEXCEPT;

/*
 * str_char_positions: stores through *positions a new array (free it) of the
 * indexes of c in s, in increasing order, followed by a 0 entry (just 0 when
 * c does not occur; a NUL c is never found). Returns the number of
 * occurrences; 0 with *positions NULL when memory runs out.
 */
int str_char_positions(const char *s, char c, int **positions) KESTRIN_NOEXCEPT;

/* path_extension: the text after the last '.' of name, or "" when there is
 * none or it is the first character. Points into name or to a constant. */
const char *path_extension(const char *name) KESTRIN_NOEXCEPT;

/* str_is_dotted_quad: 1 for four dot-separated decimal numbers 0-255 (leading
 * zeros allowed), else 0 (also for NULL). */
int str_is_dotted_quad(const char *s) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
