// What the CPU offers, asked once (CPUID) and remembered: the codecs choose
// their kernels from these.
#pragma once

namespace kestrin::cpu {

bool has_avx2();
bool has_sha();  // the SHA extensions (CPUID leaf 7, EBX bit 29) with SSSE3 and SSE4.1

}  // namespace kestrin::cpu
