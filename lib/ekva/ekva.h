/*
 * ekva - the EKVA record: an ordered list of key/value pairs with a
 * self-describing header, and record sets.
 *
 * A record is a malloc'd array of ekva_pair pointers ended by NULL. Slot 0
 * holds the header pair, whose key is "#EKVA_10:<capacity>:<mode>" and whose
 * value is NULL; the entries follow in the order they were added. The array
 * always has room for the header, <capacity> entries and the NULL. The record
 * owns its pairs and their texts; release it with ekva_free. Keys are matched
 * without regard to ASCII letter case in a record's own operations, exactly
 * (byte for byte) in the set operations.
 *
 * Arrays made by hand are accepted too. What the operations make of slot 0
 * when it holds no header:
 *   - an ordinary entry for ekva_add (which then never grows the array),
 *     ekva_count, ekva_dup, ekva_print, ekva_fprint and ekva_to_csv_line;
 *   - a slot like any other for the lookups by key (ekva_get, ekva_get_nth,
 *     ekva_get_values, ekva_count_key, and so the key of ekva_set_sort),
 *     which scan from slot 0 in every record;
 *   - passed over, whatever it holds, by ekva_get_key, ekva_set_find,
 *     ekva_set_find_nth, ekva_set_count, ekva_to_kv_text and ekva2ldif
 *     (ldif.h; its dn is still looked up with ekva_get);
 *   - a record without header for ekva_copy, which gives NULL (and so
 *     ekva_set_push stores nothing).
 */
#ifndef KESTRIN_EKVA_EKVA_H
#define KESTRIN_EKVA_EKVA_H

#include "../kestrin_api.h"

#include <stdio.h>

#include "../ekva/strlist.h"

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

typedef struct ekva_pair {
    char *key;   /* never NULL in pairs made by ekva_add */
    char *value; /* NULL for a key without value */
} ekva_pair;

/* What ekva_add does when the key is already present. */
typedef enum ekva_mode {
    EKVA_APPEND = 0,   /* append another entry (not accepted at creation) */
    EKVA_UNIQUE = 1,   /* keep the existing entry, add nothing */
    EKVA_REPLACE = 2,  /* every entry of the key with a value gets the new value */
    EKVA_MULTI = 3,    /* append another entry */
    EKVA_MULTI_ALT = 4 /* append another entry */
} ekva_mode;

/*
 * ekva_parse_header: 1 when key begins with "#EKVA_10:" and two integers
 * follow as "#EKVA_10:%d:%d" reads them (stored in *capacity and *mode);
 * 0 otherwise. When the prefix is there but the numbers are not, both
 * outputs are set to 0; without the prefix they are left alone.
 */
int ekva_parse_header(const char *key, int *capacity, int *mode) KESTRIN_NOEXCEPT;

/* ekva_create_mode: a new record holding only its header; NULL when capacity
 * is below 1, mode is not 1-4, or memory runs out.
 * ekva_create: the same with mode EKVA_REPLACE. */
ekva_pair **ekva_create_mode(int capacity, int mode) KESTRIN_NOEXCEPT;
ekva_pair **ekva_create(int capacity) KESTRIN_NOEXCEPT;

/*
 * ekva_add: adds key/value (copied; value may be NULL) by mode, or updates
 * the entries of key in EKVA_REPLACE mode. The mode of the call decides, not
 * the record's. When the record holds <capacity> entries the capacity doubles
 * (the header text follows), even when nothing ends up added. Appending in
 * modes EKVA_APPEND, EKVA_MULTI and EKVA_MULTI_ALT costs the same at any
 * record size.
 * Returns the number of slots in use afterwards (header included); 0 for a
 * NULL record or key, or when memory runs out (the record is then unchanged).
 */
int ekva_add(ekva_pair ***record, const char *key, const char *value, int mode) KESTRIN_NOEXCEPT;

/* ekva_count: entries, header not counted. ekva_count_key: slots (from slot
 * 0) whose key matches. Both 0 for a NULL record. */
int ekva_count(ekva_pair **record) KESTRIN_NOEXCEPT;
int ekva_count_key(ekva_pair **record, const char *key) KESTRIN_NOEXCEPT;

/*
 * Lookups, scanning from slot 0 (so the header's own key finds the header).
 * The texts returned belong to the record: valid until it changes or is
 * freed.
 *   ekva_get: value of the first match; NULL when none or its value is NULL.
 *   ekva_get_nth: value of match n (from 0); NULL when there are fewer.
 *   ekva_get_values: a new string list of the non-NULL values of every match
 *     (free with strlist_free); NULL when nothing matches.
 *   ekva_get_key: key of the first entry (slot 1 on) whose value equals
 *     value, ASCII case ignored; NULL when none.
 */
const char *ekva_get(ekva_pair **record, const char *key) KESTRIN_NOEXCEPT;
const char *ekva_get_nth(ekva_pair **record, const char *key, int n) KESTRIN_NOEXCEPT;
char **ekva_get_values(ekva_pair **record, const char *key) KESTRIN_NOEXCEPT;
const char *ekva_get_key(ekva_pair **record, const char *value) KESTRIN_NOEXCEPT;

/*
 * ekva_copy: a new record of the source's mode and a capacity equal to its
 * entry count, the entries added again in order. NULL for a record without
 * entries or without header, or when memory runs out.
 * ekva_dup: a slot-for-slot copy, header text unchanged. NULL for NULL or no
 * memory.
 */
ekva_pair **ekva_copy(ekva_pair **record) KESTRIN_NOEXCEPT;
ekva_pair **ekva_dup(ekva_pair **record) KESTRIN_NOEXCEPT;

/* ekva_free: frees every key, value, pair and the array; NULL is ignored. */
void ekva_free(ekva_pair **record) KESTRIN_NOEXCEPT;

/*
 * Record sets: a malloc'd array of records ended by NULL; the set owns them.
 *
 * ekva_set_push: stores ekva_copy(record) at slot index, growing the set by
 * index as strlist_push does. Returns index + 1; index, with nothing stored
 * and the set and *capacity as they were, when the record copies to NULL (a
 * NULL record, one without entries or without header: a null in the set
 * would hide every later record) or memory runs out.
 *
 * ekva_set_find_nth: the record holding the n-th (from 0) entry, counted over
 * the whole set from slot 1 of each record, whose key and value equal key and
 * value byte for byte; NULL when none. ekva_set_find is n = 0.
 * ekva_set_count: entries with that key (and that value, unless value is NULL).
 *
 * ekva_set_sort_cmp: stable sort by the first value of key in each record
 * (ekva_get), by cmp (NULL: strcmp); ekva_set_sort uses strcmp. A record
 * without a value for key never moves and nothing passes it: the records
 * between two such records are sorted among themselves.
 *
 * ekva_set_free: frees every record and the array; NULL is ignored.
 */
int          ekva_set_push(ekva_pair ****set, ekva_pair **record, int index, int *capacity) KESTRIN_NOEXCEPT;
ekva_pair  **ekva_set_find(ekva_pair ***set, const char *key, const char *value) KESTRIN_NOEXCEPT;
ekva_pair  **ekva_set_find_nth(ekva_pair ***set, const char *key, const char *value, int n) KESTRIN_NOEXCEPT;
int          ekva_set_count(ekva_pair ***set, const char *key, const char *value) KESTRIN_NOEXCEPT;
void         ekva_set_sort(ekva_pair ****set, const char *key) KESTRIN_NOEXCEPT;
void         ekva_set_sort_cmp(ekva_pair ****set, const char *key, strlist_cmp cmp) KESTRIN_NOEXCEPT;
void         ekva_set_free(ekva_pair ***set) KESTRIN_NOEXCEPT;

/*
 * Text forms. The header slot is never part of any of them.
 *
 * ekva_print: one line per entry on stdout, "key: <value>" or "key: NULL";
 * ekva_fprint: "key: <value>" on stream with the key left-aligned in width
 * columns and NULL shown as <NULL>. Both start after the header (at slot 0
 * when there is none) and return the number of entries listed (0 for NULL).
 *
 * ekva_to_kv_text: the entries from slot 1 on as "key=value" (nothing after
 * '=' for a NULL value) joined by sep; nothing is escaped. A new text ("" for
 * no entries), or NULL for a NULL record or no memory.
 *
 * ekva_from_kv_text: a new EKVA_MULTI record whose capacity is the length of
 * text, from the pieces of text between sep characters (empty pieces passed
 * over), each split with str_split_key_value; pieces with an empty key are
 * passed over and repeated keys give several entries. A piece that cannot be
 * added is reported on stderr as "failed to add value <%s> for key <%s>"
 * (no line end). NULL for an empty or NULL text, or no memory.
 *
 * ekva_to_csv_line: one delimited line (csv.h): one field per entry, keys
 * holding ";binary" left out. With keys_only the fields are the quoted keys.
 * Otherwise a NULL value gives an empty field (never quoted), a key present
 * once gives its quoted value, and a key present several times gives its
 * values joined by '|' and quoted, once for each run of directly following
 * entries of that key. force is passed to csv_quote. A new text ("" when no
 * field), or NULL for a NULL record or no memory. Reentrant.
 */
int          ekva_print(ekva_pair **record) KESTRIN_NOEXCEPT;
int          ekva_fprint(ekva_pair **record, FILE *stream, int width) KESTRIN_NOEXCEPT;
char        *ekva_to_kv_text(ekva_pair **record, char sep) KESTRIN_NOEXCEPT;
ekva_pair  **ekva_from_kv_text(const char *text, char sep) KESTRIN_NOEXCEPT;
char        *ekva_to_csv_line(ekva_pair **record, char sep, int force, int keys_only) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
