// What the CPU offers (CPUID, asked once) and the one table of codec kernels
// chosen from it. Every codec calls its kernels through kernels(), so the
// choice is made in one place, once, and a test can force the portable
// kernels of all codecs together.
#pragma once

#include "codec/base64_internal.h"
#include "codec/hex_internal.h"
#include "codec/sha1_internal.h"

namespace kestrin::cpu {

bool has_avx2();
bool has_sha();  // the SHA extensions (CPUID leaf 7, EBX bit 29) with SSSE3 and SSE4.1

// (The member names differ from the public functions', which kestrin_api.h
// maps to their link-level names.)
struct Kernels {
    base64::GroupEncoder encode_base64;
    base64::BulkDecoder decode_base64;
    hex::Encoder encode_hex;
    hex::Decoder decode_hex;
    sha1::BlockKernel compress_sha1;
};

// The table in use: the best kernels for this CPU, picked on the first call
// (thread-safe), or the portable ones while they are forced.
const Kernels &kernels();

// Test and benchmark hook: true makes every codec use its portable kernels
// from the next call on; false goes back to the best ones.
void force_portable(bool portable);

}  // namespace kestrin::cpu
