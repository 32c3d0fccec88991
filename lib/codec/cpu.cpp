#include "codec/cpu_internal.h"

namespace kestrin::cpu {

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

}  // namespace kestrin::cpu
