/*
 * csv - lines of fields separated by a caller-chosen character, quoted as in
 * RFC 4180 (the quote is always '"'), with one addition: a line feed inside
 * a field is written as the two characters backslash and n.
 *
 * Reading a field: it is quoted when its first character is '"'. Inside a
 * quoted field the separator is ordinary, "" stands for one quote, and a
 * quote followed by the separator or the end of the line closes the field (a
 * lone quote elsewhere is kept and the field stays quoted). In any field the
 * pair \n stands for a line feed, except at the very start of the line and
 * after another backslash. Empty fields are kept as empty texts.
 * Every list returned is a string list (free with strlist_free).
 */
#ifndef KESTRIN_EKVA_CSV_H
#define KESTRIN_EKVA_CSV_H

#include "../kestrin_api.h"

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

/* csv_quote: the field as written: enclosed in quotes when force is non-zero
 * or text contains sep; quotes doubled and line feeds written as \n inside.
 * A new text, or NULL when memory runs out. */
char *csv_quote(const char *text, char sep, int force) KESTRIN_NOEXCEPT;

/* csv_join: every entry through csv_quote, joined by sep. "" for an empty
 * list; NULL for a NULL list or when memory runs out. */
char *csv_join(char **list, char sep, int force) KESTRIN_NOEXCEPT;

/* csv_split: as strlist_split: no quoting, empty fields dropped, at most 1000
 * fields, NULL when there is none. */
char **csv_split(const char *text, char sep) KESTRIN_NOEXCEPT;

/* csv_parse_line: every field of the line (at least one). NULL only when
 * memory runs out. */
char **csv_parse_line(const char *line, char sep) KESTRIN_NOEXCEPT;

/*
 * csv_next_record: takes the line at pos (up to the next line feed or the
 * end of the text; a carriage return before either is dropped) and, when it
 * is not empty, stores its fields through *fields (which should hold NULL).
 * A line longer than max_len characters is cut there: its first max_len
 * characters give the fields and the rest of the line is skipped.
 * Returns the position after the line, or NULL when pos is NULL or at the
 * end of the text.
 */
const char *csv_next_record(const char *pos, int max_len, char sep, char ***fields) KESTRIN_NOEXCEPT;

/*
 * csv_read_record: the fields of the next line of stream, of any length.
 * The line feed and one carriage return before it are removed; with skip_bom
 * non-zero a leading UTF-8 byte-order mark is skipped (on lines longer than 3
 * bytes). Returns NULL at the end of the stream, for a blank line ("\n" or
 * "\r\n", which is consumed: feof tells the two apart), on a read error, or
 * when memory runs out.
 */
char **csv_read_record(FILE *stream, char sep, int skip_bom) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
