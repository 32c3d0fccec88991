/* The OpenLDAP half of the interoperability helper: a file read with
 * libldap's own LDIF reader (ldif_read_record, ldif_getline,
 * ldif_parse_line2). Only this file includes OpenLDAP's <ldif.h>, whose
 * names are the library's names too. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <lber.h>
#include <ldif.h>

#include "openldap_reader.h"

static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

/* The bytes as base64 (a reference encoder of its own, so that the two
 * readings printed by the helper do not share the library's encoder). */
static void print_base64(FILE *out, const unsigned char *p, size_t n) {
    for (size_t i = 0; i < n; i += 3) {
        const unsigned v = (unsigned)p[i] << 16 | (i + 1 < n ? (unsigned)p[i + 1] << 8 : 0u) |
                           (i + 2 < n ? (unsigned)p[i + 2] : 0u);
        fputc(alphabet[v >> 18 & 63], out);
        fputc(alphabet[v >> 12 & 63], out);
        fputc(i + 1 < n ? alphabet[v >> 6 & 63] : '=', out);
        fputc(i + 2 < n ? alphabet[v & 63] : '=', out);
    }
}

int openldap_print_records(const char *path, FILE *out) {
    LDIFFP *fp = ldif_open(path, "r");
    char *buf = NULL;
    int buflen = 0;
    unsigned long lineno = 0;
    int records = 0;
    int ok = 1;
    if (!fp) return -1;
    while (ok && ldif_read_record(fp, &lineno, &buf, &buflen) > 0) {
        char *s = buf, *line;
        fputs("record\n", out);
        while ((line = ldif_getline(&s)) != NULL) {
            struct berval type, value;
            int freeval = 0;
            if (*line == '\0') continue;
            if (ldif_parse_line2(line, &type, &value, &freeval) != 0) {
                fprintf(out, "error\t%lu\n", lineno);
                ok = 0;
                break;
            }
            fwrite(type.bv_val, 1, type.bv_len, out);
            fputc('\t', out);
            print_base64(out, (const unsigned char *)value.bv_val, value.bv_len);
            fputc('\n', out);
            if (freeval) ber_memfree(value.bv_val);
        }
        ++records;
    }
    ber_memfree(buf);
    ldif_close(fp);
    return ok ? records : -1;
}
