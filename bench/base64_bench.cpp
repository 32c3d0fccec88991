// Throughput of the base64 codec (dispatched and portable kernels) and of the
// LDIF writer on 64 MiB values, and of the decoder on 1 MiB of text in cache,
// unbroken and folded in 76-character lines, with the ratio of the two.
// Bytes/s are counted on the input.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
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

// The first `bytes` random bytes encoded, unbroken or in 76-character lines
// each ending in LF, as `base64 -w 76` writes them.
std::string make_text(size_t bytes, bool line_breaks) {
    std::string plain(base64_encoded_size(bytes) + 1, '\0');
    plain.resize(static_cast<size_t>(base64_encode(random_bytes().data(), bytes, plain.data(), plain.size())));
    if (!line_breaks) return plain;
    std::string text;
    for (size_t i = 0; i < plain.size(); i += 76) text += plain.substr(i, 76) + "\n";
    return text;
}

const std::string &encoded(bool line_breaks) {
    static const std::string texts[2] = {make_text(kSize, false), make_text(kSize, true)};
    return texts[line_breaks];
}

constexpr size_t kCacheSize = 1u << 20;

const std::string &encoded_in_cache(bool line_breaks) {
    static const std::string texts[2] = {make_text(kCacheSize, false), make_text(kCacheSize, true)};
    return texts[line_breaks];
}

void BM_Encode(benchmark::State &state) {
    const auto &src = random_bytes();
    std::vector<char> out(base64_encoded_size(kSize) + 1);
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

// 1 MiB of data, so that text and output stay in cache: the kernels' own
// speed, without memory bandwidth in the way. Unbroken and folded text are
// decoded alternately and each call is timed on its own; the fastest call of
// each counts, so that other work on the machine disturbs the ratio as little
// as possible.
void BM_DecodeInCache(benchmark::State &state) {
    const bool portable = state.range(0) != 0;
    const std::string *texts[2] = {&encoded_in_cache(false), &encoded_in_cache(true)};
    std::vector<unsigned char> out(texts[1]->size());
    double fastest[2] = {1e30, 1e30};
    for (auto _ : state) {
        for (int folded = 0; folded < 2; ++folded) {
            const std::string &text = *texts[folded];
            const auto start = std::chrono::steady_clock::now();
            const int n = portable ? kestrin::base64::decode_span_with(kestrin::base64::decode_bulk_portable,
                                                                       text.data(), text.size(), out.data(), out.size())
                                   : base64_decode_n(text.data(), text.size(), out.data(), out.size());
            benchmark::DoNotOptimize(out.data());
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
            if (n != static_cast<int>(kCacheSize)) state.SkipWithError("decode failed");
            fastest[folded] = std::min(fastest[folded], took.count());
        }
    }
    const double unbroken = static_cast<double>(texts[0]->size()) / fastest[0] / 1e9;
    const double folded = static_cast<double>(texts[1]->size()) / fastest[1] / 1e9;
    state.counters["unbroken_GBps"] = unbroken;
    state.counters["folded76_GBps"] = folded;
    state.counters["ratio"] = folded / unbroken;
    state.SetLabel(portable ? "portable" : kestrin::cpu::has_avx2() ? "avx2" : "portable");
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
BENCHMARK(BM_DecodeInCache)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdifWriteBinary)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
