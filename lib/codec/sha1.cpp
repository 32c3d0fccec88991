// SHA-1 (FIPS 180-4, 6.1): the incremental core, buffer and file digests.
#include "codec/sha1.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstring>

#include "codec/cpu_internal.h"
#include "codec/sha1_internal.h"
#include "util/fd_internal.h"

namespace kestrin::sha1 {
namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load_be32(const unsigned char *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

// Zeroes memory in a way the optimiser may not drop.
void wipe(void *p, size_t n) {
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
}

BlockKernel kernel() { return cpu::kernels().compress_sha1; }

// Finishes ctx and writes its digest to out: 20 bytes, or with format 'x'
// 40 lowercase hex digits and a NUL. Returns out.
char *finish(sha1_ctx &ctx, char format, char *out) {
    unsigned char digest[20];
    sha1_final(digest, &ctx);
    if (format != 'x') {
        std::memcpy(out, digest, 20);
        return out;
    }
    static constexpr char kLower[] = "0123456789abcdef";
    for (int i = 0; i < 20; ++i) {
        out[2 * i] = kLower[digest[i] >> 4];
        out[2 * i + 1] = kLower[digest[i] & 0x0F];
    }
    out[40] = '\0';
    return out;
}

}  // namespace

// Fully unrolled: the round number is a constant in every step, so the
// schedule indices and the choice of function fold away. The five working
// words rotate through the argument positions instead of being moved.
#define KESTRIN_SHA1_W(i)                                                                  \
    ((i) < 16 ? (w[(i)&15] = load_be32(data + 4 * ((i)&15)))                              \
              : (w[(i)&15] = rotl(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i)&15], 1)))
#define KESTRIN_SHA1_CH(x, y, z) ((x & (y ^ z)) ^ z)
#define KESTRIN_SHA1_PARITY(x, y, z) (x ^ y ^ z)
#define KESTRIN_SHA1_MAJ(x, y, z) ((x & y) | (z & (x | y)))
#define KESTRIN_SHA1_ROUND(v, x, y, z, u, i, f, k) \
    u += f(x, y, z) + KESTRIN_SHA1_W(i) + k + rotl(v, 5); \
    x = rotl(x, 30);
#define KESTRIN_SHA1_FIVE(i, f, k)                   \
    KESTRIN_SHA1_ROUND(a, b, c, d, e, (i), f, k)     \
    KESTRIN_SHA1_ROUND(e, a, b, c, d, (i) + 1, f, k) \
    KESTRIN_SHA1_ROUND(d, e, a, b, c, (i) + 2, f, k) \
    KESTRIN_SHA1_ROUND(c, d, e, a, b, (i) + 3, f, k) \
    KESTRIN_SHA1_ROUND(b, c, d, e, a, (i) + 4, f, k)
#define KESTRIN_SHA1_TWENTY(i, f, k)                                        \
    KESTRIN_SHA1_FIVE(i, f, k) KESTRIN_SHA1_FIVE((i) + 5, f, k)            \
    KESTRIN_SHA1_FIVE((i) + 10, f, k) KESTRIN_SHA1_FIVE((i) + 15, f, k)

void compress_portable(uint32_t state[5], const unsigned char *data, size_t blocks) {
    uint32_t w[16];
    uint32_t a = 0, b = 0, c = 0, d = 0, e = 0;
    for (; blocks > 0; --blocks, data += 64) {
        a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
        KESTRIN_SHA1_TWENTY(0, KESTRIN_SHA1_CH, 0x5A827999u)
        KESTRIN_SHA1_TWENTY(20, KESTRIN_SHA1_PARITY, 0x6ED9EBA1u)
        KESTRIN_SHA1_TWENTY(40, KESTRIN_SHA1_MAJ, 0x8F1BBCDCu)
        KESTRIN_SHA1_TWENTY(60, KESTRIN_SHA1_PARITY, 0xCA62C1D6u)
        state[0] += a, state[1] += b, state[2] += c, state[3] += d, state[4] += e;
    }
    // The working words and the schedule say something about the message.
    wipe(w, sizeof w);
    a = b = c = d = e = 0;
    __asm__ __volatile__("" : : "r"(a), "r"(b), "r"(c), "r"(d), "r"(e));
}

#undef KESTRIN_SHA1_TWENTY
#undef KESTRIN_SHA1_FIVE
#undef KESTRIN_SHA1_ROUND
#undef KESTRIN_SHA1_MAJ
#undef KESTRIN_SHA1_PARITY
#undef KESTRIN_SHA1_CH
#undef KESTRIN_SHA1_W

}  // namespace kestrin::sha1

using namespace kestrin::sha1;

extern "C" void sha1_init(sha1_ctx *ctx) noexcept {
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xEFCDAB89;
    ctx->state[2] = 0x98BADCFE;
    ctx->state[3] = 0x10325476;
    ctx->state[4] = 0xC3D2E1F0;
    ctx->count[0] = ctx->count[1] = 0;
}

extern "C" void sha1_update(sha1_ctx *ctx, const unsigned char *data, uint32_t len) noexcept {
    size_t j = (ctx->count[0] >> 3) & 63;
    const uint32_t bits = len << 3;
    if ((ctx->count[0] += bits) < bits) ++ctx->count[1];
    ctx->count[1] += len >> 29;
    size_t i = 0;
    if (j + len > 63) {
        const BlockKernel compress = kernel();
        i = 64 - j;
        std::memcpy(ctx->buffer + j, data, i);
        compress(ctx->state, ctx->buffer, 1);
        const size_t blocks = (len - i) / 64;
        compress(ctx->state, data + i, blocks);
        i += blocks * 64;
        j = 0;
    }
    if (len > i) std::memcpy(ctx->buffer + j, data + i, len - i);
}

extern "C" void sha1_final(unsigned char digest[20], sha1_ctx *ctx) noexcept {
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = static_cast<unsigned char>(ctx->count[i < 4 ? 1 : 0] >> ((3 - (i & 3)) * 8));
    static const unsigned char kOne = 0x80, kZero = 0x00;
    sha1_update(ctx, &kOne, 1);
    while ((ctx->count[0] & 504) != 448) sha1_update(ctx, &kZero, 1);
    sha1_update(ctx, length, 8);
    for (int i = 0; i < 20; ++i)
        digest[i] = static_cast<unsigned char>(ctx->state[i >> 2] >> ((3 - (i & 3)) * 8));
    wipe(ctx, sizeof *ctx);
    wipe(length, sizeof length);
}

extern "C" void sha1_transform(uint32_t state[5], const unsigned char block[64]) noexcept {
    kernel()(state, block, 1);
}

extern "C" char *sha1_buffer(const unsigned char *data, int32_t len, char format, char *out) noexcept {
    if (len < 0) return nullptr;
    sha1_ctx ctx;
    sha1_init(&ctx);
    sha1_update(&ctx, data, static_cast<uint32_t>(len));
    return finish(ctx, format, out);
}

extern "C" char *sha1_file(const char *path, char format, char *out) noexcept {
    const kestrin::fd::Fd file(::open(path, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return nullptr;
    ::posix_fadvise(file.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    sha1_ctx ctx;
    sha1_init(&ctx);
    // A fixed chunk: memory does not grow with the file.
    char chunk[1 << 16];
    const auto drained = kestrin::fd::drain(file.get(), chunk, LONG_MAX, [&ctx](const char *bytes, size_t n) {
        sha1_update(&ctx, reinterpret_cast<const unsigned char *>(bytes), static_cast<uint32_t>(n));
        return true;
    });
    if (drained.end != kestrin::fd::End::kData) {  // a digest of part of the file would be a wrong answer
        wipe(&ctx, sizeof ctx);
        return nullptr;
    }
    return finish(ctx, format, out);
}
