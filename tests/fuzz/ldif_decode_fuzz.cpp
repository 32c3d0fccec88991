// The way back (kestrin -d): the tool's reader, handed the text in pieces of
// several sizes, against the reference reading of its rules (fuzz.h), and,
// where the library reads the text the same way (no NUL, no CR left once
// the CRs before LFs are gone, no white space inside a base64 value, no
// plain line under a ;binary name), against ldif_parse_line walking the
// text line by line with file references off.
//
// Input: the first byte picks the piece size (low nibble) and the name
// (high nibble: one of a few fixed names, or the description of one of the
// text's own lines, its letter case turned over); the text follows.
#include "decode.h"
#include "fuzz.h"

using namespace fuzz;
using kestrin::tool::decode_ldif_text;
using kestrin::tool::DecodedText;

namespace {

constexpr size_t kPieces[16] = {1, 2, 3, 4, 5, 6, 7, 8, 11, 13, 16, 64, 76, 77, 78, 4096};
const char *const kNames[] = {"cn", "CN", "jpegPhoto", "userCertificate;binary", "dn", "version", " cn", "#"};
constexpr size_t kFixed = sizeof kNames / sizeof kNames[0];

std::string swap_case(std::string s) {
    for (char &c : s)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) c = static_cast<char>(c ^ 0x20);
    return s;
}

std::string pick_name(unsigned which, std::string_view text) {
    if (which < kFixed) return kNames[which];
    std::vector<std::string> names;
    for (const std::string &line : ref_decode_lines(text))
        if (const auto name = ref_description(line); name && !name->empty() && name->find('\0') == std::string::npos)
            names.push_back(*name);
    if (names.empty()) return "cn";
    const std::string &name = names[(which - kFixed) % names.size()];
    return which % 2 ? swap_case(name) : name;
}

RefValue::Kind kind_of(DecodedText::Kind k) {
    switch (k) {
        case DecodedText::Kind::kValue: return RefValue::kValue;
        case DecodedText::Kind::kNoValue: return RefValue::kNoValue;
        case DecodedText::Kind::kMalformed: return RefValue::kMalformed;
        case DecodedText::Kind::kFileReference: return RefValue::kFileReference;
    }
    return RefValue::kNoValue;
}

// The text with every CR that stands right before a LF taken out.
std::string without_cr_before_lf(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

// What ldif_parse_line, walking the text, says of the first line described
// as attr; nullopt where its reading differs from the tool's by design.
std::optional<RefValue> library_value(const std::string &text, const std::string &attr) {
    size_t pos = 0;
    while (pos < text.size()) {
        const RefLine line = ref_logical_line(text, pos);
        const char *cursor = text.c_str() + pos;
        pos = line.next;
        const auto name = ref_description(line.joined);
        if (!name || !ref_iequal(*name, attr)) continue;
        std::string_view rest = std::string_view(line.joined).substr(name->size() + 1);
        const bool base64 = !rest.empty() && rest[0] == ':', file = !rest.empty() && rest[0] == '<';
        if (base64 || file) rest.remove_prefix(1);
        while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
        for (char c : rest)
            if (base64 && b64_space(c)) return std::nullopt;  // the library skips white space in base64
        if (!base64 && !file && ref_has_binary_option(*name)) return std::nullopt;

        char *n = nullptr, *v = nullptr;
        int len = -1, binary = -1;
        const char *next = ldif_parse_line(cursor, 0, &n, &v, &len, &binary);
        RefValue r;
        if (!next) {
            FUZZ_CHECK(base64);  // only a base64 value can fail to read
            r.kind = RefValue::kMalformed;
            return r;
        }
        FUZZ_CHECK(next == text.c_str() + line.next);
        FUZZ_CHECK(*name == n);
        if (file) {
            FUZZ_CHECK(binary == 1 && len == 0);  // references are off: never read
            r.kind = RefValue::kFileReference;
            r.bytes = std::string(rest);
        } else {
            FUZZ_CHECK(binary == (base64 ? 1 : 0));
            r.kind = RefValue::kValue;
            r.bytes.assign(v, static_cast<size_t>(len));
        }
        std::free(n);
        std::free(v);
        return r;
    }
    return RefValue{};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size == 0) return 0;
    const std::string_view text(reinterpret_cast<const char *>(data) + 1, size - 1);
    const size_t piece = kPieces[data[0] & 15];
    const std::string attr = pick_name(data[0] >> 4, text);

    const DecodedText got = decode_ldif_text(text, attr, piece);
    FUZZ_CHECK(got.second_pass_same);
    // The pieces never change the outcome.
    for (size_t other : {size_t{1}, text.size()}) {
        const DecodedText again = decode_ldif_text(text, attr, other);
        FUZZ_CHECK(again.kind == got.kind);
        FUZZ_CHECK(again.bytes == got.bytes);
        FUZZ_CHECK(again.second_pass_same);
    }

    const RefValue want = ref_ldif_value(text, attr);
    FUZZ_CHECK(kind_of(got.kind) == want.kind);
    FUZZ_CHECK(got.bytes == want.bytes);

    const std::string library_text = without_cr_before_lf(text);
    if (library_text.find('\0') == std::string::npos && library_text.find('\r') == std::string::npos) {
        if (const auto lib = library_value(library_text, attr)) {
            FUZZ_CHECK(lib->kind == want.kind);
            FUZZ_CHECK(lib->bytes == want.bytes);
        }
    }
    return 0;
}
