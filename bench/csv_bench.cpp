// csv_read_record over a 100 MB file of 1,000,000 lines, and over single
// lines of 1 MB and 10 MB (time must grow linearly with the length).
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ekva/csv.h"
#include "ekva/strlist.h"

namespace {

std::string write_file(const std::string &name, const std::string &bytes) {
    const std::string path = "/tmp/kestrin_csv_bench_" + name;
    FILE *f = std::fopen(path.c_str(), "w");
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
}

const std::string &many_lines() {
    static const std::string path = [] {
        std::mt19937 rng(1);
        std::string text;
        text.reserve(105u << 20);
        for (int i = 0; i < 1000000; ++i) {
            // About 100 bytes a line: plain, quoted and escaped fields.
            text += "user" + std::to_string(rng() % 1000000) + ",\"Doe, John\",john.doe" + std::to_string(i) +
                    "@example.org,+1 555 0100,\"said \"\"hi\"\"\",line1\\nline2,cn=x\\,ou=people\n";
        }
        return write_file("lines", text);
    }();
    return path;
}

const std::string &long_line(size_t mib) {
    static std::map<size_t, std::string> paths;
    auto &path = paths[mib];
    if (path.empty()) {
        std::string line;
        while (line.size() < (mib << 20)) line += "field" + std::to_string(line.size()) + ",";
        path = write_file("long" + std::to_string(mib), line + "\n");
    }
    return path;
}

size_t file_size(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "r");
    std::fseek(f, 0, SEEK_END);
    const long size = std::ftell(f);
    std::fclose(f);
    return static_cast<size_t>(size);
}

void read_all(const std::string &path, benchmark::State &state) {
    for (auto _ : state) {
        FILE *f = std::fopen(path.c_str(), "r");
        size_t fields = 0;
        while (!std::feof(f)) {
            char **record = csv_read_record(f, ',', 1);
            fields += static_cast<size_t>(strlist_count(record));
            strlist_free(record);
        }
        std::fclose(f);
        benchmark::DoNotOptimize(fields);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * file_size(path)));
}

void BM_ReadManyLines(benchmark::State &state) { read_all(many_lines(), state); }
void BM_ReadOneLongLine(benchmark::State &state) { read_all(long_line(static_cast<size_t>(state.range(0))), state); }

BENCHMARK(BM_ReadManyLines)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadOneLongLine)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    // Keep freed memory in the process: otherwise every 10 MB iteration pays
    // the page faults of re-growing the heap, which on this VM cost more than
    // the parsing and hide whether the reader itself is linear.
    // KESTRIN_BENCH_DEFAULT_MALLOC=1 measures with the allocator's defaults.
    const bool default_malloc = std::getenv("KESTRIN_BENCH_DEFAULT_MALLOC") != nullptr;
    if (!default_malloc) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
    }
    benchmark::Initialize(&argc, argv);
    many_lines();
    long_line(1);
    long_line(10);
    benchmark::RunSpecifiedBenchmarks();
    for (const char *name : {"lines", "long1", "long10"}) std::remove((std::string("/tmp/kestrin_csv_bench_") + name).c_str());
    std::printf("\nallocator: %s\n", default_malloc ? "defaults" : "freed memory kept (trim and mmap thresholds raised)");
    std::printf("targets: BM_ReadManyLines >= 100 MB/s; BM_ReadOneLongLine/10 about 10x BM_ReadOneLongLine/1\n");
    return 0;
}
