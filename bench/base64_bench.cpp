// Throughput of the base64 codec (dispatched and portable kernels) and of the
// LDIF writer on 64 MiB values. Bytes/s are counted on the input.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "codec/base64_internal.h"
#include "codec/cpu_internal.h"
#include "ldif/ldif.h"

namespace {

constexpr size_t kSize = 64u << 20;

const std::vector<unsigned char> &random_bytes() {
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> b(kSize);
        std::mt19937_64 rng(1);
        for (auto &x : b) x = static_cast<unsigned char>(rng());
        return b;
    }();
    return bytes;
}

const std::string &encoded(bool line_breaks) {
    static std::string texts[2];
    std::string &text = texts[line_breaks];
    if (text.empty()) {
        std::string plain(kSize / 3 * 4 + 8, '\0');
        plain.resize(static_cast<size_t>(
            base64_encode(random_bytes().data(), kSize, plain.data(), plain.size())));
        if (!line_breaks) {
            text = plain;
        } else {
            for (size_t i = 0; i < plain.size(); i += 76) text += plain.substr(i, 76) + "\n";
        }
    }
    return text;
}

void BM_Encode(benchmark::State &state) {
    const auto &src = random_bytes();
    std::vector<char> out(kSize / 3 * 4 + 8);
    const bool portable = state.range(0) != 0;
    for (auto _ : state) {
        const int n = portable ? kestrin::base64::encode_with(kestrin::base64::encode_groups_portable,
                                                              src.data(), src.size(), out.data(), out.size())
                               : base64_encode(src.data(), src.size(), out.data(), out.size());
        if (n < 0) state.SkipWithError("encode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
    state.SetLabel(portable ? "portable" : kestrin::cpu::has_avx2() ? "avx2" : "portable");
}

void BM_Decode(benchmark::State &state) {
    const std::string &text = encoded(state.range(0) != 0);
    std::vector<unsigned char> out(text.size());
    const bool portable = state.range(1) != 0;
    for (auto _ : state) {
        const int n = portable ? kestrin::base64::decode_with(kestrin::base64::decode_bulk_portable,
                                                              text.c_str(), out.data(), out.size())
                               : base64_decode(text.c_str(), out.data(), out.size());
        if (n != static_cast<int>(kSize)) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
    state.SetLabel(std::string(state.range(0) ? "76-column lines" : "unbroken") +
                   (portable ? ", portable" : ""));
}

void BM_LdifWriteBinary(benchmark::State &state) {
    const auto &src = random_bytes();
    for (auto _ : state) {
        int count = 0;
        char *text = ldif_write_attr(nullptr, &count, "jpegPhoto", reinterpret_cast<const char *>(src.data()),
                                     static_cast<int>(src.size()), LDIF_ENC_BASE64);
        if (!text) state.SkipWithError("write failed");
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * src.size()));
}

BENCHMARK(BM_Encode)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Decode)->Args({0, 0})->Args({1, 0})->Args({0, 1})->Args({1, 1})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LdifWriteBinary)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
