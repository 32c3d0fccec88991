// Loads an LDIF file into a record set with ldif_file2ekva_set and prints
// the seconds it took and the number of records (run under /usr/bin/time for
// the peak memory). Usage: ldif_load FILE
#include <chrono>
#include <cstdio>

#include "ldif/ldif.h"

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    const auto start = std::chrono::steady_clock::now();
    ekva_pair ***set = nullptr;
    const int n = ldif_file2ekva_set(&set, argv[1], nullptr);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.4f %d\n", took.count(), n);
    ekva_set_free(set);
    return n > 0 ? 0 : 1;
}
