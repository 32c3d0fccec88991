// CPU features and the codec kernel table built from them.
#include "codec/cpu_internal.h"

#include <atomic>

namespace kestrin::cpu {
namespace {

constexpr Kernels kPortable{base64::encode_groups_portable, base64::decode_bulk_portable, hex::encode_portable,
                            hex::decode_portable, sha1::compress_portable};

Kernels pick_best() {
    const bool avx2 = has_avx2();
    return Kernels{avx2 ? base64::encode_groups_avx2 : base64::encode_groups_portable,
                   avx2 ? base64::decode_bulk_avx2 : base64::decode_bulk_portable,
                   avx2 ? hex::encode_avx2 : hex::encode_portable,
                   avx2 ? hex::decode_avx2 : hex::decode_portable,
                   has_sha() ? sha1::compress_shani : sha1::compress_portable};
}

std::atomic<bool> portable_forced{false};

}  // namespace

bool has_avx2() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
}

bool has_sha() {
    static const bool has = [] {
        __builtin_cpu_init();
        if (!__builtin_cpu_supports("sse4.1") || !__builtin_cpu_supports("ssse3")) return false;
        unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
        __asm__("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(0), "c"(0));
        if (eax < 7) return false;
        __asm__("cpuid" : "=a"(eax), "=b"(ebx), "=c"(ecx), "=d"(edx) : "a"(7), "c"(0));
        return ((ebx >> 29) & 1) != 0;
    }();
    return has;
}

const Kernels &kernels() {
    // A function-local static is initialised exactly once, even when several
    // threads make the first call together.
    static const Kernels best = pick_best();
    return portable_forced.load(std::memory_order_relaxed) ? kPortable : best;
}

void force_portable(bool portable) { portable_forced.store(portable, std::memory_order_relaxed); }

}  // namespace kestrin::cpu
