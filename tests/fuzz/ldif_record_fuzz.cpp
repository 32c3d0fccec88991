// The record reader and writer. Properties: reading never fails an
// assertion of the sanitizers; the items are the same wherever the pieces
// end and whatever the buffer (values joined; a buffer too small for a line
// of the structure or the controls only turns a record into an error);
// the whole-record form gives the records and errors of the items; and
// every record read, written back with ldif_write_record in any mode and
// width, reads back to the same record.
//
// Byte 0: the piece size (bits 0-3), a small buffer (bit 4), raw bytes
// instead of tokens (bit 5); byte 1: the writer's mode (bits 0-2) and
// width (bits 3-7); the rest the text, as raw bytes or as tokens.
#include <string>
#include <vector>

#include "fuzz.h"
#include "record_text.h"

using namespace fuzz;

namespace {

constexpr size_t kPieces[16] = {1, 2, 3, 4, 5, 7, 8, 13, 16, 31, 64, 77, 78, 256, 4096, 1 << 20};
const char *const kTokens[] = {
    "dn: cn=a\n", "dn:: Y249YQ==\n", "\n", "\n", "\r\n", "\n ", "changetype: ", "add", "delete", "modify", "modrdn",
    "moddn", "add: ", "delete: ", "replace: ", "increment: ", "cn", "mail", "cn;lang-de", "x;binary", "-\n", "-",
    "newrdn: ", "deleteoldrdn: ", "newsuperior: ", "0", "1", "2", "control: ", "1.2.3", " true", " false", ": ",
    ":: ", ":< ", "Zm9v", "AA==", "=", "file:///x", "version: 1\n", "#c\n", " ", ":", "v\xc3\xa9", "\xff", "" /* NUL */,
    "cn: x\n", "sn: y\n", "TRUE", "Changetype: "};
constexpr size_t kTokenCount = sizeof kTokens / sizeof kTokens[0];
constexpr int kModes[8] = {LDIF_ENC_AUTO, LDIF_ENC_BASE64, LDIF_ENC_AUTO8, LDIF_ENC_UTF8, LDIF_ENC_GUESS,
                           LDIF_ENC_AUTO, LDIF_ENC_UTF8, LDIF_ENC_AUTO8};

std::string make_text(const uint8_t *data, size_t size, bool raw) {
    if (raw) return std::string(reinterpret_cast<const char *>(data), size);
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        const size_t t = data[i] % kTokenCount;
        if (*kTokens[t] == '\0') text += '\0';
        else text += kTokens[t];
    }
    return text;
}

// The items as texts, value pieces joined.
std::vector<std::string> items(std::string_view text, size_t piece, size_t room) {
    ldif_record_reader *r = ldif_record_reader_create(room);
    FUZZ_CHECK(r);
    std::vector<std::string> out;
    std::string value;
    std::vector<char> copy;
    size_t at = 0;
    for (;;) {
        ldif_record_item it;
        const int kind = ldif_record_reader_next(r, &it);
        FUZZ_CHECK(kind == it.kind);
        if (kind == LDIF_REC_NEED_INPUT) {
            const size_t n = std::min(piece, text.size() - at);
            copy.assign(text.data() + at, text.data() + at + n);
            FUZZ_CHECK(ldif_record_reader_feed(r, copy.data(), n) == 0);
            at += n;
            continue;
        }
        if (kind == LDIF_REC_DONE) break;
        const bool has_value = it.value || kind == LDIF_REC_VALUE;
        if (kind == LDIF_REC_VALUE) {
            value.append(it.value, it.value_len);
            if (it.more) continue;
        } else {
            value.assign(it.value ? it.value : "", it.value ? it.value_len : 0);  // pieces before an error do not count
        }
        out.push_back(std::to_string(kind) + " " + std::to_string(it.line) + " " + std::to_string(it.change) + " " +
                      std::to_string(it.op) + " " + std::to_string(it.flag) + " " + std::to_string(it.form) + " " +
                      testutil::shown(it.name, it.name_len) + " " + (has_value ? testutil::shown(value.data(), value.size()) : "-"));
        value.clear();
    }
    ldif_record_reader_free(r);
    return out;
}

// With a small buffer a record may fail for want of room where a large one
// holds it; and where the first pieces of a malformed base64 value come out
// before its error, the record may have begun, or fail on what those pieces
// show first, at the same line: compare the whole records, and the errors
// by their line only.
bool room_error(const std::string &item) { return item.find(" too long") != std::string::npos; }

std::vector<std::string> settled(const std::vector<std::string> &items) {
    const std::string error = std::to_string(LDIF_REC_ERROR) + " ", end = std::to_string(LDIF_REC_END) + " ";
    std::vector<std::string> out, open;
    for (const auto &i : items) {
        if (i.starts_with(error)) {
            open.clear();
            out.push_back(i.substr(0, i.find(' ', error.size())));
            continue;
        }
        open.push_back(i);
        if (!i.starts_with(end)) continue;
        out.insert(out.end(), open.begin(), open.end());
        open.clear();
    }
    return out;
}

bool url_with_nul(const ldif_value &v) {
    return v.form == LDIF_FORM_URL && std::string_view(v.bytes, v.len).find('\0') != std::string_view::npos;
}

// Whether a value of the record is a URL holding a NUL: the reader takes
// the NUL as data, the writer's URL text would end there.
bool url_with_nul(const ldif_record &r) {
    bool found = false;
    for (size_t i = 0; i < r.control_count; ++i) found |= url_with_nul(r.controls[i].value);
    for (size_t i = 0; i < r.attr_count; ++i) found |= url_with_nul(r.attrs[i].value);
    for (size_t i = 0; i < r.mod_count; ++i)
        for (size_t k = 0; k < r.mods[i].value_count; ++k) found |= url_with_nul(r.mods[i].values[k]);
    return found;
}

// The records (as record_text) and errors ("error LINE MESSAGE") of the
// whole-record form; with write_back each record is written back and read
// again on the way.
std::vector<std::string> records(const std::string &text, int mode, int width, bool write_back = true) {
    std::vector<std::string> out;
    const auto on_record = [&](const ldif_record &rec) {
        const std::string shown = testutil::record_text(rec);
        out.push_back(shown);
        if (!write_back) return;
        int count = 0;
        char *written = ldif_write_record(nullptr, &count, &rec, mode, width);
        FUZZ_CHECK((written != nullptr) == !url_with_nul(rec));
        if (written) {
            const auto again = records(std::string(written, static_cast<size_t>(count)), mode, 0, false);
            FUZZ_CHECK(again.size() == 1 && again[0] == shown);
        }
        std::free(written);
    };
    testutil::read_records(text, on_record, [&](const ldif_record_item &e) {
        out.push_back("error " + std::to_string(e.line) + " " + e.value);
    });
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    setup();
    if (size < 2) return 0;
    const size_t piece = kPieces[data[0] & 15];
    const bool small = (data[0] & 16) != 0;
    const std::string text = make_text(data + 2, size - 2, (data[0] & 32) != 0);
    if (text.size() > (size_t{1} << 16)) return 0;

    const std::vector<std::string> whole = items(text, text.size() + 1, 0);
    const std::vector<std::string> pieces = items(text, piece, small ? 64 : 0);
    bool roomy = true;
    for (const auto &i : pieces) roomy = roomy && !room_error(i);
    if (!small) FUZZ_CHECK(pieces == whole);
    else if (roomy) FUZZ_CHECK(settled(pieces) == settled(whole));

    // The whole-record form: a record per END, an error per ERROR.
    const int width = (data[1] >> 3) == 1 ? 0 : data[1] >> 3;
    const std::vector<std::string> recs = records(text, kModes[data[1] & 7], width);
    size_t ends = 0, errors = 0, got_errors = 0;
    for (const auto &i : whole) {
        ends += i.starts_with(std::to_string(LDIF_REC_END) + " ");
        errors += i.starts_with(std::to_string(LDIF_REC_ERROR) + " ");
    }
    for (const auto &r : recs) got_errors += r.starts_with("error ");
    FUZZ_CHECK(recs.size() == ends + errors && got_errors == errors);
    return 0;
}
