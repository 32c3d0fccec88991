// Streams an LDIF file entry by entry: ldif_read_entry, then ldif2ekva and
// ekva_free for each entry, so memory holds one entry at a time. Prints the
// seconds of the pass and the number of records; bench/ldif.sh times the
// whole process and its peak memory. Usage: ldif_stream FILE
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "ekva/ekva.h"
#include "ldif/ldif.h"

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    FILE *in = std::fopen(argv[1], "r");
    if (!in) return 2;
    const auto start = std::chrono::steady_clock::now();
    long records = 0;
    while (!std::feof(in)) {
        char *entry = ldif_read_entry(in);
        if (!entry) {
            if (std::ferror(in)) break;
            continue;  // a blank line before any dn: line
        }
        ekva_pair **record = ldif2ekva(entry, -1);
        if (record) ++records;
        ekva_free(record);
        std::free(entry);
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fclose(in);
    std::printf("%.4f %ld\n", took, records);
    return records > 0 ? 0 : 1;
}
