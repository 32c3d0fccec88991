// Hexadecimal codec: the public contract over the kernels of hex_internal.h
// (portable loops here, AVX2 in hex_avx2.cpp), picked by cpu::kernels().
#include "codec/hex.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "codec/cpu_internal.h"
#include "codec/hex_internal.h"
#include "util/alloc_internal.h"

namespace kestrin::hex {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr unsigned char kNotDigit = 0xFF;

constexpr std::array<unsigned char, 256> make_values() {
    std::array<unsigned char, 256> v{};
    for (auto &x : v) x = kNotDigit;
    for (unsigned i = 0; i < 10; ++i) v['0' + i] = static_cast<unsigned char>(i);
    for (unsigned i = 0; i < 6; ++i) {
        v['A' + i] = static_cast<unsigned char>(10 + i);
        v['a' + i] = static_cast<unsigned char>(10 + i);
    }
    return v;
}
constexpr auto kValues = make_values();

}  // namespace

void encode_portable(const unsigned char *data, size_t len, char *out) {
    for (size_t i = 0; i < len; ++i) {
        out[2 * i] = kDigits[data[i] >> 4];
        out[2 * i + 1] = kDigits[data[i] & 0x0F];
    }
}

size_t decode_portable(const char *text, size_t n, unsigned char *out) {
    for (size_t i = 0; i < n; ++i) {
        const unsigned char hi = kValues[static_cast<unsigned char>(text[2 * i])];
        const unsigned char lo = kValues[static_cast<unsigned char>(text[2 * i + 1])];
        if (hi == kNotDigit || lo == kNotDigit) return i;
        out[i] = static_cast<unsigned char>(hi << 4 | lo);
    }
    return n;
}

namespace {

char *encode(const unsigned char *data, size_t len) {
    if (!data || len == 0 || len > (SIZE_MAX - 1) / 2) return nullptr;
    char *out = static_cast<char *>(mem::allocate(2 * len + 1));
    if (!out) return nullptr;
    mem::advise_huge_pages(out, 2 * len + 1);
    cpu::kernels().encode_hex(data, len, out);
    out[2 * len] = '\0';
    return out;
}

size_t decode(const char *text, unsigned char **out) {
    if (!text || !*text || !out) return 0;
    const size_t len = std::strlen(text);
    if (len % 2) return 0;
    const size_t n = len / 2;
    auto *bytes = static_cast<unsigned char *>(mem::allocate(n));
    if (!bytes) return 0;
    mem::advise_huge_pages(bytes, n);
    *out = bytes;
    const size_t done = cpu::kernels().decode_hex(text, n, bytes);
    if (done == n) return n;
    std::memset(bytes + done, 0x41, n - done);  // what a failed decode leaves
    return 0;
}

}  // namespace
}  // namespace kestrin::hex

extern "C" char *hex_encode(const unsigned char *data, size_t len) noexcept { return kestrin::hex::encode(data, len); }

extern "C" int hex_digit_value(char c, unsigned char *nibble) noexcept {
    if (!nibble) return 0;
    const unsigned char v = kestrin::hex::kValues[static_cast<unsigned char>(c)];
    if (v == kestrin::hex::kNotDigit) return 0;
    *nibble = v;
    return 1;
}

extern "C" size_t hex_decode(const char *text, unsigned char **out) noexcept { return kestrin::hex::decode(text, out); }
