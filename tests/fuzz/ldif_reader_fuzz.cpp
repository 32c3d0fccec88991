// Every LDIF reader of the product against the others, in-process: the
// streaming reader (fed in pieces of several sizes, with a small and a large
// buffer), ldif_parse_line walking the text, ldif2ekva, the entry queries,
// ldif2ekva_set, ldif_file2ekva_set, ldif_read_entry with ldif2ekva, and the
// tool's -d reading (the first value, and every value as --all writes
// them). For every attribute line they give the same
// description, value and form, or all refuse it (file references off: a
// URL line reads as the empty value, and the streaming reader gives its URL).
//
// Input: byte 0 picks the piece size (low nibble), the reader's buffer (bit
// 4: 64 bytes or the default) and how the text is made (bit 5: the bytes as
// they are; else each byte picks a token of LDIF: names, options, markers,
// fills, folds, CRs, comments, base64 with NULs); byte 1 picks the name -d
// looks for.
#include "decode.h"
#include "fuzz.h"

using namespace fuzz;

namespace {

constexpr size_t kPieces[16] = {1, 2, 3, 4, 5, 7, 8, 13, 16, 31, 64, 77, 78, 256, 4096, 1 << 20};
const char *const kTokens[] = {
    "dn: cn=a",  "dn:: ",  "DN: x",   "cn",      "sn",     "x",        ";binary",  ";BINARY", ";binaryfoo",
    ";lang-de",  ":",      "::",      ":<",      " ",      "  ",       "\n",       "\n",      "\n ",
    "\r",        "\r\n",   "#",       "# c\n",   "version: 1", "-",    "\t",       "Zm9v",    "YmFy",
    "QQ==",      "AA==",   "AAA=",    "=",       "AP8A",   "!",        "file:///x", "v",      "a b",
    "" /* a NUL */, "\n\n",   "jpegPhoto:: ", "QR==", "Zm9", "\r\r",
};
constexpr size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];

std::string make_text(const uint8_t *data, size_t size, bool raw) {
    if (raw) return std::string(reinterpret_cast<const char *>(data), size);
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        const size_t t = data[i] % kTokenCount;
        if (t == 36) text += '\0';  // the NUL token
        else text += kTokens[t];
    }
    return text;
}

// One attribute line as every reader should give it.
struct Line {
    std::string name, value;
    int form = LDIF_FORM_PLAIN;
    bool error = false;
    bool entry_end = false;
    bool in_entry = false;  // the line lies in an entry (from its dn line on)
    bool operator==(const Line &o) const {
        return name == o.name && value == o.value && form == o.form && error == o.error && entry_end == o.entry_end;
    }
};

// The streaming reader's items, their pieces joined.
std::vector<Line> stream_items(std::string_view text, size_t piece, size_t room, bool &long_name) {
    ldif_reader *r = ldif_reader_create(room);
    FUZZ_CHECK(r);
    std::vector<Line> out;
    Line cur;
    bool in_entry = false;
    size_t at = 0;
    std::vector<char> copy;
    long_name = false;
    for (;;) {
        ldif_item item;
        const int kind = ldif_reader_next(r, &item);
        if (kind == LDIF_NEED_INPUT) {
            const size_t n = std::min(piece, text.size() - at);
            copy.assign(text.data() + at, text.data() + at + n);
            FUZZ_CHECK(ldif_reader_feed(r, copy.data(), n) == 0);
            at += n;
            continue;
        }
        if (kind == LDIF_END) break;
        if (kind == LDIF_ENTRY_END) {
            FUZZ_CHECK(in_entry);
            in_entry = false;
            Line end;
            end.entry_end = true;
            out.push_back(end);
            continue;
        }
        cur.name.assign(item.name, item.name_len);
        if (kind == LDIF_ERROR) {
            long_name = long_name || std::string_view(item.value) == "attribute description too long";
            cur.error = true;
            cur.value.clear();  // pieces of a value before its error do not count
            cur.form = LDIF_FORM_PLAIN;
        } else {
            FUZZ_CHECK(item.more == 0 || item.value_len > 0);
            cur.value.append(item.value, item.value_len);
            cur.form = item.form;
            if (item.more) continue;
        }
        // A dn line begins an entry (a malformed one too), "dn" without a
        // ':' does not.
        if (!in_entry && cur.name.size() == 2 && strncasecmp(cur.name.c_str(), "dn", 2) == 0) {
            size_t start = 0;
            for (long l = 1; l < item.line; ++l) start = text.find('\n', start) + 1;
            std::string joined = ref_logical_line(text, start).joined;
            std::erase(joined, '\r');
            in_entry = joined.find(':') != std::string::npos;
        }
        cur.in_entry = in_entry;
        out.push_back(cur);
        cur = Line{};
    }
    ldif_reader_free(r);
    return out;
}

// The lines up to (and with) the first error, and none after it.
std::vector<Line> until_error(const std::vector<Line> &lines) {
    std::vector<Line> out;
    for (const Line &l : lines) {
        if (l.entry_end) continue;
        out.push_back(l);
        if (l.error) break;
    }
    return out;
}

// What a record holds for the lines: a plain value under its name, bytes as
// base64 text under "<name>;binary" (none when empty, so none for a URL).
Pairs pairs_of(const std::vector<Line> &lines) {
    Pairs out;
    for (const Line &l : lines) {
        if (l.error || l.entry_end || l.name.empty()) continue;
        if (l.form == LDIF_FORM_PLAIN)
            out.emplace_back(l.name, l.value.substr(0, l.value.find('\0')));
        else if (l.form == LDIF_FORM_BASE64 && !l.value.empty())
            out.emplace_back(l.name + ";binary", ref_b64_encode(l.value));
    }
    return out;
}

Pairs without_comments(Pairs p) {
    std::erase_if(p, [](const auto &kv) { return kv.first == "#" && kv.second == std::optional<std::string>("#"); });
    return p;
}

// ldif_parse_line walking the text: its lines (blank lines and comments
// left out), up to a failure, which is an error line.
std::vector<Line> parse_line_walk(const std::string &text) {
    std::vector<Line> out;
    size_t pos = 0;
    while (pos < text.size()) {
        const RefLine l = ref_logical_line(text, pos);
        std::string bare = l.joined;
        std::erase(bare, '\r');
        char *name = nullptr, *value = nullptr;
        int len = 0, binary = 0;
        const char *next = ldif_parse_line(text.c_str() + pos, 0, &name, &value, &len, &binary);
        if (!next) {
            Line e;
            e.error = true;
            out.push_back(e);
            return out;
        }
        FUZZ_CHECK(next == text.c_str() + l.next);
        pos = l.next;
        Line line{name, std::string(value, static_cast<size_t>(len)), binary ? LDIF_FORM_BASE64 : LDIF_FORM_PLAIN};
        std::free(name);
        std::free(value);
        if (bare.empty() || bare[0] == '#') continue;
        out.push_back(line);
    }
    return out;
}

// The reader's lines as parse_line gives them: a URL line is bytes, empty.
std::vector<Line> as_parsed(std::vector<Line> lines) {
    for (Line &l : lines) {
        if (l.form == LDIF_FORM_URL) {
            l.form = LDIF_FORM_BASE64;
            l.value.clear();
        }
        if (l.error) l.name.clear();
        l.in_entry = false;
    }
    return lines;
}

// The entries of the reader's lines, each up to its first error, as the
// record-set loaders build them.
std::vector<Pairs> entry_records(const std::vector<Line> &lines) {
    std::vector<Pairs> out;
    std::vector<Line> entry;
    bool failed = false, first = true;
    auto close = [&] {
        const Pairs p = pairs_of(entry);
        if (!entry.empty() && !p.empty()) out.push_back(p);
        entry.clear();
        failed = false;
        first = true;
    };
    for (const Line &l : lines) {
        if (l.entry_end) {
            close();
            continue;
        }
        if (!l.in_entry || failed) continue;
        if (l.error) {
            failed = true;
            if (first) entry.clear();  // a bad first line drops the entry
            continue;
        }
        first = false;
        entry.push_back(l);
    }
    close();
    return out;
}

// The records of a set, their comment pairs left out (the streaming reader
// passes comments over), and so also a record of comments only.
std::vector<Pairs> set_records(ekva_pair ***set, int n) {
    std::vector<Pairs> out;
    for (int i = 0; i < n; ++i)
        if (Pairs p = without_comments(entries(set[i])); !p.empty()) out.push_back(p);
    return out;
}

// Whether a dn line begins with a fold before its ':': ldif_read_entry,
// which keeps folded lines as they are, does not see it begin an entry.
bool folded_dn(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        const RefLine l = ref_logical_line(text, pos);
        std::string first(text.substr(pos, std::min(l.next, text.find('\n', pos)) - pos));
        pos = l.next;
        if (ref_is_dn(l.joined) && !ref_is_dn(first)) return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size < 2) return 0;
    const size_t piece = kPieces[data[0] & 15];
    const size_t room = data[0] & 16 ? 64 : 0;
    const std::string full = make_text(data + 2, size - 2, (data[0] & 32) != 0);
    if (full.size() > (size_t{1} << 16)) return 0;

    // The streaming reader: the pieces and the buffer never change a line.
    bool long_name = false, long_again = false;
    const std::vector<Line> lines = stream_items(full, piece, room, long_name);
    const std::vector<Line> whole = stream_items(full, full.size() + 1, 0, long_again);
    FUZZ_CHECK(!long_again);
    if (!long_name) FUZZ_CHECK(lines == whole);

    // The tool's -d: the first line of a name, from the same reading.
    std::vector<std::string> names;
    for (const Line &l : whole)
        if (!l.entry_end && !l.error) names.push_back(l.name);
    const std::string attr = names.empty() ? "cn" : names[data[1] % names.size()];
    const kestrin::tool::DecodedText got = kestrin::tool::decode_ldif_text(full, attr, piece);
    FUZZ_CHECK(got.second_pass_same);
    using Kind = kestrin::tool::DecodedText::Kind;
    Kind want = Kind::kNoValue;
    std::string want_bytes;
    std::vector<std::string> want_values;  // --all: every well-formed one, in order
    for (const Line &l : whole) {
        if (l.entry_end || l.name.size() != attr.size() || strncasecmp(l.name.data(), attr.data(), attr.size()) != 0 ||
            l.name.find('\0') != std::string::npos)
            continue;
        if (!l.error) want_values.push_back(l.value);
        if (want != Kind::kNoValue) continue;
        want = l.error ? Kind::kMalformed : l.form == LDIF_FORM_URL ? Kind::kFileReference : Kind::kValue;
        if (!l.error) want_bytes = l.value;
    }
    if (attr.find('\0') == std::string::npos) {
        FUZZ_CHECK(got.kind == want);
        FUZZ_CHECK(got.bytes == want_bytes);
        FUZZ_CHECK(got.values == want_values);
    }

    // The library reads the text up to its first NUL.
    const std::string text(until_nul(full));
    const std::vector<Line> lib_lines = text.size() == full.size() ? whole : stream_items(text, text.size() + 1, 0, long_again);
    const std::vector<Line> first_part = until_error(lib_lines);
    FUZZ_CHECK(parse_line_walk(text) == as_parsed(first_part));

    // ldif2ekva: one record of every line up to the first that fails.
    {
        char *name = nullptr, *value = nullptr;
        int len = 0, binary = 0;
        const bool first_reads = ldif_parse_line(text.c_str(), 0, &name, &value, &len, &binary) != nullptr;
        std::free(name);
        std::free(value);
        ekva_pair **record = ldif2ekva(text.c_str(), 0);
        FUZZ_CHECK((record != nullptr) == first_reads);
        if (record) FUZZ_CHECK(without_comments(entries(record)) == pairs_of(first_part));
        ekva_free(record);
    }

    // The entry queries: the lines before the first blank line.
    if (!names.empty() && attr.find('\0') == std::string::npos) {
        size_t end = 0;
        while (end < text.size()) {
            const RefLine l = ref_logical_line(text, end);
            if (only_crs(l.joined)) break;
            end = l.next;
        }
        bool unused = false;
        const std::vector<Line> head = until_error(stream_items(text.substr(0, end), end + 1, 0, unused));
        int count = 0;
        for (const Line &l : head)
            count += !l.error && !l.name.empty() && l.name.size() == attr.size() &&
                     strcasecmp(l.name.c_str(), attr.c_str()) == 0;  // an empty name is passed over
        FUZZ_CHECK(ldif_entry_count_attr(text.c_str(), 0, attr.c_str()) == count);
    }

    // The record-set loaders, from the text and from a file, and
    // ldif_read_entry with ldif2ekva.
    const std::vector<Pairs> want_records = entry_records(lib_lines);
    {
        ekva_pair ***set = nullptr;
        const int n = ldif2ekva_set(&set, text.c_str(), nullptr);
        FUZZ_CHECK(set_records(set, n) == want_records);
        ekva_set_free(set);
        const MemoryFile file(text);
        set = nullptr;
        const int m = ldif_file2ekva_set(&set, file.path(), nullptr);
        FUZZ_CHECK(set_records(set, m) == want_records);
        ekva_set_free(set);
    }
    if (!folded_dn(text)) {
        std::string bytes = text;
        FILE *stream = memory_stream(bytes);
        std::vector<Pairs> records;
        while (stream && !std::feof(stream)) {
            char *entry = ldif_read_entry(stream);
            if (!entry) continue;
            ekva_pair **record = ldif2ekva(entry, 0);
            if (Pairs p = without_comments(entries(record)); !p.empty()) records.push_back(p);
            ekva_free(record);
            std::free(entry);
        }
        if (stream) std::fclose(stream);
        FUZZ_CHECK(records == want_records);
    }
    return 0;
}
