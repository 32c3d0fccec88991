// base64: every kernel and the public entry points against the reference
// codec, for encoding the input bytes and for decoding the input as text,
// with exact, short and absent output buffers.
#include "codec/base64.h"

#include "fuzz.h"

using namespace fuzz;
namespace b64 = kestrin::base64;

namespace {

void check_encode(std::string_view bytes) {
    const std::string want = ref_b64_encode(bytes);
    const auto *src = reinterpret_cast<const unsigned char *>(bytes.data());
    std::string out(want.size() + 1, '\x7f');
    FUZZ_CHECK(base64_encode(src, bytes.size(), out.data(), out.size()) == static_cast<int>(want.size()));
    FUZZ_CHECK(std::string_view(out.c_str()) == want);
    for (const Base64Kernel &k : base64_kernels()) {
        std::string o(want.size() + 1, '\x7f');
        FUZZ_CHECK(b64::encode_with(k.encode, src, bytes.size(), o.data(), o.size()) == static_cast<int>(want.size()));
        FUZZ_CHECK(o == want + '\0');
        // One byte short: refused, with the whole groups that fit written.
        std::string s(want.size(), '\x7f');
        FUZZ_CHECK(b64::encode_with(k.encode, src, bytes.size(), s.data(), s.size()) == -1);
        const size_t fit = std::min(s.size() / 4, bytes.size() / 3) * 4;
        FUZZ_CHECK(s.substr(0, fit) == want.substr(0, fit));
    }
    // And back.
    std::string back(bytes.size() + 1, '\0');
    FUZZ_CHECK(base64_decode(want.c_str(), reinterpret_cast<unsigned char *>(back.data()), back.size()) ==
               static_cast<int>(bytes.size()));
    FUZZ_CHECK(back.substr(0, bytes.size()) == bytes);
}


void check_decode_one(const char *text, const RefDecoded &ref, const b64::BulkDecoder *kernel) {
    auto decode = [&](unsigned char *out, size_t size) {
        return kernel ? b64::decode_with(*kernel, text, out, size) : base64_decode(text, out, size);
    };
    // Without output: the alphabet and the grouping only.
    FUZZ_CHECK(decode(nullptr, 0) == (ref.ok ? static_cast<int>(ref.bytes.size()) : -1));
    const bool valid = ref.ok && ref.zero_bits;
    const size_t need = ref.bytes.size() + (ref.partial ? 1 : 0);
    std::vector<unsigned char> out(need + 8, 0xAA);
    const int n = decode(out.data(), out.size());
    FUZZ_CHECK(n == (valid ? static_cast<int>(ref.bytes.size()) : -1));
    if (valid) FUZZ_CHECK(std::memcmp(out.data(), ref.bytes.data(), ref.bytes.size()) == 0);
    if (!valid) return;
    std::vector<unsigned char> exact(need ? need : 1, 0xAA);
    FUZZ_CHECK(decode(exact.data(), need) == static_cast<int>(ref.bytes.size()));
    FUZZ_CHECK(std::memcmp(exact.data(), ref.bytes.data(), ref.bytes.size()) == 0);
    if (need > 0) FUZZ_CHECK(decode(exact.data(), need - 1) == -1);
}

void check_decode(const std::string &text) {
    const RefDecoded ref = ref_b64_decode(until_nul(text));
    check_decode_one(text.c_str(), ref, nullptr);
    for (const Base64Kernel &k : base64_kernels()) check_decode_one(text.c_str(), ref, &k.decode);
    // A span ends where it is told to, without a NUL.
    const std::string_view t = until_nul(text);
    std::string span(t);
    span += "QUJD";
    std::vector<unsigned char> a(t.size() + 8), b(t.size() + 8);
    FUZZ_CHECK(base64_decode_n(span.data(), t.size(), a.data(), a.size()) ==
               base64_decode(text.c_str(), b.data(), b.size()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    const std::string bytes = as_text(data, size);
    check_encode(bytes);
    check_decode(bytes);
    return 0;
}
