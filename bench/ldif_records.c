/* The record reader over a file: every item pulled (the bytes of every value
 * counted), the file read with read() in pieces of 1 MiB (or, with "map",
 * mapped 4 MiB at a time, as bench/ldif_reader.c does), REPEAT times in one
 * process. Prints the seconds of the first and of the fastest pass, the
 * number of records, the value bytes and the number of errors.
 * Usage: ldif_records FILE [REPEAT [map]] */
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

static long records, bytes, errors;

static int load(const char *path, int map) {
    static char piece[1 << 20];
    const size_t window = (size_t)4 << 20;
    int fd = open(path, O_RDONLY);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0) return -1;
    ldif_record_reader *r = ldif_record_reader_create(0);
    if (!r) return -1;
    records = bytes = errors = 0;
    char *mapped = NULL;
    size_t mapped_len = 0, offset = 0;
    ldif_record_item item;
    int kind;
    while ((kind = ldif_record_reader_next(r, &item)) != LDIF_REC_DONE) {
        if (kind == LDIF_REC_NEED_INPUT && map) {
            if (mapped) munmap(mapped, mapped_len);
            mapped = NULL;
            mapped_len = offset < (size_t)st.st_size ? (size_t)st.st_size - offset : 0;
            if (mapped_len > window) mapped_len = window;
            if (mapped_len > 0) {
                mapped = mmap(NULL, mapped_len, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, (off_t)offset);
                if (mapped == MAP_FAILED) return -1;
            }
            ldif_record_reader_feed(r, mapped, mapped_len);
            offset += mapped_len;
        } else if (kind == LDIF_REC_NEED_INPUT) {
            ssize_t n = read(fd, piece, sizeof piece);
            ldif_record_reader_feed(r, piece, n > 0 ? (size_t)n : 0);
        } else if (kind == LDIF_REC_VALUE) {
            bytes += (long)item.value_len;
        } else if (kind == LDIF_REC_END) {
            ++records;
        } else if (kind == LDIF_REC_ERROR) {
            ++errors;
        }
    }
    ldif_record_reader_free(r);
    close(fd);
    return 0;
}

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    int repeat = argc > 2 ? atoi(argv[2]) : 1;
    if (repeat < 1) repeat = 1;
    const int map = argc > 3 && strcmp(argv[3], "map") == 0;
    double first = 0, best = 1e9;
    for (int i = 0; i < repeat; ++i) {
        const double start = now();
        if (load(argv[1], map) != 0) return 1;
        const double took = now() - start;
        if (i == 0) first = took;
        if (took < best) best = took;
    }
    printf("%.4f %.4f %ld %ld %ld\n", first, best, records, bytes, errors);
    return records > 0 && errors == 0 ? 0 : 1;
}
