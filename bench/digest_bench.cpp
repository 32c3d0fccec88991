// SHA-1 against OpenSSL's SHA-1 in the same run (buffer of 64 MiB, file of
// 256 MiB), and the hex codec, on this machine. The peer is linked into the
// benchmark only. Ratios are printed at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "codec/hex.h"
#include "codec/sha1.h"
#include "codec/cpu_internal.h"
#include "codec/sha1_internal.h"

namespace {

constexpr size_t kBuffer = 64u << 20;
constexpr size_t kFile = 256u << 20;

const std::vector<unsigned char> &data() {
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> b(kFile);
        std::mt19937_64 rng(1);
        for (auto &x : b) x = static_cast<unsigned char>(rng());
        return b;
    }();
    return bytes;
}

const std::string &file_path() {
    static const std::string path = [] {
        const std::string p = "/tmp/kestrin_digest_bench.bin";
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char *>(data().data()), kFile);
        return p;
    }();
    return path;
}

void record(benchmark::State &state, size_t bytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
    state.counters["rate"] = benchmark::Counter(static_cast<double>(state.iterations() * bytes),
                                                benchmark::Counter::kIsRate);
}

void openssl_sha1(const unsigned char *p, size_t n, unsigned char *md) {
    unsigned int len = 0;
    EVP_Digest(p, n, md, &len, EVP_sha1(), nullptr);
}

void BM_Sha1Buffer(benchmark::State &state) {
    const bool portable = state.range(0) != 0;
    kestrin::cpu::force_portable(portable);
    char out[41];
    for (auto _ : state) benchmark::DoNotOptimize(sha1_buffer(data().data(), kBuffer, 'x', out));
    kestrin::cpu::force_portable(false);
    record(state, kBuffer);
}

void BM_OpenSslBuffer(benchmark::State &state) {
    unsigned char md[EVP_MAX_MD_SIZE];
    for (auto _ : state) {
        openssl_sha1(data().data(), kBuffer, md);
        benchmark::DoNotOptimize(md);
    }
    record(state, kBuffer);
}

void BM_Sha1File(benchmark::State &state) {
    const std::string &path = file_path();
    char out[41];
    for (auto _ : state) benchmark::DoNotOptimize(sha1_file(path.c_str(), 'x', out));
    record(state, kFile);
}

// The peer reads the same file through a buffer of the same size.
void BM_OpenSslFile(benchmark::State &state) {
    const std::string &path = file_path();
    std::vector<unsigned char> chunk(1 << 16);
    for (auto _ : state) {
        const int fd = open(path.c_str(), O_RDONLY);
        EVP_MD_CTX *ctx = EVP_MD_CTX_new();
        EVP_DigestInit_ex(ctx, EVP_sha1(), nullptr);
        for (ssize_t got; (got = read(fd, chunk.data(), chunk.size())) > 0;)
            EVP_DigestUpdate(ctx, chunk.data(), static_cast<size_t>(got));
        unsigned char md[EVP_MAX_MD_SIZE];
        unsigned int len = 0;
        EVP_DigestFinal_ex(ctx, md, &len);
        EVP_MD_CTX_free(ctx);
        close(fd);
        benchmark::DoNotOptimize(md);
    }
    record(state, kFile);
}

void BM_HexEncode(benchmark::State &state) {
    for (auto _ : state) {
        char *text = hex_encode(data().data(), kBuffer);
        benchmark::DoNotOptimize(text);
        std::free(text);
    }
    record(state, kBuffer);
}

void BM_HexDecode(benchmark::State &state) {
    static char *text = hex_encode(data().data(), kBuffer);
    for (auto _ : state) {
        unsigned char *out = nullptr;
        benchmark::DoNotOptimize(hex_decode(text, &out));
        std::free(out);
    }
    record(state, kBuffer);
}

BENCHMARK(BM_Sha1Buffer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenSslBuffer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Sha1File)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_OpenSslFile)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HexEncode)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_HexDecode)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps the console output and remembers each run's rate for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &run : runs) {
            const auto it = run.counters.find("rate");
            if (it != run.counters.end()) rates[run.benchmark_name()] = it->second.value;
        }
    }
    std::map<std::string, double> rates;
};

double rate(const RatioReporter &r, const std::string &prefix) {
    for (const auto &[name, value] : r.rates)
        if (name.rfind(prefix, 0) == 0) return value;
    return 0;
}

}  // namespace

// sha1sum over the same file, best of three, in bytes per second.
double sha1sum_rate() {
    double best = 0;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(("sha1sum " + file_path() + " >/dev/null").c_str()) != 0) return 0;
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::max(best, static_cast<double>(kFile) / took.count());
    }
    return best;
}

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    file_path();  // make the data and the file before any timing
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double coreutils = sha1sum_rate();
    std::remove("/tmp/kestrin_digest_bench.bin");
    const double buffer = rate(reporter, "BM_Sha1Buffer/0"), ossl_buffer = rate(reporter, "BM_OpenSslBuffer");
    const double file = rate(reporter, "BM_Sha1File"), ossl_file = rate(reporter, "BM_OpenSslFile");
    std::printf("\nSHA extensions: %s\n", kestrin::cpu::has_sha() ? "yes" : "no");
    if (ossl_buffer > 0) std::printf("sha1_buffer / OpenSSL: %.2f (target >= 0.90)\n", buffer / ossl_buffer);
    if (ossl_file > 0) std::printf("sha1_file   / OpenSSL: %.2f (target >= 0.90)\n", file / ossl_file);
    if (coreutils > 0)
        std::printf("portable SHA-1 / sha1sum: %.2f (target >= 1.00)\n", rate(reporter, "BM_Sha1Buffer/1") / coreutils);
    std::printf("hex_encode %.2f GB/s, hex_decode %.2f GB/s (target >= 2)\n", rate(reporter, "BM_HexEncode") / 1e9,
                rate(reporter, "BM_HexDecode") / 1e9);
    return 0;
}
