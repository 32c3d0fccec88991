/* A program that uses OpenLDAP's ldif_parse_line and ldif_read_record and
 * this library's ldif_parse_line and ldif_read_entry, each half through its
 * own header: both must give their own results, whatever the link order.
 * Usage: both_test SCRATCH_FILE */
#include <stdio.h>
#include <string.h>

#include "both.h"

static const char kLdif[] =
    "dn: cn=a,dc=example\n"
    "cn: a\n"
    "description:: aGVsbG8K\n"
    "\n"
    "dn: cn=b,dc=example\n"
    "cn: b\n";

static int check_parse(const char *who,
                       int (*parse)(const char *, char *, size_t, char *, size_t, size_t *)) {
    char name[64], value[64];
    size_t len = 0;
    if (!parse("description:: aGVsbG8K", name, sizeof name, value, sizeof value, &len)) {
        fprintf(stderr, "%s: ldif_parse_line failed\n", who);
        return 0;
    }
    if (strcmp(name, "description") != 0 || len != 6 || memcmp(value, "hello\n", 6) != 0) {
        fprintf(stderr, "%s: ldif_parse_line gave name '%s' and %zu value bytes\n", who, name, len);
        return 0;
    }
    return 1;
}

int main(int argc, char **argv) {
    FILE *out;
    long theirs, ours;
    if (argc != 2) {
        fprintf(stderr, "usage: both_test SCRATCH_FILE\n");
        return 2;
    }
    out = fopen(argv[1], "w");
    if (!out || fputs(kLdif, out) == EOF || fclose(out) != 0) {
        perror(argv[1]);
        return 1;
    }
    if (!check_parse("OpenLDAP", theirs_parse) || !check_parse("kestrin", ours_parse)) return 1;
    theirs = theirs_count_records(argv[1]);
    ours = ours_count_records(argv[1]);
    remove(argv[1]);
    if (theirs != 2 || ours != 2) {
        fprintf(stderr, "records: OpenLDAP %ld, kestrin %ld, expected 2 each\n", theirs, ours);
        return 1;
    }
    puts("both libraries ok");
    return 0;
}
