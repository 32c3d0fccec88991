// The entry queries over one group entry of 10,000 and of 200,000 member
// values: the cost per value must not grow with the entry.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "ldif/ldif.h"

namespace {

const std::string &group(int members) {
    static std::map<int, std::string> texts;
    std::string &text = texts[members];
    if (text.empty()) {
        text = "dn: cn=big,ou=groups,dc=example,dc=org\nobjectClass: groupOfNames\n";
        for (int i = 0; i < members; ++i)
            text += "member: uid=user" + std::to_string(i) + ",ou=people,dc=example,dc=org\n";
    }
    return text;
}

void BM_CountAttr(benchmark::State &state) {
    const std::string &text = group(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(ldif_entry_count_attr(text.c_str(), static_cast<int>(text.size()), "member"));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_GetLastAttr(benchmark::State &state) {
    const std::string &text = group(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        char *value = nullptr;
        benchmark::DoNotOptimize(
            ldif_entry_get_attr(text.c_str(), static_cast<int>(text.size()), "member", &value, static_cast<int>(state.range(0))));
        std::free(value);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_GetAttrValues(benchmark::State &state) {
    const std::string &text = group(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        char **values = nullptr;
        benchmark::DoNotOptimize(ldif_entry_get_attr_values(text.c_str(), static_cast<int>(text.size()), "member", &values));
        strlist_free(values);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_CountAttr)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetLastAttr)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetAttrValues)->Arg(10000)->Arg(200000)->Unit(benchmark::kMillisecond);

class Ratios : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &r : runs) per_value[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    std::map<std::string, double> per_value;
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    Ratios r;
    benchmark::RunSpecifiedBenchmarks(&r);
    std::printf("\n");
    for (const char *name : {"BM_CountAttr", "BM_GetLastAttr", "BM_GetAttrValues"}) {
        const auto small = r.per_value.find(std::string(name) + "/10000");
        const auto large = r.per_value.find(std::string(name) + "/200000");
        if (small == r.per_value.end() || large == r.per_value.end()) continue;
        std::printf("%-18s cost per value, 200,000 vs 10,000 values: %.2fx (target <= 3)\n", name,
                    (large->second / 200000) / (small->second / 10000));
    }
    return 0;
}
