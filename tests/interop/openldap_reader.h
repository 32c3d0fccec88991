/* The interoperability helper's reading of a file with OpenLDAP's libldap. */
#ifndef KESTRIN_TESTS_INTEROP_OPENLDAP_READER_H
#define KESTRIN_TESTS_INTEROP_OPENLDAP_READER_H

#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads path with ldif_read_record, ldif_getline and ldif_parse_line2 and
 * prints, per record, a line "record" and then one line "type<TAB>base64 of
 * the value" per attribute line (comments are passed over by libldap). A line
 * that ldif_parse_line2 refuses prints "error<TAB>line number" and ends the
 * reading. Returns the number of records, or -1 when the file cannot be
 * opened or a line was refused. */
int openldap_print_records(const char *path, FILE *out);

#ifdef __cplusplus
}
#endif

#endif
