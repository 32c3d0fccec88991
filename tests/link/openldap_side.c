/* The OpenLDAP half of a program that uses both LDIF libraries: only this
 * file includes <ldif.h> from OpenLDAP. */
#include <stdio.h>

#include <lber.h>
#include <ldif.h>
#include <string.h>

#include "both.h"

int theirs_parse(const char *line, char *name, size_t name_size, char *value, size_t value_size,
                 size_t *value_len) {
    char *type = NULL, *val = NULL;
    ber_len_t len = 0;
    int ok;
    if (ldif_parse_line(line, &type, &val, &len) != 0) return 0;
    ok = strlen(type) < name_size && len < value_size;
    if (ok) {
        strcpy(name, type);
        memcpy(value, val, len);
        *value_len = len;
    }
    ber_memfree(type);
    ber_memfree(val);
    return ok;
}

long theirs_count_records(const char *path) {
    LDIFFP *fp = ldif_open(path, "r");
    char *buf = NULL;
    int buflen = 0;
    unsigned long lineno = 0;
    long records = 0;
    if (!fp) return -1;
    while (ldif_read_record(fp, &lineno, &buf, &buflen) > 0) ++records;
    ber_memfree(buf);
    ldif_close(fp);
    return records;
}
