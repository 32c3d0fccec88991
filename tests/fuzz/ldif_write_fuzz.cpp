// ldif_write_attr: the line for a name, a value, a length and a mode, against
// the reference writer (forms, encoding choice, folding), appended to an
// existing buffer or not; and the line read back by ldif_parse_line gives
// the same name and bytes.
//
// Input: a mode byte, a flags byte, the name up to a 0x1F byte, the value.
#include "fuzz.h"

using namespace fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size < 2) return 0;
    const int mode = data[0] % 6;  // 5: an unknown mode, written as AUTO
    const uint8_t flags = data[1];
    std::string rest = as_text(data + 2, size - 2);
    const size_t cut = rest.find('\x1f');
    std::string name = rest.substr(0, cut);
    std::string value = cut == std::string::npos ? "" : rest.substr(cut + 1);
    const char *name_arg = (flags & 0x10) ? nullptr : name.c_str();
    const char *value_arg = (flags & 0x20) ? nullptr : value.c_str();
    int value_len = 0;
    switch (flags & 3) {
        case 0: value_len = 0; break;
        case 1: value_len = static_cast<int>(value.size()); break;
        case 2: value_len = static_cast<int>(value.size()) + 1; break;  // with the NUL after it
        default: value_len = value.empty() ? 0 : static_cast<int>(flags >> 6) % static_cast<int>(value.size() + 1);
    }
    if (!value_arg && value_len > 0) value_len = 0;

    const std::string_view name_text = name_arg ? std::string_view(name_arg) : std::string_view();
    bool encoded = false;
    const auto want = ref_write_attr(name_arg, value_arg, value.size(), value_len, mode, &encoded);

    // Onto a buffer that already holds text, or a new one.
    const std::string prefix = (flags & 4) ? "dn: cn=x\n" : "";
    int count = static_cast<int>(prefix.size());
    char *buffer = nullptr;
    if (count > 0) {
        buffer = static_cast<char *>(std::malloc(prefix.size() + 1));
        std::memcpy(buffer, prefix.c_str(), prefix.size() + 1);
    }
    char *out = ldif_write_attr(buffer, &count, name_arg, value_arg, value_len, mode);
    if (!want) {
        FUZZ_CHECK(out == nullptr);
        FUZZ_CHECK(count == static_cast<int>(prefix.size()));
        if (buffer) FUZZ_CHECK(std::string_view(buffer) == prefix);
        std::free(buffer);
        return 0;
    }
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(count == static_cast<int>(prefix.size() + want->size()));
    FUZZ_CHECK(std::string_view(out, static_cast<size_t>(count)) == prefix + *want && out[count] == '\0');

    // ldif_fwrite_attr writes the same line.
    char *mem = nullptr;
    size_t mem_size = 0;
    FILE *stream = open_memstream(&mem, &mem_size);
    FUZZ_CHECK(ldif_fwrite_attr(stream, name_arg, value_arg, value_len, mode) == static_cast<int>(want->size()));
    std::fclose(stream);
    FUZZ_CHECK(std::string_view(mem, mem_size) == *want);
    std::free(mem);

    // Read back.
    const char *line = out + prefix.size();
    {
        char *n = nullptr, *v = nullptr;
        int len = 0, binary = 0;
        const char *next = ldif_parse_line(line, 0, &n, &v, &len, &binary);
        const bool plain_name = name_text.find(';') == std::string_view::npos;
        const bool comment = !name_text.empty() && name_text[0] == '#';
        if (name_text.empty()) {
            FUZZ_CHECK(next != nullptr && *n == '\0' && len == 0);
        } else if (plain_name && !comment && mode == LDIF_ENC_URL) {
            // A file reference, not followed here: binary and empty.
            FUZZ_CHECK(next != nullptr && name_text == n && len == 0 && binary == 1);
        } else if (plain_name && !comment) {
            // The same name and the same bytes, in whichever form was chosen.
            const bool was_base64 = encoded;
            std::string bytes;
            if (mode == LDIF_ENC_BASE64 || (was_base64 && value_len > 0 && value_arg &&
                                            std::memchr(value_arg, '\0', static_cast<size_t>(value_len))))
                bytes.assign(value_arg ? value_arg : "", value_arg ? static_cast<size_t>(value_len) : 0);
            else
                bytes = value_arg ? value_arg : "";
            FUZZ_CHECK(next != nullptr);
            FUZZ_CHECK(name_text == n);
            FUZZ_CHECK(std::string_view(v, static_cast<size_t>(len)) == bytes);
            FUZZ_CHECK(binary == (was_base64 ? 1 : 0));
        }
        if (next) {
            FUZZ_CHECK(*next == '\0');  // one logical line
            std::free(n);
            std::free(v);
        }
    }
    std::free(out);
    return 0;
}
