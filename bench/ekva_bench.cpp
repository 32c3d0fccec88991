// Records, record sets and string lists at directory size: appending to one
// large record, sorting sets and lists, merging lists without duplicates.
#include <benchmark/benchmark.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "ekva/ekva.h"
#include "ekva/strlist.h"

namespace {

std::vector<std::string> member_names(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<std::string> v;
    v.reserve(n);
    for (size_t i = 0; i < n; ++i) v.push_back("uid=user" + std::to_string(rng() % 10000000) + ",ou=people,dc=example,dc=org");
    return v;
}

char **list_of(const std::vector<std::string> &texts) {
    char **list = nullptr;
    int capacity = 1024, n = 0;
    for (const auto &t : texts) n = strlist_push(&list, t.c_str(), n, &capacity);
    return list;
}

// One group record with n "member" values, appended one by one.
void BM_BuildRecord(benchmark::State &state) {
    const auto names = member_names(static_cast<size_t>(state.range(0)), 1);
    for (auto _ : state) {
        ekva_pair **record = ekva_create_mode(50, EKVA_MULTI);
        ekva_add(&record, "dn", "cn=group,dc=example,dc=org", EKVA_MULTI);
        for (const auto &n : names) ekva_add(&record, "member", n.c_str(), EKVA_MULTI);
        benchmark::DoNotOptimize(record);
        ekva_free(record);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_SortSet(benchmark::State &state) {
    const size_t n = static_cast<size_t>(state.range(0));
    const auto names = member_names(n, 2);
    ekva_pair ***set = nullptr;
    int count = 0, capacity = 1024;
    for (size_t i = 0; i < n; ++i) {
        ekva_pair **r = ekva_create(4);
        ekva_add(&r, "dn", names[i].c_str(), EKVA_MULTI);
        ekva_add(&r, "objectClass", "person", EKVA_MULTI);
        ekva_add(&r, "sn", names[(i * 7919) % n].c_str() + 8, EKVA_MULTI);
        count = ekva_set_push(&set, r, count, &capacity);
        ekva_free(r);
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::shuffle(set, set + count, std::mt19937(3));
        state.ResumeTiming();
        ekva_set_sort(&set, "sn");
    }
    ekva_set_free(set);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_SortStrings(benchmark::State &state) {
    const auto names = member_names(static_cast<size_t>(state.range(0)), 4);
    char **list = list_of(names);
    const int n = strlist_count(list);
    for (auto _ : state) {
        state.PauseTiming();
        std::shuffle(list, list + n, std::mt19937(5));
        state.ResumeTiming();
        strlist_sort(&list, nullptr);
    }
    strlist_free(list);
}

void BM_AppendUnique(benchmark::State &state) {
    char **a = list_of(member_names(static_cast<size_t>(state.range(0)), 6));
    char **b = list_of(member_names(static_cast<size_t>(state.range(0)), 7));
    for (auto _ : state) {
        state.PauseTiming();
        char **target = strlist_dup(a);
        state.ResumeTiming();
        target = strlist_append_unique(target, b);
        benchmark::DoNotOptimize(target);
        state.PauseTiming();
        strlist_free(target);
        state.ResumeTiming();
    }
    strlist_free(a);
    strlist_free(b);
}

BENCHMARK(BM_BuildRecord)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortSet)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortStrings)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AppendUnique)->Arg(100000)->Unit(benchmark::kMillisecond);

class Summary : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &r : runs) seconds[r.benchmark_name()] = r.GetAdjustedRealTime() / 1e3;
    }
    std::map<std::string, double> seconds;  // per iteration (ms unit -> s)
};

}  // namespace

int main(int argc, char **argv) {
    // Freed memory stays in the process between iterations, so that the
    // per-entry cost compares the algorithm, not this VM's page faults (about
    // 10 us each). KESTRIN_BENCH_DEFAULT_MALLOC=1 keeps the defaults.
    if (!std::getenv("KESTRIN_BENCH_DEFAULT_MALLOC")) {
        mallopt(M_TRIM_THRESHOLD, 1 << 30);
        mallopt(M_MMAP_THRESHOLD, 1 << 30);
    }
    benchmark::Initialize(&argc, argv);
    Summary summary;
    benchmark::RunSpecifiedBenchmarks(&summary);
    auto &s = summary.seconds;
    if (s.count("BM_BuildRecord/10000") && s.count("BM_BuildRecord/200000"))
        std::printf("\nrecord of 200,000 vs 10,000 entries, time per entry: %.2fx (target <= 3)\n",
                    (s["BM_BuildRecord/200000"] / 200000) / (s["BM_BuildRecord/10000"] / 10000));
    if (s.count("BM_SortSet/100000")) std::printf("sort 100,000 records: %.3f s (target < 0.5)\n", s["BM_SortSet/100000"]);
    if (s.count("BM_SortStrings/100000"))
        std::printf("sort 100,000 strings: %.3f s (target < 0.1)\n", s["BM_SortStrings/100000"]);
    if (s.count("BM_AppendUnique/100000"))
        std::printf("append_unique 100,000 + 100,000: %.3f s (target < 0.2)\n", s["BM_AppendUnique/100000"]);
    return 0;
}
