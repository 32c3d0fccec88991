// Loads an LDIF file into a record set with ldif_file2ekva_set, REPEAT times
// in one process, and prints the seconds of the first load, of the fastest
// load, and the number of records. Run it under /usr/bin/time with REPEAT 1
// for the peak memory. Usage: ldif_load FILE [REPEAT]
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "ldif/ldif.h"

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    // Keep freed memory in the process between loads, so that the repeated
    // loads measure the reader rather than the kernel's page faults, which
    // on this VM cost about 10 us each (the first load pays them).
    // KESTRIN_BENCH_DEFAULT_MALLOC=1 keeps the allocator's defaults.
    if (!std::getenv("KESTRIN_BENCH_DEFAULT_MALLOC")) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
    }
    const int repeat = argc > 2 ? std::max(1, std::atoi(argv[2])) : 1;
    double first = 0, best = 1e9;
    int n = 0;
    for (int i = 0; i < repeat; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ekva_pair ***set = nullptr;
        n = ldif_file2ekva_set(&set, argv[1], nullptr);
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (i == 0) first = took;
        best = std::min(best, took);
        ekva_set_free(set);
    }
    std::printf("%.4f %.4f %d\n", first, best, n);
    return n > 0 ? 0 : 1;
}
