// hex: decoding the input as text and encoding the input bytes, against a
// reference, and the round trip.
#include "codec/hex.h"

#include "fuzz.h"

using namespace fuzz;

namespace {

int digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void check_decode(std::string_view text, const char *ctext) {
    unsigned char *out = reinterpret_cast<unsigned char *>(0x1);  // must stay untouched
    unsigned char **slot = &out;
    const size_t n = hex_decode(ctext, slot);
    if (text.empty() || text.size() % 2) {
        FUZZ_CHECK(n == 0);
        FUZZ_CHECK(out == reinterpret_cast<unsigned char *>(0x1));
        return;
    }
    FUZZ_CHECK(out != reinterpret_cast<unsigned char *>(0x1) && out != nullptr);
    std::string want;
    size_t bad = text.size() / 2;
    for (size_t i = 0; i < text.size() / 2; ++i) {
        const int hi = digit(text[2 * i]), lo = digit(text[2 * i + 1]);
        if (hi < 0 || lo < 0) {
            bad = i;
            break;
        }
        want += static_cast<char>(hi * 16 + lo);
    }
    want.resize(text.size() / 2, 'A');  // what a failed decode leaves
    FUZZ_CHECK(n == (bad == text.size() / 2 ? want.size() : 0));
    FUZZ_CHECK(std::memcmp(out, want.data(), want.size()) == 0);
    std::free(out);
}

void check_encode(std::string_view bytes) {
    char *text = hex_encode(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size());
    if (bytes.empty()) {
        FUZZ_CHECK(text == nullptr);
        return;
    }
    FUZZ_CHECK(text != nullptr);
    std::string want;
    for (unsigned char c : bytes) {
        want += "0123456789ABCDEF"[c >> 4];
        want += "0123456789ABCDEF"[c & 15];
    }
    FUZZ_CHECK(want == text);
    unsigned char *back = nullptr;
    FUZZ_CHECK(hex_decode(text, &back) == bytes.size());
    FUZZ_CHECK(std::memcmp(back, bytes.data(), bytes.size()) == 0);
    std::free(back);
    std::free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    const std::string bytes = as_text(data, size);
    check_decode(until_nul(bytes), bytes.c_str());
    check_encode(bytes);
    unsigned char nibble = 0;
    for (int c = 0; c < 256; c += 1 + (size % 7)) {
        const int d = digit(static_cast<char>(c));
        FUZZ_CHECK(hex_digit_value(static_cast<char>(c), &nibble) == (d >= 0));
        if (d >= 0) FUZZ_CHECK(nibble == d);
    }
    return 0;
}
