/* The streaming reader, or with "records" the record reader, over a file:
 * every item pulled (the bytes of every value counted), the file read with
 * read() in pieces of 1 MiB (or, with "map", mapped 4 MiB at a time, each
 * window unmapped once the reader is done with it, so values come out of the
 * page cache without a copy), REPEAT times in one process. Prints the
 * seconds of the first and of the fastest pass, the number of entries (of
 * records), the value bytes and the number of errors.
 * Usage: ldif_reader FILE [REPEAT [read|map [records]]] */
#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include "ldif/ldif.h"

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

/* Where the pieces come from: read() into one buffer, or windows mapped in
 * turn. */
struct source {
    int fd, map;
    size_t size, offset, mapped_len;
    char *mapped;
};

static char piece[1 << 20];

/* The next piece (none: the end); -1 when it cannot be had. */
static int next_piece(struct source *s, const char **p, size_t *n) {
    const size_t window = (size_t)4 << 20;
    if (!s->map) {
        ssize_t got = read(s->fd, piece, sizeof piece);
        *p = piece;
        *n = got > 0 ? (size_t)got : 0;
        return got < 0 ? -1 : 0;
    }
    if (s->mapped) munmap(s->mapped, s->mapped_len);
    s->mapped = NULL;
    s->mapped_len = s->offset < s->size ? s->size - s->offset : 0;
    if (s->mapped_len > window) s->mapped_len = window;
    if (s->mapped_len > 0) {
        s->mapped = mmap(NULL, s->mapped_len, PROT_READ, MAP_PRIVATE | MAP_POPULATE, s->fd, (off_t)s->offset);
        if (s->mapped == MAP_FAILED) return -1;
    }
    *p = s->mapped;
    *n = s->mapped_len;
    s->offset += s->mapped_len;
    return 0;
}

static long units, bytes, errors;

static int items(struct source *s) {
    ldif_reader *r = ldif_reader_create(0);
    ldif_item item;
    int kind;
    const char *p;
    size_t n;
    if (!r) return -1;
    while ((kind = ldif_reader_next(r, &item)) != LDIF_END) {
        if (kind == LDIF_NEED_INPUT) {
            if (next_piece(s, &p, &n) != 0) return -1;
            ldif_reader_feed(r, p, n);
        } else if (kind == LDIF_ATTR) {
            bytes += (long)item.value_len;
        } else if (kind == LDIF_ENTRY_END) {
            ++units;
        } else if (kind == LDIF_ERROR) {
            ++errors;
        }
    }
    ldif_reader_free(r);
    return 0;
}

static int records(struct source *s) {
    ldif_record_reader *r = ldif_record_reader_create(0);
    ldif_record_item item;
    int kind;
    const char *p;
    size_t n;
    if (!r) return -1;
    while ((kind = ldif_record_reader_next(r, &item)) != LDIF_REC_DONE) {
        if (kind == LDIF_REC_NEED_INPUT) {
            if (next_piece(s, &p, &n) != 0) return -1;
            ldif_record_reader_feed(r, p, n);
        } else if (kind == LDIF_REC_VALUE) {
            bytes += (long)item.value_len;
        } else if (kind == LDIF_REC_END) {
            ++units;
        } else if (kind == LDIF_REC_ERROR) {
            ++errors;
        }
    }
    ldif_record_reader_free(r);
    return 0;
}

static int load(const char *path, int map, int by_records) {
    struct source s = {open(path, O_RDONLY), map, 0, 0, 0, NULL};
    struct stat st;
    if (s.fd < 0 || fstat(s.fd, &st) != 0) return -1;
    s.size = (size_t)st.st_size;
    units = bytes = errors = 0;
    const int done = by_records ? records(&s) : items(&s);
    if (s.mapped) munmap(s.mapped, s.mapped_len);
    close(s.fd);
    return done;
}

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    int repeat = argc > 2 ? atoi(argv[2]) : 1;
    if (repeat < 1) repeat = 1;
    const int map = argc > 3 && strcmp(argv[3], "map") == 0;
    const int by_records = argc > 4 && strcmp(argv[4], "records") == 0;
    double first = 0, best = 1e9;
    for (int i = 0; i < repeat; ++i) {
        const double start = now();
        if (load(argv[1], map, by_records) != 0) return 1;
        const double took = now() - start;
        if (i == 0) first = took;
        if (took < best) best = took;
    }
    printf("%.4f %.4f %ld %ld %ld\n", first, best, units, bytes, errors);
    return units > 0 ? 0 : 1;
}
