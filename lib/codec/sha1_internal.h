// SHA-1 block kernels: portable, and the x86 SHA extensions picked by
// cpu::kernels() when CPUID reports them. Tests call each directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrin::sha1 {

// Compresses `blocks` consecutive 64-byte blocks into state.
using BlockKernel = void (*)(uint32_t state[5], const unsigned char *data, size_t blocks);
void compress_portable(uint32_t state[5], const unsigned char *data, size_t blocks);
void compress_shani(uint32_t state[5], const unsigned char *data, size_t blocks);

}  // namespace kestrin::sha1
