// ldif_write_attr and ldif_write_attr_wrap: the line for a name, a value, a
// length, a mode and a fold width, against the reference writer (forms,
// encoding choice, folding with UTF-8 sequences kept whole), appended to an
// existing buffer or not; a refused width leaves the buffer as it was; and
// the line read back by ldif_parse_line gives the same name and bytes.
//
// Input: a mode byte, a flags byte, a width byte when the mode byte has its
// bit 7 set, the name up to a 0x1F byte, the value. A mode byte below 0x80
// is the mode modulo 6 at width 77 through ldif_write_attr; with bit 7 its
// low 7 bits modulo 8 pick one of the modes 0-5 or the unknown modes 6 and
// 17 (written as AUTO), and the width byte the width (see pick_width).
#include <cerrno>
#include <climits>

#include "fuzz.h"

using namespace fuzz;

namespace {

// 0-200 as they are (0 never folds, 1 is refused), then small widths more
// often, the widths around the default, and the refused and extreme ones.
int pick_width(uint8_t b) {
    if (b <= 200) return b;
    if (b <= 230) return 2 + (b - 201) % 10;
    if (b <= 239) return 76 + (b - 231) % 3;
    switch (b) {
        case 240: return -1;
        case 241: return INT_MIN;
        case 242: return -77;
        case 243: return 1000;
        case 244: return INT_MAX;
        default: return 77;
    }
}

// The physical lines of a written line (each without its line feed).
std::vector<std::string_view> physical_lines(std::string_view text) {
    std::vector<std::string_view> out;
    for (size_t start = 0; start < text.size();) {
        const size_t lf = text.find('\n', start);
        FUZZ_CHECK(lf != std::string_view::npos);  // the text ends in a line feed
        out.push_back(text.substr(start, lf - start));
        start = lf + 1;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size < 2) return 0;
    const bool explicit_width = (data[0] & 0x80) != 0;
    if (explicit_width && size < 3) return 0;
    static const int kModes[] = {0, 1, 2, 3, 4, 5, 6, 17};
    const int mode = explicit_width ? kModes[(data[0] & 0x7f) % 8] : data[0] % 6;
    const int width = explicit_width ? pick_width(data[2]) : 77;
    const bool width_refused = width < 0 || width == 1;
    const uint8_t flags = data[1];
    const size_t head = explicit_width ? 3 : 2;
    std::string rest = as_text(data + head, size - head);
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
    const auto want = ref_write_attr(name_arg, value_arg, value.size(), value_len, mode, &encoded, width);
    FUZZ_CHECK(!(width_refused && want));

    // Onto a buffer that already holds text, or a new one.
    const std::string prefix = (flags & 4) ? "dn: cn=x\n" : "";
    int count = static_cast<int>(prefix.size());
    char *buffer = nullptr;
    if (count > 0) {
        buffer = static_cast<char *>(std::malloc(prefix.size() + 1));
        std::memcpy(buffer, prefix.c_str(), prefix.size() + 1);
    }
    errno = 0;
    char *out = explicit_width ? ldif_write_attr_wrap(buffer, &count, name_arg, value_arg, value_len, mode, width)
                               : ldif_write_attr(buffer, &count, name_arg, value_arg, value_len, mode);
    const int error = errno;

    // The other entry point at the default width writes the same line.
    if (width == 77) {
        int count77 = 0;
        char *line77 = explicit_width ? ldif_write_attr(nullptr, &count77, name_arg, value_arg, value_len, mode)
                                      : ldif_write_attr_wrap(nullptr, &count77, name_arg, value_arg, value_len,
                                                             mode, 77);
        FUZZ_CHECK((line77 != nullptr) == want.has_value());
        if (line77) FUZZ_CHECK(std::string_view(line77, static_cast<size_t>(count77)) == *want);
        std::free(line77);
    }

    // The stream writer builds the same line, or writes nothing.
    {
        char *mem = nullptr;
        size_t mem_size = 0;
        FILE *stream = open_memstream(&mem, &mem_size);
        errno = 0;
        const int n = explicit_width ? ldif_fwrite_attr_wrap(stream, name_arg, value_arg, value_len, mode, width)
                                     : ldif_fwrite_attr(stream, name_arg, value_arg, value_len, mode);
        const int stream_error = errno;
        std::fclose(stream);
        if (want) {
            FUZZ_CHECK(n == static_cast<int>(want->size()));
            FUZZ_CHECK(std::string_view(mem, mem_size) == *want);
        } else {
            FUZZ_CHECK(n == 0 && mem_size == 0);
            if (width_refused) FUZZ_CHECK(stream_error == EINVAL);
        }
        std::free(mem);
    }

    if (!want) {
        FUZZ_CHECK(out == nullptr);
        if (width_refused) FUZZ_CHECK(error == EINVAL);
        FUZZ_CHECK(count == static_cast<int>(prefix.size()));
        if (buffer) FUZZ_CHECK(std::string_view(buffer) == prefix);
        std::free(buffer);
        return 0;
    }
    FUZZ_CHECK(out != nullptr);
    FUZZ_CHECK(count == static_cast<int>(prefix.size() + want->size()));
    FUZZ_CHECK(std::string_view(out, static_cast<size_t>(count)) == prefix + *want && out[count] == '\0');

    // The shape of the folds, apart from the model: the first physical line
    // holds the name, the marker and the value's first character (a byte, or
    // in AUTO8 and UTF8 a UTF-8 sequence) and is longer than `width` only
    // for them; a continuation begins with a space and holds at most
    // `width` characters, or one UTF-8 sequence of a plain AUTO8 or UTF8
    // value that is too long for it (up to 3 more); a line before a fold is
    // full, except where such a value moved the fold back to a sequence's
    // start (at most 3 characters).
    const char *line = out + prefix.size();
    {
        const auto lines = physical_lines(*want);
        const bool may_move = !encoded && (mode == LDIF_ENC_AUTO8 || mode == LDIF_ENC_UTF8);
        if (width == 0 && !name_text.empty()) FUZZ_CHECK(lines.size() == 1);
        size_t head = name_text.empty() ? 0 : lines[0].find(':') + 1;
        if (head > 0 && head < lines[0].size() && (lines[0][head] == ':' || lines[0][head] == '<')) ++head;
        if (head > 0) ++head;  // the space after the marker
        for (size_t i = 0; i < lines.size() && width > 0; ++i) {
            const size_t w = static_cast<size_t>(width);
            const std::string_view text = i == 0 ? lines[0].substr(std::min(head, lines[0].size())) : lines[i].substr(1);
            const size_t first_char = text.empty() ? 0 : may_move ? std::max<size_t>(ref_utf8_len(text, 0), 1) : 1;
            if (i > 0) FUZZ_CHECK(!lines[i].empty() && lines[i][0] == ' ' && lines[i].size() >= 2);
            const size_t full = i == 0 ? std::max(w, head + first_char) : std::max(w, 1 + first_char);
            FUZZ_CHECK(lines[i].size() <= full);
            if (i == 0 && lines.size() > 1) FUZZ_CHECK(lines[0].size() >= head + first_char);
            if (i > 0 && lines[i].size() > w) FUZZ_CHECK(may_move && text.size() == first_char && first_char <= 4);
            if (i + 1 < lines.size() && lines[i].size() < w) {
                const size_t short_by = w - lines[i].size();
                FUZZ_CHECK(may_move && short_by <= 3);
                if (short_by > 0) {
                    // The next line's text starts with a lead byte.
                    const auto lead = static_cast<unsigned char>(lines[i + 1][1]);
                    FUZZ_CHECK(lead >= 0xC2 && lead <= 0xF4);
                }
            }
        }
    }

    // Read back.
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
