/*
 * ldif - LDIF (RFC 2849) text: writing attribute lines and entries, reading
 * lines and entries (also as a stream, in bounded memory), converting entries
 * to EKVA records and back, and querying an entry's attributes. Every reader
 * reads by the same rules (see ldif_parse_line).
 *
 * Line forms, each ending in one line feed (no carriage return is written):
 *   plain "name: value", base64 "name:: text", URL "name:< url", and the
 *   separator line (a lone line feed) for an empty or absent name.
 * Folding, at a width W (77 unless a _wrap function is given another): a
 * line longer than W characters (its line feed not counted) is folded: the
 * first W characters of the unfolded line, a line feed, then one space and
 * the next W - 1 characters per line. W 0 never folds. The first physical
 * line never ends before the whole attribute description, the separator
 * and the value's first character: where those already reach W, it ends
 * right after that character (readers take a fold inside the description
 * for a broken line). In modes LDIF_ENC_AUTO8 and LDIF_ENC_UTF8 a plain
 * value's well-formed UTF-8 sequences are never split, its first character
 * counting as one: where the next sequence does not fit in what is left of
 * a physical line, the fold comes before it (that line is up to 3
 * characters shorter); where it would not fit even on a fresh continuation
 * line (W below 5), that line holds it anyway and is longer than W by at
 * most 3 characters.
 */
#ifndef KESTRIN_LDIF_LDIF_H
#define KESTRIN_LDIF_LDIF_H

#include "../kestrin_api.h"

#include <stdio.h>

#include "../ekva/ekva.h"

#ifdef __cplusplus
extern "C" {
#endif
KESTRIN_API_BEGIN

/* The fold width of ldif_write_attr, ldif_fwrite_attr and ekva2ldif: the
 * longest physical line in characters, its line feed not counted. */
enum { LDIF_DEFAULT_WIDTH = 77 };

typedef enum ldif_encoding {
    LDIF_ENC_AUTO = 0,   /* plain when safe, else base64 */
    LDIF_ENC_BASE64 = 1, /* always base64, over exactly value_len bytes */
    LDIF_ENC_AUTO8 = 2,  /* as AUTO, but bytes 0x80-0xFF stay plain (UTF-8) */
    LDIF_ENC_URL = 3,    /* the value text as it is, in the URL form */
    LDIF_ENC_GUESS = 4,  /* as AUTO */
    LDIF_ENC_UTF8 = 5    /* as AUTO, but well-formed UTF-8 (RFC 3629) stays plain */
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
 *   line (one line feed). The name's last option equal to "binary" (ASCII
 *   case ignored) is left out of the printed name, every other option stays,
 *   and the separator is "::" ("photo;binary" prints "photo::",
 *   "cn;lang-de;binary" prints "cn;lang-de::"); else its last option equal
 *   to "filename" is left out in the same way and the separator is ":<".
 *   "x;binaryfoo" has neither option. A name holding a line feed, a carriage
 *   return or a colon, or beginning with a space or a '#' (it would read
 *   back as a comment), is refused.
 *   value/value_len/mode: modes AUTO, AUTO8, GUESS, UTF8 (and unknown modes)
 *   take the value as text up to its first NUL and write it plain unless it
 *   begins with a space, ':', '<', a tab, a vertical tab or a form feed, or
 *   ends with a space (editors and pipelines trim it; RFC 2849 asks for
 *   base64 there), or holds a line feed or carriage return, or a byte
 *   0x80-0xFF (in AUTO8 any such byte is allowed; in UTF8 those that form
 *   well-formed UTF-8 are); an unsafe value is written in base64.
 *   When value_len > 0 and a NUL lies in the first value_len bytes, all
 *   value_len bytes are written in base64. BASE64 encodes exactly value_len
 *   bytes. URL writes the text up to the first NUL, never encoded; a URL
 *   holding a line feed or carriage return is refused like such a name.
 * Returns the buffer, or NULL when:
 *   - the width is 1 or negative (errno EINVAL; _wrap functions only), the
 *     name or the URL is refused, the text would not fit an int count (errno is then
 *     EOVERFLOW), or the buffer cannot be allocated or grown: the caller's
 *     buffer is still valid and unchanged;
 *   - the base64 working buffer cannot be allocated ("Failed to allocate
 *     base64 buffer\n" on stderr) or the encoder fails ("Failed to encode
 *     binary value: %d\n"): the caller's buffer has been freed.
 */
char *ldif_write_attr(char *buffer, int *count, const char *name,
                      const char *value, int value_len, int mode) KESTRIN_NOEXCEPT;

/*
 * ldif_write_attr_wrap: ldif_write_attr folding at `width` (see the top of
 * this header): the longest physical line in characters, its line feed not
 * counted; 0 never folds. ldif_write_attr is width 77. A width of 1 or a
 * negative width returns NULL with errno EINVAL, the buffer unchanged.
 */
char *ldif_write_attr_wrap(char *buffer, int *count, const char *name,
                           const char *value, int value_len, int mode, int width) KESTRIN_NOEXCEPT;

/*
 * ldif_fwrite_attr: writes one attribute line (as ldif_write_attr builds it)
 * to stream. Returns the number of characters written; 0 when the line could
 * not be built (nothing is written then).
 */
int ldif_fwrite_attr(FILE *stream, const char *name,
                     const char *value, int value_len, int mode) KESTRIN_NOEXCEPT;
/* ldif_fwrite_attr_wrap: ldif_fwrite_attr folding at width, as
 * ldif_write_attr_wrap (0 for a width of 1 or a negative width). */
int ldif_fwrite_attr_wrap(FILE *stream, const char *name,
                          const char *value, int value_len, int mode, int width) KESTRIN_NOEXCEPT;

/*
 * ldif_parse_line: reads the logical line at cursor (continuation lines that
 * begin with a blank are joined, but an empty line, or one of CRs only, is
 * never continued; every CR is left out) and splits it:
 *   empty line       -> name "", value "", length 0
 *   "#..." comment   -> name "#", value "#", length 1
 *   name: text       -> the text; the fill after the marker (every space,
 *                       none included, but no other character: "cn:\tx"
 *                       gives "\tx") is skipped after ":", "::" and ":<"
 *   name:: base64    -> the decoded bytes (read as base64_decode reads
 *                       them: white space inside skipped, a NUL malformed),
 *                       *binary 1; nothing after the marker ("name:: " or
 *                       "name::") is the empty value
 *   name:< reference -> the bytes of the file ("file://path" or a plain path),
 *                       *binary 1; an unreadable file gives "" and length 0
 *   name;binary: ref -> as name:<, the name as written: a plain line whose
 *                       name has the binary option (an option equal to
 *                       "binary", ASCII case ignored, as the writer tests
 *                       it: "cert;BINARY", not "x;binaryfoo")
 *   (both file forms give "" when ldif_set_file_references(0) is in force)
 *   line without ':' -> the whole line as name, value "", length 0
 * *name and *value are new buffers (the caller frees both); the value is
 * followed by a NUL but may hold NUL bytes itself (use *value_len).
 * length is accepted for compatibility and not needed: the text is
 * NUL-terminated and lines of any length are read.
 * Returns the cursor after the line, or NULL at the end of the text (NULL
 * cursor or cursor on the NUL), for a base64 value that is malformed or
 * that decodes to nothing from a non-empty text (such as "=="), or when
 * memory runs out; the out-parameters are then
 * not to be used (*binary is 0).
 */
const char *ldif_parse_line(const char *cursor, int length, char **name,
                            char **value, int *value_len, int *binary) KESTRIN_NOEXCEPT;

/*
 * ldif_set_file_references: whether file references are followed. With
 * allow 1 (the default) a "name:< reference" line and a plain
 * "name;binary: reference" line read the named file, as ldif_parse_line
 * describes; every reader goes through it (ldif2ekva, the record-set
 * loaders and the entry queries too). With allow 0 such a line gives the
 * empty value with *binary 1, exactly as an unreadable file does, and the
 * file system is not touched. Turn them off before reading LDIF from a
 * source you do not trust: a line such as "jpegPhoto:< file:///etc/shadow"
 * would otherwise put that file's bytes into the value.
 * The setting is process-wide and may be changed from any thread; a line
 * being read while it changes sees either setting. Any non-zero allow counts
 * as 1. Returns the previous setting (0 or 1).
 */
int ldif_set_file_references(int allow) KESTRIN_NOEXCEPT;

/*
 * The streaming reader: LDIF text handed over in pieces of any size (read
 * from memory, a file descriptor or a stream, as suits the caller), read
 * one item at a time, in bounded memory whatever the size of one value.
 * It reads by the rules of ldif_parse_line (folds joined, every CR of a
 * logical line dropped, the fill skipped, base64 decoded as base64_decode
 * reads it), but it never opens a file: a file reference comes out as its
 * URL. NUL bytes are data wherever the form allows them (plain and URL
 * values, names); in base64 text a NUL is malformed.
 *
 *   ldif_reader *r = ldif_reader_create(0);
 *   ldif_item item;
 *   for (;;) {
 *       int kind = ldif_reader_next(r, &item);
 *       if (kind == LDIF_NEED_INPUT) {
 *           ssize_t n = read(fd, buf, sizeof buf);   // 0 at the end: that ends the input
 *           ldif_reader_feed(r, buf, n > 0 ? (size_t)n : 0);
 *           continue;
 *       }
 *       if (kind == LDIF_END) break;
 *       ...  // LDIF_ATTR, LDIF_ENTRY_END, LDIF_ERROR
 *   }
 *   ldif_reader_free(r);
 *
 * Items (ldif_item.kind, also the result of ldif_reader_next):
 *   LDIF_NEED_INPUT  every byte handed over is used up: hand over the next
 *                    piece with ldif_reader_feed (or end the input).
 *   LDIF_ATTR        an attribute line, or a piece of its value: name and
 *                    name_len give the attribute description as written
 *                    (folds joined, CRs dropped; a line without ':' is all
 *                    name, with an empty value); form its ldif_form; value
 *                    and value_len the value's bytes (base64 decoded; for
 *                    LDIF_FORM_URL the URL text); line the number (from 1)
 *                    of the physical line where the logical line begins. A
 *                    value larger than the reader's buffer comes out in
 *                    several items of the same line: each but the last has
 *                    more = 1, the last more = 0 (it may hold no bytes).
 *                    Every line that is not blank and not a comment is an
 *                    item, also a "version:" line and lines outside an entry.
 *   LDIF_ENTRY_END   the end of an entry: an entry begins at its "dn" line
 *                    (the name "dn" in any letter case) and ends at the next
 *                    blank line (empty, or of CRs only) or at the end of the
 *                    input; a "dn" line inside an entry does not begin
 *                    another. Blank lines outside an entry give nothing.
 *   LDIF_ERROR       a malformed line: line tells which, name the
 *                    description read so far, value a message (a NUL-
 *                    terminated text): "malformed base64 value" (not base64
 *                    as base64_decode reads it, or a non-empty text that
 *                    decodes to no bytes; pieces of that value marked more
 *                    may have come out before) or "attribute description
 *                    too long" (longer than the reader's buffer). The rest
 *                    of that logical line is passed over, and the next call
 *                    goes on with the line after it: a caller that gives up
 *                    the entry pulls on to its LDIF_ENTRY_END.
 *   LDIF_END         the input has ended and every item is out; every
 *                    later call gives LDIF_END again.
 * The pointers of an item are valid until the next call with the reader.
 * A value that lies inside one piece (a plain or URL value of one physical
 * line without CRs, whose line end and the byte after it are in that piece
 * too) points into the caller's piece, without a copy; others point into
 * the reader's buffer. So a piece must stay as it is until the reader
 * asks for the next one (LDIF_NEED_INPUT).
 */
typedef struct ldif_reader ldif_reader;

typedef enum ldif_form { LDIF_FORM_PLAIN = 0, LDIF_FORM_BASE64 = 1, LDIF_FORM_URL = 2 } ldif_form;

enum { LDIF_NEED_INPUT = 0, LDIF_ATTR = 1, LDIF_ENTRY_END = 2, LDIF_ERROR = 3, LDIF_END = 4 };

typedef struct ldif_item {
    int kind;          /* LDIF_ATTR, LDIF_ENTRY_END, ... as returned */
    const char *name;  /* LDIF_ATTR, LDIF_ERROR: the attribute description */
    size_t name_len;
    int form;          /* LDIF_ATTR: an ldif_form */
    const char *value; /* LDIF_ATTR: bytes of the value; LDIF_ERROR: the message */
    size_t value_len;
    int more;          /* LDIF_ATTR: 1 when further pieces of this value follow */
    long line;         /* LDIF_ATTR, LDIF_ERROR: the line number, from 1 */
} ldif_item;

/*
 * ldif_reader_create: a new reader whose buffer holds buffer_size bytes of
 * a value (0: 64 KiB; at least 64): larger values come out in pieces. The
 * reader takes three times that (a description may be as long, and base64
 * text is gathered there before it is decoded) and no more.
 * Returns the reader (free it with ldif_reader_free), or NULL when memory
 * runs out.
 */
ldif_reader *ldif_reader_create(size_t buffer_size) KESTRIN_NOEXCEPT;

/*
 * ldif_reader_feed: hands the reader the next piece of the input, len
 * bytes at bytes, which must stay valid and unchanged until the reader asks
 * for more (see above); a piece of length 0 ends the input. Returns 0, or -1
 * (nothing taken) for a NULL reader, NULL bytes with a length, when the last
 * piece is not used up yet (ldif_reader_next has not asked for more), or
 * when the input has ended.
 */
int ldif_reader_feed(ldif_reader *reader, const char *bytes, size_t len) KESTRIN_NOEXCEPT;

/*
 * ldif_reader_next: the next item, stored in *item (see above). Returns its
 * kind; LDIF_END for a NULL reader or item.
 */
int ldif_reader_next(ldif_reader *reader, ldif_item *item) KESTRIN_NOEXCEPT;

/*
 * ldif_reader_in_entry: 1 when the item last returned lies inside an entry,
 * else 0 (also for a NULL reader). It turns 1 with the item of the entry's
 * "dn" line (its first piece, or its LDIF_ERROR) and stays 1 up to the item
 * before the entry's LDIF_ENTRY_END, which gives 0. So a caller can tell
 * the line that begins an entry from a "dn" line inside one, and from a
 * line of the name alone ("dn" without ':', which begins none) outside one.
 */
int ldif_reader_in_entry(const ldif_reader *reader) KESTRIN_NOEXCEPT;

/* ldif_reader_free: releases the reader (NULL is allowed). */
void ldif_reader_free(ldif_reader *reader) KESTRIN_NOEXCEPT;

/*
 * Records: the record reader reads LDIF as RFC 2849 records, entries and
 * change records, which may be mixed in one input in any order, and checks
 * the structure of each, so that a malformed record is reported with its
 * line before it reaches a server. It is built on the streaming reader: the
 * same reading rules, the input in pieces of any size, bounded memory
 * whatever the size of a value, no file ever opened.
 *
 * A record begins at its "dn:" line (plain or base64) and ends at the next
 * blank line or at the end of the input; "version: 1" may stand before the
 * first record, with or without a blank line after it. Names of the lines
 * that give a record its structure (dn, control, changetype, newrdn,
 * deleteoldrdn, newsuperior, the add/delete/replace/increment lines of a
 * modify record) and the words after them (the change types, true and
 * false) are read in any letter case.
 *   entry     the dn, then one or more attribute lines ("cn: x")
 *   add       the dn, any control lines, "changetype: add", then one or more
 *             attribute lines
 *   delete    the dn, any control lines, "changetype: delete", nothing more
 *   modify    the dn, any control lines, "changetype: modify", then any
 *             number of modifications, each a line "add: A", "delete: A",
 *             "replace: A" or "increment: A" (RFC 4525) naming an attribute
 *             description A, lines of values of A ("A: value"; an increment
 *             exactly one), and a line "-"; the last "-" of a record may be
 *             left out, as ldapmodify allows
 *   modrdn    the dn, any control lines, "changetype: modrdn" (or "moddn",
 *             the same), "newrdn: RDN", "deleteoldrdn: 0" or "1" (required,
 *             as ldapmodify requires it), and optionally "newsuperior: DN"
 * A control line is "control: OID" (a numeric OID), then optionally one or
 * more spaces and "true" or "false" (its criticality; false when left out),
 * then optionally its value right after the OID or the criticality: ": text",
 * ":: base64" or ":< url". Spaces may end a control line without a value.
 * An attribute description is one of RFC 4512: a name (a letter, then
 * letters, digits and '-') or a numeric OID, then options, each ';' and one
 * or more letters, digits and '-' ("cn", "cn;lang-de",
 * "userCertificate;binary", "2.5.4.3"). Attribute values take any form:
 * plain, base64, or a URL (a file reference, given as its URL, never
 * opened). The dn, newrdn and newsuperior are plain or base64.
 *
 *   ldif_record_reader *r = ldif_record_reader_create(0);
 *   ldif_record_item item;
 *   for (;;) {
 *       int kind = ldif_record_reader_next(r, &item);
 *       if (kind == LDIF_REC_NEED_INPUT) {
 *           ssize_t n = read(fd, buf, sizeof buf);   // 0 at the end
 *           ldif_record_reader_feed(r, buf, n > 0 ? (size_t)n : 0);
 *           continue;
 *       }
 *       if (kind == LDIF_REC_DONE) break;
 *       if (kind == LDIF_REC_ERROR) fprintf(stderr, "line %ld: %s\n", item.line, item.value);
 *       ...  // LDIF_REC_BEGIN, LDIF_REC_VALUE, ... LDIF_REC_END
 *   }
 *   ldif_record_reader_free(r);
 *
 * Items (ldif_record_item.kind, also the result of ldif_record_reader_next),
 * a record's in this order: BEGIN, its CONTROLs, then for an entry or an add
 * record its VALUEs, for a modify record each modification as MOD_BEGIN,
 * its VALUEs and MOD_END, for a modrdn record NEWRDN, DELETEOLDRDN and
 * NEWSUPERIOR when there is one; then END.
 *   LDIF_REC_NEED_INPUT   every byte handed over is used up: hand over the
 *                         next piece with ldif_record_reader_feed.
 *   LDIF_REC_BEGIN        a record: change its ldif_change (LDIF_CHANGE_NONE
 *                         for an entry), value/value_len its dn, line the
 *                         line of the dn.
 *   LDIF_REC_CONTROL      a control: name/name_len its OID, flag 1 when it is
 *                         critical, value/value_len its value (base64
 *                         decoded; NULL when it has none) and form the
 *                         value's ldif_form.
 *   LDIF_REC_VALUE        an attribute value of an entry or an add record,
 *                         or a value of the current modification:
 *                         name/name_len the attribute description as
 *                         written, value/value_len the bytes (base64
 *                         decoded; for LDIF_FORM_URL the URL), form the
 *                         ldif_form. A value larger than the reader's buffer
 *                         comes out in several items, each but the last with
 *                         more = 1, as the streaming reader gives it.
 *   LDIF_REC_MOD_BEGIN    a modification: op its ldif_mod_op, name/name_len
 *                         its attribute description.
 *   LDIF_REC_MOD_END      the end of the modification (its "-" line, or the
 *                         end of the record where the last "-" is left out).
 *   LDIF_REC_NEWRDN       value/value_len the new RDN.
 *   LDIF_REC_DELETEOLDRDN flag 0 or 1.
 *   LDIF_REC_NEWSUPERIOR  value/value_len the new superior's DN.
 *   LDIF_REC_END          the end of the record, line where it began.
 *   LDIF_REC_ERROR        a malformed record: line the line at fault, value
 *                         a message (a NUL-terminated text). The record is
 *                         given up (no LDIF_REC_END follows; its items before
 *                         the error have come out, VALUE pieces marked more
 *                         too), the rest of it passed over, and the next call
 *                         goes on with the next record. The messages (%s a
 *                         text of the input: bytes other than printable
 *                         ASCII as \xHH, cut at 40 characters with "..."):
 *       "record without a dn"  a record whose first line is not a dn line
 *       "unsupported version <%s>"  a version line other than "version: 1"
 *       "<%s> cannot be a file reference"  a dn, newrdn, newsuperior or
 *           another line of the structure given as a URL
 *       "<%s> too long"  such a value larger than the reader's buffer
 *       "malformed control"  a control line not as above
 *       "controls too long"  the controls of a record, held until its
 *           change type is known, larger than the reader's buffer
 *       "controls without a changetype"  control lines not followed by one
 *       "unknown change type <%s>"
 *       "changetype must follow the dn and the controls"  a changetype line
 *           elsewhere (in an entry too)
 *       "control must follow the dn"  a control line after other lines
 *       "second dn in the record"  a dn line inside a record (a blank line
 *           left out between two records?)
 *       "line without a colon"  in an entry or an add record ("-" too), or
 *           as a value of a modification
 *       "invalid attribute description <%s>"
 *       "record without attributes"  an entry or add record with none
 *       "values in a delete record"
 *       "expected add:, delete:, replace: or increment:"  where a
 *           modification begins
 *       "value of <%s> in a part for <%s>"  a value line of another
 *           attribute than its modification's (letter case ignored)
 *       "missing '-' before the next modification"
 *       "increment takes exactly one value"
 *       "modrdn without newrdn"
 *       "modrdn without deleteoldrdn"
 *       "deleteoldrdn must be 0 or 1"
 *       "unexpected <%s> in a modrdn record"  any other line there
 *       and the streaming reader's "malformed base64 value" and "attribute
 *       description too long".
 *   LDIF_REC_DONE         the input has ended and every item is out; every
 *                         later call gives LDIF_REC_DONE again.
 * The pointers of an item are valid until the next call with the reader; a
 * piece handed over must stay as it is until the reader asks for the next
 * one, as for the streaming reader.
 */
typedef struct ldif_record_reader ldif_record_reader;

typedef enum ldif_change {
    LDIF_CHANGE_NONE = 0,   /* an entry (a content record) */
    LDIF_CHANGE_ADD = 1,
    LDIF_CHANGE_DELETE = 2,
    LDIF_CHANGE_MODIFY = 3,
    LDIF_CHANGE_MODRDN = 4  /* "modrdn" or "moddn" */
} ldif_change;

typedef enum ldif_mod_op {
    LDIF_MOD_ADD = 0,
    LDIF_MOD_DELETE = 1,
    LDIF_MOD_REPLACE = 2,
    LDIF_MOD_INCREMENT = 3
} ldif_mod_op;

enum {
    LDIF_REC_NEED_INPUT = 0,
    LDIF_REC_BEGIN = 1,
    LDIF_REC_CONTROL = 2,
    LDIF_REC_VALUE = 3,
    LDIF_REC_MOD_BEGIN = 4,
    LDIF_REC_MOD_END = 5,
    LDIF_REC_NEWRDN = 6,
    LDIF_REC_DELETEOLDRDN = 7,
    LDIF_REC_NEWSUPERIOR = 8,
    LDIF_REC_END = 9,
    LDIF_REC_ERROR = 10,
    LDIF_REC_DONE = 11
};

typedef struct ldif_record_item {
    int kind;          /* LDIF_REC_BEGIN, ... as returned */
    int change;        /* BEGIN: an ldif_change */
    int op;            /* MOD_BEGIN: an ldif_mod_op */
    int flag;          /* CONTROL: 1 when critical; DELETEOLDRDN: 0 or 1 */
    const char *name;  /* VALUE, MOD_BEGIN: the attribute description; CONTROL: the OID */
    size_t name_len;
    const char *value; /* BEGIN: the dn; VALUE, CONTROL, NEWRDN, NEWSUPERIOR: the bytes; ERROR: the message */
    size_t value_len;
    int form;          /* VALUE, CONTROL: the value's ldif_form */
    int more;          /* VALUE: 1 when further pieces of this value follow */
    long line;         /* the line number, from 1 */
} ldif_record_item;

/*
 * ldif_record_reader_create: a new record reader whose buffer holds
 * buffer_size bytes of a value (0: 64 KiB; at least 64), as
 * ldif_reader_create. The dn, the controls of a record and each line of
 * its structure must fit in it. It takes seven times that, and no more.
 * Returns the reader (free it with ldif_record_reader_free), or NULL when
 * memory runs out.
 * ldif_record_reader_feed: hands over the next piece, as ldif_reader_feed
 * (0, or -1 for a NULL reader, NULL bytes with a length, a piece not used
 * up yet, or an input that has ended); a piece of length 0 ends the input.
 * ldif_record_reader_next: the next item, stored in *item; returns its kind
 * (LDIF_REC_DONE for a NULL reader or item).
 * ldif_record_reader_free: releases the reader (NULL is allowed).
 */
ldif_record_reader *ldif_record_reader_create(size_t buffer_size) KESTRIN_NOEXCEPT;
int ldif_record_reader_feed(ldif_record_reader *reader, const char *bytes, size_t len) KESTRIN_NOEXCEPT;
int ldif_record_reader_next(ldif_record_reader *reader, ldif_record_item *item) KESTRIN_NOEXCEPT;
void ldif_record_reader_free(ldif_record_reader *reader) KESTRIN_NOEXCEPT;

/*
 * Whole records, for a caller that holds a record in memory: the items of
 * one record gathered into one ldif_record, which ldif_write_record writes
 * back. Every text is a malloc'd copy followed by a NUL (not counted; the
 * bytes may hold NULs themselves).
 */
typedef struct ldif_value {
    char *bytes;     /* len bytes; NULL for a control without a value */
    size_t len;
    int form;        /* an ldif_form: LDIF_FORM_URL for a file reference's URL */
} ldif_value;

typedef struct ldif_control {
    char *oid;       /* the numeric OID */
    int critical;    /* 0 or 1 */
    ldif_value value;
} ldif_control;

typedef struct ldif_attr {
    char *name;      /* the attribute description, as written */
    ldif_value value;
} ldif_attr;

typedef struct ldif_mod {
    int op;          /* an ldif_mod_op */
    char *name;      /* the attribute description */
    ldif_value *values;
    size_t value_count;
} ldif_mod;

typedef struct ldif_record {
    int change;                /* an ldif_change; LDIF_CHANGE_NONE for an entry */
    char *dn;
    size_t dn_len;
    long line;                 /* the line of the dn (0 for a record made by hand) */
    ldif_control *controls;    /* change records */
    size_t control_count;
    ldif_attr *attrs;          /* entries and add records, in order */
    size_t attr_count;
    ldif_mod *mods;            /* modify records, in order */
    size_t mod_count;
    char *newrdn;              /* modrdn records */
    size_t newrdn_len;
    int deleteoldrdn;          /* modrdn records: 0 or 1 */
    char *newsuperior;         /* modrdn records: NULL when there is none */
    size_t newsuperior_len;
} ldif_record;

/*
 * ldif_record_reader_read: reads items until a whole record is in:
 *   LDIF_REC_NEED_INPUT  hand over the next piece and call again (the part
 *                        of the record read so far is kept);
 *   LDIF_REC_END         *record is a new record (free it with
 *                        ldif_record_free);
 *   LDIF_REC_ERROR       a malformed record, passed over: item->line and
 *                        item->value as for the item; also "out of memory"
 *                        when the record cannot be held (it is passed over);
 *   LDIF_REC_DONE        the input has ended.
 * *record is written only with LDIF_REC_END, *item (when not NULL) with
 * every result. The record's arrays and texts are arrays of zero elements,
 * NULL, where it has none. Between records, ldif_record_reader_next and
 * this function may be used in turn on one reader. A NULL reader or record
 * gives LDIF_REC_DONE.
 * ldif_record_free: releases a record and all it holds (NULL is allowed).
 */
int ldif_record_reader_read(ldif_record_reader *reader, ldif_record **record, ldif_record_item *item) KESTRIN_NOEXCEPT;
void ldif_record_free(ldif_record *record) KESTRIN_NOEXCEPT;

/*
 * ldif_write_record: appends the lines of one record to a heap text buffer,
 * with the buffer and count rules of ldif_write_attr (*count 0: a new
 * buffer; the text followed by a NUL), folding at width as
 * ldif_write_attr_wrap (0: never). No blank line is added: separate records
 * with one. Reading the text back gives the same record (its line aside,
 * a moddn written as modrdn).
 * Lines, in order: "dn: ..."; each control as "control: OID true" or
 * "control: OID false", then its value as ": text" or ":: base64" by the
 * rule below, or ":< url"; "changetype: add", "delete", "modify" or
 * "modrdn" for a change record; then the attribute lines of an entry or an
 * add record, each modification as "add: A" (or "delete:", "replace:",
 * "increment:"), its value lines and "-", or "newrdn: ...",
 * "deleteoldrdn: 0" or "1" (any non-zero deleteoldrdn writes 1) and
 * "newsuperior: ..." when there is one.
 * Every attribute description is printed as given, options and all. A
 * value (the dn, a control's, an attribute's, newrdn, newsuperior) is
 * written plain or in base64 by the rule of ldif_write_attr in `mode`
 * (LDIF_ENC_AUTO, _BASE64, _AUTO8, _GUESS, _UTF8: base64 when needed, UTF-8
 * readable in _UTF8, never a fold inside a UTF-8 character in _AUTO8 and
 * _UTF8), taken as exactly its len bytes (a NUL byte asks for base64); the
 * value of a name with the binary option always in base64 (a plain line
 * there reads back as a file reference); a value of form LDIF_FORM_URL as
 * ":< url", as it is.
 * Returns the buffer, or NULL, the caller's buffer still valid and
 * unchanged (the text is built apart and appended at the end), when:
 *   - errno EINVAL: a NULL record or count, a mode of LDIF_ENC_URL, a width
 *     of 1 or a negative width, or a record the reader would refuse: a
 *     change out of range; controls on an entry; an entry or add record
 *     without attributes, or attributes in another record; modifications
 *     outside a modify record; a modrdn record without newrdn, or a newrdn
 *     or newsuperior in another record; an OID or attribute description
 *     (of an attribute or a modification) that is not valid, or an
 *     attribute named dn, control or changetype; an op out of range; an
 *     increment with other than one value; a URL holding a NUL, CR or LF;
 *   - errno EOVERFLOW: the text would not fit an int count;
 *   - memory runs out (the writer's messages as ldif_write_attr writes them).
 */
char *ldif_write_record(char *buffer, int *count, const ldif_record *record, int mode, int width) KESTRIN_NOEXCEPT;

/*
 * ldif_next_entry: cuts the next entry out of a text: lines before the first
 * "dn:" line (its first three bytes other than CR "dn:" in any letter case,
 * with or without a value: "dn:" alone is the empty name of the root DSE) are
 * skipped, the entry runs to the next blank line (consumed) or
 * the end of the text. A blank line is an empty line or one of CRs only.
 * Folded lines are joined (as ldif_parse_line joins them: a line after a
 * blank line is never a continuation), one CR before a line's end is
 * removed, and every line of the entry text ends in a LF; the entry text
 * reads as the source does. length is not needed (the text is
 * NUL-terminated).
 * Returns the cursor after the consumed lines with *entry (free it) and
 * *entry_len set; or the cursor with *entry NULL and *entry_len 0 when a
 * blank line came before any dn: line; or NULL at the end of the text or
 * when memory runs out.
 */
const char *ldif_next_entry(const char *cursor, int length, char **entry, int *entry_len) KESTRIN_NOEXCEPT;

/*
 * ldif_read_entry: reads the next entry from stream: physical lines of any
 * length, each without its LF and one CR; lines before the first "dn:" line
 * skipped; folded lines kept as lines of their own. The entry ends at a blank
 * line (empty, or of CRs only) or at the end of the stream (the lines
 * gathered are delivered).
 * Returns the entry text (free it), or NULL at the end of the stream, for a
 * blank line before any dn: line (consumed), or when memory runs out;
 * feof() tells the end apart.
 */
char *ldif_read_entry(FILE *stream) KESTRIN_NOEXCEPT;

/*
 * ldif2ekva: one EKVA_MULTI record (capacity 50) with one pair per line of
 * the text, in order: plain values under the name as written; base64 and
 * file values as their base64 text under "<name>;binary" (no pair for an
 * empty one); comments as "#" -> "#"; blank lines give nothing. length is
 * not needed. Returns NULL, after "ldif2ekva: failed to parse ldif buffer\n"
 * on stderr, when the first line cannot be parsed (also for an empty text);
 * a later line that cannot be parsed ends the record quietly.
 *
 * ldif2ekva_set: converts every entry of the text (ldif_next_entry,
 * ldif2ekva) and stores the records that hold a pair in a new set (*set is
 * written only when a record is stored); an entry that yields no pair (its
 * dn an empty base64 value or an unreadable file) is left out. With
 * class_name, an entry is kept only when it has no objectClass or its first
 * objectClass value equals class_name exactly.
 * Returns the number of records.
 * ldif2ekva_set_append: the same, pushing copies onto an existing set with
 * ekva_set_push (count and *capacity as there); returns the new count.
 * ldif_file2ekva_set / ldif_file2ekva_set_append: the same over the text of
 * a file, which ends at its first NUL byte (nothing after it is read); an
 * unreadable file returns 0 (the count passed in).
 */
ekva_pair **ldif2ekva(const char *text, int length) KESTRIN_NOEXCEPT;
int ldif2ekva_set(ekva_pair ****set, const char *text, const char *class_name) KESTRIN_NOEXCEPT;
int ldif2ekva_set_append(ekva_pair ****set, const char *text, const char *class_name,
                         int count, int *capacity) KESTRIN_NOEXCEPT;
int ldif_file2ekva_set(ekva_pair ****set, const char *path, const char *class_name) KESTRIN_NOEXCEPT;
int ldif_file2ekva_set_append(ekva_pair ****set, const char *path, const char *class_name,
                              int count, int *capacity) KESTRIN_NOEXCEPT;

/*
 * Entry queries: walk the lines of an entry text up to its first blank line
 * (an empty line or one of CRs only; comments and lines before dn:
 * included, a line with an empty name such as ": x" passed over; a line that
 * cannot be parsed ends the walk), comparing each name with attr as a whole,
 * ASCII case ignored. length is not needed. When the text is empty or its
 * first line cannot be parsed, a message names the operation on stderr
 * ("ldif_entry_count_attr: failed to parse ldif buffer\n", or
 * "ldif_entry_get_attr: ..." for the other two) and the result is empty.
 *   ldif_entry_count_attr: the number of matching lines.
 *   ldif_entry_get_attr: the n-th match (from 1): its value bytes through
 *     *value (free it; a NUL follows them) and its length; NULL and 0 when
 *     there is no n-th match. An empty value gives a non-NULL *value and 0.
 *   ldif_entry_get_attr_values: text copies (each ending at the value's first
 *     NUL) of every match except lines named exactly "dn", as a string list
 *     through *values (NULL when none); returns their number.
 */
int ldif_entry_count_attr(const char *entry, int length, const char *attr) KESTRIN_NOEXCEPT;
int ldif_entry_get_attr(const char *entry, int length, const char *attr, char **value, int n) KESTRIN_NOEXCEPT;
int ldif_entry_get_attr_values(const char *entry, int length, const char *attr, char ***values) KESTRIN_NOEXCEPT;

/*
 * ekva2ldif: the text of one LDIF entry for the record: the dn (first value
 * of "dn", any case) first, in mode LDIF_ENC_AUTO8, then every other entry
 * with a value, in record order, in mode LDIF_ENC_AUTO (entries keyed "dn" in
 * any case are not written again). A pair keyed exactly "-" with an empty
 * value (the separator line of a modify record, as ldif2ekva reads it) is
 * written as the line "-". So ekva2ldif(ldif2ekva(text)) keeps every
 * attribute description as written ("cn;lang-de:: w4Q=" is read as the key
 * "cn;lang-de;binary" and written back as it was). An entry that cannot be
 * written is left out. No blank line is added: separate entries with one
 * ("\n") when writing several. Returns a new text, or NULL for a NULL record
 * or when memory runs out.
 * ekva2ldif_wrap: the same, folding at width as ldif_write_attr_wrap
 * (ekva2ldif is width 77); NULL with errno EINVAL for a width of 1 or a
 * negative width.
 */
char *ekva2ldif(ekva_pair **record) KESTRIN_NOEXCEPT;
char *ekva2ldif_wrap(ekva_pair **record, int width) KESTRIN_NOEXCEPT;

KESTRIN_API_END
#ifdef __cplusplus
}
#endif

#endif
