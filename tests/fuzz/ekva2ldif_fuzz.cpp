// ekva2ldif: the text for a record built from the input against the
// reference writer, and that text read back by ldif2ekva: every value comes
// back under its key (or as base64 under "key;binary" when it is not safe
// as text), the dn first; the same at another fold width through
// ekva2ldif_wrap, and read back to the same record.
//
// Input: entries separated by 0x1E, each a key, then 0x1F and the value (no
// 0x1F: no value).
#include <cerrno>
#include <climits>

#include "fuzz.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    const std::string input = as_text(data, size);
    ekva_pair **record = ekva_create_mode(4, EKVA_MULTI);
    FUZZ_CHECK(record != nullptr);
    for (size_t pos = 0; pos <= input.size();) {
        size_t end = input.find('\x1e', pos);
        if (end == std::string::npos) end = input.size();
        const std::string piece = input.substr(pos, end - pos);
        pos = end + 1;
        const size_t cut = piece.find('\x1f');
        const std::string key = piece.substr(0, cut);
        if (cut == std::string::npos)
            FUZZ_CHECK(ekva_add(&record, key.c_str(), nullptr, EKVA_MULTI) > 0);
        else
            FUZZ_CHECK(ekva_add(&record, key.c_str(), piece.c_str() + cut + 1, EKVA_MULTI) > 0);
    }
    const Pairs pairs = entries(record);
    char *text = ekva2ldif(record);
    FUZZ_CHECK(text != nullptr);
    FUZZ_CHECK(text == ref_ekva2ldif(pairs));
    const std::string written(text);
    std::free(text);

    // Another fold width, picked from the input's size: the same entry,
    // folded elsewhere (the dn in AUTO8 keeps its UTF-8 sequences whole).
    static const int kWidths[] = {0, 2, 3, 4, 5, 7, 10, 76, 78, 200};
    const int width = kWidths[size % (sizeof kWidths / sizeof kWidths[0])];
    char *wrapped_text = ekva2ldif_wrap(record, width);
    FUZZ_CHECK(wrapped_text != nullptr);
    FUZZ_CHECK(wrapped_text == ref_ekva2ldif(pairs, width));
    const std::string wrapped(wrapped_text);
    std::free(wrapped_text);
    char *at77 = ekva2ldif_wrap(record, 77);
    FUZZ_CHECK(at77 != nullptr && written == at77);
    std::free(at77);
    for (int refused : {1, -1, INT_MIN}) {
        errno = 0;
        FUZZ_CHECK(ekva2ldif_wrap(record, refused) == nullptr && errno == EINVAL);
    }
    ekva_free(record);
    FUZZ_CHECK(ekva2ldif(nullptr) == nullptr);
    FUZZ_CHECK(ekva2ldif_wrap(nullptr, width) == nullptr);

    if (has_blank_base64(written)) return 0;
    ekva_pair **back = ldif2ekva(written.c_str(), 0);
    const auto want = ref_ldif2ekva(written);
    FUZZ_CHECK((back == nullptr) == !want);
    if (back) FUZZ_CHECK(entries(back) == *want);
    if (const auto trip = ref_round_trip(pairs)) {
        if (trip->empty() && written.empty())
            FUZZ_CHECK(back == nullptr);  // nothing written: nothing to read
        else
            FUZZ_CHECK(back != nullptr && entries(back) == *trip);
    }
    // The text folded at the other width reads as the same record.
    ekva_pair **back_wrapped = ldif2ekva(wrapped.c_str(), 0);
    FUZZ_CHECK((back_wrapped == nullptr) == (back == nullptr));
    if (back) FUZZ_CHECK(entries(back_wrapped) == entries(back));
    ekva_free(back_wrapped);
    ekva_free(back);
    return 0;
}
