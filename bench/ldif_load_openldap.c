/* The peer: OpenLDAP's own LDIF reader (libldap's ldif_read_record and
 * ldif_parse_line2) over the same file, every value parsed. Prints seconds
 * and the number of records. Usage: ldif_load_openldap FILE */
#include <stdio.h>
#include <lber.h>
#include <ldif.h>
#include <stdio.h>
#include <time.h>

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    struct timespec a, b;
    clock_gettime(CLOCK_MONOTONIC, &a);
    LDIFFP *fp = ldif_open(argv[1], "r");
    if (!fp) return 1;
    char *buf = NULL;
    int buflen = 0;
    unsigned long lineno = 0;
    long records = 0, values = 0;
    while (ldif_read_record(fp, &lineno, &buf, &buflen) > 0) {
        char *s = buf, *line;
        while ((line = ldif_getline(&s)) != NULL) {
            struct berval type, value;
            int freeval = 0;
            if (*line == '\0' || ldif_parse_line2(line, &type, &value, &freeval) != 0) continue;
            ++values;
            if (freeval) ber_memfree(value.bv_val);
        }
        ++records;
    }
    ber_memfree(buf);
    ldif_close(fp);
    clock_gettime(CLOCK_MONOTONIC, &b);
    printf("%.4f %ld\n", (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9, records);
    return values > 0 ? 0 : 1;
}
