#include "codec/cpu_internal.h"

#include <gtest/gtest.h>

namespace {

using kestrin::cpu::force_portable;
using kestrin::cpu::kernels;
namespace base64 = kestrin::base64;
namespace hex = kestrin::hex;
namespace sha1 = kestrin::sha1;

// One switch moves every codec to its portable kernels and back.
TEST(CpuDispatch, ForcingPortableSwitchesEveryCodec) {
    force_portable(true);
    const auto forced = kernels();
    force_portable(false);
    const auto best = kernels();
    EXPECT_EQ(forced.base64_encode, base64::encode_groups_portable);
    EXPECT_EQ(forced.base64_decode, base64::decode_bulk_portable);
    EXPECT_EQ(forced.hex_encode, hex::encode_portable);
    EXPECT_EQ(forced.hex_decode, hex::decode_portable);
    EXPECT_EQ(forced.sha1_compress, sha1::compress_portable);

    const bool avx2 = kestrin::cpu::has_avx2();
    EXPECT_EQ(best.base64_encode, avx2 ? base64::encode_groups_avx2 : base64::encode_groups_portable);
    EXPECT_EQ(best.base64_decode, avx2 ? base64::decode_bulk_avx2 : base64::decode_bulk_portable);
    EXPECT_EQ(best.hex_encode, avx2 ? hex::encode_avx2 : hex::encode_portable);
    EXPECT_EQ(best.hex_decode, avx2 ? hex::decode_avx2 : hex::decode_portable);
    EXPECT_EQ(best.sha1_compress, kestrin::cpu::has_sha() ? sha1::compress_shani : sha1::compress_portable);
}

// The best table is chosen once: every call hands out the same one.
TEST(CpuDispatch, BestTableIsChosenOnce) {
    EXPECT_EQ(&kernels(), &kernels());
    force_portable(true);
    const auto *forced = &kernels();
    force_portable(false);
    EXPECT_NE(forced, &kernels());
}

}  // namespace
