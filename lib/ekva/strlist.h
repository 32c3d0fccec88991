/*
 * strlist - the string list: a malloc'd array of malloc'd NUL-terminated
 * texts ended by a NULL pointer. The list owns its texts; every operation
 * that puts a text into a list stores its own copy. A NULL list stands for
 * "no list" and is accepted everywhere; an empty list (just the NULL) is an
 * ordinary list.
 */
#ifndef KESTRIN_EKVA_STRLIST_H
#define KESTRIN_EKVA_STRLIST_H

#include "../kestrin_api.h"

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

/* Comparator of every sort: negative, 0 or positive as a sorts before, with
 * or after b. strcmp is one. */
typedef int (*strlist_cmp)(const char *a, const char *b) KESTRIN_NOEXCEPT;

/* Searching and counting: byte comparison (strlist_contains_nocase: ASCII
 * letter case ignored). find returns the first index or -1; contains 1 or 0;
 * count the number of entries. A NULL list finds nothing and counts 0. */
int strlist_find(char **list, const char *text) KESTRIN_NOEXCEPT;
int strlist_contains(char **list, const char *text) KESTRIN_NOEXCEPT;
int strlist_contains_nocase(char **list, const char *text) KESTRIN_NOEXCEPT;
int strlist_count(char **list) KESTRIN_NOEXCEPT;

/* strlist_dup: a new list of copies; NULL for a NULL list or no memory. */
char **strlist_dup(char **list) KESTRIN_NOEXCEPT;

/*
 * strlist_append: grows list (it may move) with copies of every entry of
 * other and returns it. When either is NULL, or memory runs out, list is
 * returned unchanged.
 * strlist_append_unique: the same, but an entry of other is added only when
 * list (with what this call added so far) holds no equal text.
 * strlist_append_text: splits text at commas (empty items dropped) and
 * appends the items, uniquely when unique is non-zero. A NULL text or list
 * returns list unchanged.
 */
char **strlist_append(char **list, char **other) KESTRIN_NOEXCEPT;
char **strlist_append_unique(char **list, char **other) KESTRIN_NOEXCEPT;
char **strlist_append_text(char **list, int unique, const char *text) KESTRIN_NOEXCEPT;

/* strlist_join: a new text of the entries with sep between neighbours ("" for
 * an empty list); NULL for a NULL list or no memory. */
char *strlist_join(char **list, char sep) KESTRIN_NOEXCEPT;

/*
 * strlist_split: the non-empty fields of text between sep characters, at
 * most the first 1000 (the rest of the text is ignored). NULL when there is
 * no field (or no memory).
 * strlist_split_words: the same, each field then cut to its first
 * blank-delimited word (a field of blanks becomes "").
 */
char **strlist_split(const char *text, char sep) KESTRIN_NOEXCEPT;
char **strlist_split_words(const char *text, char sep) KESTRIN_NOEXCEPT;

/*
 * Growth by index. index is the number of entries so far, *capacity the
 * room the caller keeps (at least 1 when index is 0). Index 0 makes a new
 * array (the old pointer is not looked at); when index reaches *capacity,
 * the capacity doubles through the caller's int.
 * strlist_push stores a copy of text; strlist_set_push stores
 * strlist_dup(list) in a list of lists.
 * Returns index + 1; index when memory runs out (nothing stored, the array
 * and *capacity still valid; at index 0 the array pointer is then NULL).
 */
int strlist_push(char ***list, const char *text, int index, int *capacity) KESTRIN_NOEXCEPT;
int strlist_set_push(char ****sets, char **list, int index, int *capacity) KESTRIN_NOEXCEPT;

/*
 * strlist_sort: sorts in place, stably (equal entries keep their order), by
 * cmp (NULL: strcmp): the order of an adjacent-swap sort that swaps when
 * cmp(left, right) > 0, in O(n log n). A NULL list is left alone.
 */
void strlist_sort(char ***list, strlist_cmp cmp) KESTRIN_NOEXCEPT;

/* strcmp_number: compares the texts as "%lf" reads them (0 when no number),
 * returning the difference a - b truncated to an int (clamped to the int
 * range); numbers less than 1 apart compare equal. */
int strcmp_number(const char *a, const char *b) KESTRIN_NOEXCEPT;

/* strcmp_dotted_quad: compares "%d.%d.%d.%d" readings (unread parts 0) part
 * by part: -1, 0 or 1. Orders IPv4 addresses numerically. */
int strcmp_dotted_quad(const char *a, const char *b) KESTRIN_NOEXCEPT;

/* strlist_free: frees every entry and the array; NULL is ignored. */
void strlist_free(char **list) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
