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
    EXPECT_EQ(forced.encode_base64, base64::encode_groups_portable);
    EXPECT_EQ(forced.decode_base64, base64::decode_bulk_portable);
    EXPECT_EQ(forced.encode_hex, hex::encode_portable);
    EXPECT_EQ(forced.decode_hex, hex::decode_portable);
    EXPECT_EQ(forced.compress_sha1, sha1::compress_portable);

    const bool avx2 = kestrin::cpu::has_avx2();
    EXPECT_EQ(best.encode_base64, avx2 ? base64::encode_groups_avx2 : base64::encode_groups_portable);
    EXPECT_EQ(best.decode_base64, avx2 ? base64::decode_bulk_avx2 : base64::decode_bulk_portable);
    EXPECT_EQ(best.encode_hex, avx2 ? hex::encode_avx2 : hex::encode_portable);
    EXPECT_EQ(best.decode_hex, avx2 ? hex::decode_avx2 : hex::decode_portable);
    EXPECT_EQ(best.compress_sha1, kestrin::cpu::has_sha() ? sha1::compress_shani : sha1::compress_portable);
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
