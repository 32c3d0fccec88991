/* The peer: OpenLDAP's own LDIF reader (libldap's ldif_read_record and
 * ldif_parse_line2) over the same file, every value parsed, REPEAT times in
 * one process. Prints the seconds of the first and of the fastest pass and
 * the number of records. Usage: ldif_load_openldap FILE [REPEAT] */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <lber.h>
#include <ldif.h>

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static long load(const char *path) {
    LDIFFP *fp = ldif_open(path, "r");
    if (!fp) return -1;
    char *buf = NULL;
    int buflen = 0;
    unsigned long lineno = 0;
    long records = 0;
    while (ldif_read_record(fp, &lineno, &buf, &buflen) > 0) {
        char *s = buf, *line;
        while ((line = ldif_getline(&s)) != NULL) {
            struct berval type, value;
            int freeval = 0;
            if (*line == '\0' || ldif_parse_line2(line, &type, &value, &freeval) != 0) continue;
            if (freeval) ber_memfree(value.bv_val);
        }
        ++records;
    }
    ber_memfree(buf);
    ldif_close(fp);
    return records;
}

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    int repeat = argc > 2 ? atoi(argv[2]) : 1;
    if (repeat < 1) repeat = 1;
    double first = 0, best = 1e9;
    long records = 0;
    for (int i = 0; i < repeat; ++i) {
        const double start = now();
        records = load(argv[1]);
        const double took = now() - start;
        if (i == 0) first = took;
        if (took < best) best = took;
    }
    printf("%.4f %.4f %ld\n", first, best, records);
    return records > 0 ? 0 : 1;
}
