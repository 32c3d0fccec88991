/* The two halves of the program that links both LDIF libraries: the same
 * operations over OpenLDAP's reader (theirs) and this library's (ours).
 * Each parse copies the line's name and value into the caller's buffers and
 * returns 1, or returns 0. */
#ifndef KESTRIN_TESTS_LINK_BOTH_H
#define KESTRIN_TESTS_LINK_BOTH_H

#include <stddef.h>

int theirs_parse(const char *line, char *name, size_t name_size, char *value, size_t value_size,
                 size_t *value_len);
long theirs_count_records(const char *path);
int ours_parse(const char *line, char *name, size_t name_size, char *value, size_t value_size,
               size_t *value_len);
long ours_count_records(const char *path);

#endif
