/* The kestrin half of a program that uses both LDIF libraries: only this
 * file includes the library's ldif.h, whose names match OpenLDAP's. */
#include "ldif/ldif.h"

#include <stdlib.h>
#include <string.h>

#include "both.h"

int ours_parse(const char *line, char *name, size_t name_size, char *value, size_t value_size,
               size_t *value_len) {
    char *n = NULL, *v = NULL;
    int len = 0, binary = 0, ok;
    if (!ldif_parse_line(line, (int)strlen(line), &n, &v, &len, &binary)) return 0;
    ok = strlen(n) < name_size && (size_t)len < value_size;
    if (ok) {
        strcpy(name, n);
        memcpy(value, v, (size_t)len);
        *value_len = (size_t)len;
    }
    free(n);
    free(v);
    return ok;
}

long ours_count_records(const char *path) {
    FILE *in = fopen(path, "r");
    long records = 0;
    char *entry;
    if (!in) return -1;
    while ((entry = ldif_read_entry(in)) != NULL || !feof(in)) {
        if (entry) ++records;
        free(entry);
    }
    fclose(in);
    return records;
}
