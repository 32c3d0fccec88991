// Reading LDIF: logical lines, and entries out of a text or a stream.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "util/guard_internal.h"
#include "codec/base64.h"
#include "codec/base64_internal.h"
#include "ldif/ldif.h"
#include "ldif/ldif_internal.h"
#include "util/alloc_internal.h"
#include "util/file_internal.h"
#include "util/line_internal.h"

namespace kestrin::ldif {
namespace {

constexpr size_t kMaxPath = 1999;
constexpr std::string_view kFileScheme = "file://";

// The logical line without its folds (each LF and the blank after it).
void join_folds(const Extent &e, std::string &out) {
    out.resize(static_cast<size_t>(e.end - e.begin));  // one allocation, even for a long folded value
    out.resize(copy_unfolded(e, out.data()));
}

// Whether file references are followed; process-wide, so any thread may flip it.
std::atomic<bool> follow_file_references{true};

// Reads the file a reference names; an unreadable file gives no bytes, and so
// does every reference while references are off (the path is never looked at).
void read_reference(std::string_view text, std::string &out) {
    out.clear();
    if (!follow_file_references.load()) return;
    if (text.substr(0, kFileScheme.size()) == kFileScheme) text.remove_prefix(kFileScheme.size());
    const std::string path(text.substr(0, kMaxPath));
    size_t size = 0;
    char *data = file::read_whole(path.c_str(), 0, &size);
    if (!data) return;
    out.assign(data, size);
    std::free(data);
}

bool decode_base64(std::string_view text, std::string &out) {
    out.resize(text.size());
    const int n = base64_decode_n(text.data(), text.size(), reinterpret_cast<unsigned char *>(out.data()),
                                  text.size());
    if (n <= 0) return false;
    out.resize(static_cast<size_t>(n));
    return true;
}

using base64::kDecode;

// Whether text is the base64 encoding of some bytes exactly as the encoder
// writes it: whole groups, no whitespace, the padding the length calls for
// and zero bits under it. Such a text decodes, and encoding what it decodes
// to gives it back unchanged. The codec validates it (its kernels take a
// photo's megabytes of text in long runs); white space would be skipped
// there, and so shows as fewer bytes than the length calls for.
bool is_canonical_base64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0) return false;
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const size_t n = text.size();
    const size_t pads = p[n - 1] != '=' ? 0 : p[n - 2] != '=' ? 1 : 2;
    if (base64_decode_n(text.data(), n, nullptr, 0) != static_cast<long>(n / 4 * 3 - pads)) return false;
    if (pads == 1) return (kDecode[p[n - 2]] & 0x3) == 0;
    if (pads == 2) return (kDecode[p[n - 3]] & 0xF) == 0;
    return true;
}

}  // namespace

size_t copy_unfolded(const Extent &e, char *dst) {
    char *out = dst;
    for (const char *p = e.begin; p < e.end;) {
        const auto *lf = static_cast<const char *>(std::memchr(p, '\n', static_cast<size_t>(e.end - p)));
        const char *stop = lf ? lf : e.end;
        std::memcpy(out, p, static_cast<size_t>(stop - p));
        out += stop - p;
        p = lf ? lf + 2 : e.end;
    }
    return static_cast<size_t>(out - dst);
}

Extent logical_line(const char *cursor) {
    Extent e{cursor, cursor, cursor, false};
    const char *p = cursor;
    for (;;) {
        const char *lf = std::strchr(p, '\n');
        if (!lf) {  // the last line of the text
            e.end = p + std::strlen(p);
            e.next = e.end;
            return e;
        }
        e.end = lf;
        // A fold: the line goes on after the blank. Folding never comes
        // before a line's first character, so a blank line (empty, or of
        // CRs only) is never continued.
        if (continues(!is_blank(e), lf[1])) {
            e.has_folds = true;
            p = lf + 2;
            continue;
        }
        e.next = lf + 1;
        return e;
    }
}

Parsed parse_extent(const Extent &e, Workspace &ws, Line &out) {
    std::string_view line(e.begin, static_cast<size_t>(e.end - e.begin));
    if (e.has_folds) {
        if (!guarded(false, [&] { return join_folds(e, ws.joined), true; })) return Parsed::kFailed;
        line = ws.joined;
    }
    return parse_joined(line, ws, out);
}

Parsed parse_line(const char *cursor, Workspace &ws, Line &out, const char **next) {
    if (!cursor || !*cursor) return Parsed::kEnd;
    const Extent e = logical_line(cursor);
    *next = e.next;
    return parse_extent(e, ws, out);
}

Parsed parse_joined(std::string_view line, Workspace &ws, Line &out) {
    return guarded(Parsed::kFailed, [&] {
        if (ws.may_hold_cr) line = line::without_any_cr(line, ws.line);
        out = Line{};
        if (line.empty()) return Parsed::kLine;
        if (is_comment_start(line.front())) {
            out.name = out.value = "#";
            return Parsed::kLine;
        }
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos) {  // e.g. the change separator "-"
            out.name = line;
            return Parsed::kLine;
        }
        out.name = line.substr(0, colon);
        size_t pos = colon + 1;
        bool marked = false;
        const Form form = line_form(pos < line.size() ? marker_form(line[pos], marked) : Form::kPlain, out.name);
        pos = skip_fill(line, pos + (marked ? 1 : 0));
        const std::string_view text = line.substr(pos);
        out.binary = form != Form::kPlain;
        if (form == Form::kPlain) {
            out.value = text;
        } else if (form == Form::kBase64) {
            // Nothing after the marker is the empty value, as it is written.
            if (text.empty()) {
                out.value = std::string_view();
            } else if (ws.keep_base64 && is_canonical_base64(text)) {
                out.base64 = text;
                return Parsed::kLine;
            } else {
                if (!decode_base64(text, ws.value)) return Parsed::kFailed;
                out.value = ws.value;
            }
        } else {
            read_reference(text, ws.value);
            out.value = ws.value;
        }
        return Parsed::kLine;
    });
}

bool is_dn_line(std::string_view line) {
    // "dn:" in any letter case, with or without a value (an empty dn names
    // the root DSE), the CRs in it dropped.
    char name[3];
    size_t n = 0;
    for (size_t i = 0; i < line.size() && n < 3; ++i)
        if (!dropped(line[i])) name[n++] = line[i];
    return n == 3 && name[2] == ':' && is_dn_name({name, 2});
}

std::string_view entry_line(const Extent &e, std::string &scratch) {
    std::string_view line(e.begin, static_cast<size_t>(e.end - e.begin));
    if (e.has_folds) {
        join_folds(e, scratch);
        line = scratch;
    }
    return line::without_lf_then_cr(line);  // the extent holds no LF
}

}  // namespace kestrin::ldif

namespace {

using namespace kestrin;

using ldif::is_dn_line;

const char *next_entry(const char *cursor, char **entry, int *entry_len) {
    *entry = nullptr;
    *entry_len = 0;
    if (!cursor || !*cursor) return nullptr;
    std::string text, scratch;
    bool started = false;
    cursor = ldif::walk_entry(cursor, scratch, started, [&text](std::string_view line) {
        text.append(line);
        text += '\n';
    });
    if (!started) return cursor;  // a blank line before any dn: line, or the end
    if (text.size() > static_cast<size_t>(INT_MAX)) return nullptr;
    *entry = mem::duplicate(text);
    if (!*entry) return nullptr;
    *entry_len = static_cast<int>(text.size());
    return cursor;
}

// The entry text under construction: a malloc'd block handed to the caller
// as it stands, so the lines are copied once, from the stream's buffer
// straight into the result.
class EntryText {
public:
    EntryText() = default;
    EntryText(const EntryText &) = delete;
    EntryText &operator=(const EntryText &) = delete;
    ~EntryText() { std::free(data_); }

    // Appends n bytes; false when memory ran out.
    bool append(const char *bytes, size_t n) {
        const size_t want = size_ + n + 2;  // room for a LF and the final NUL
        if (want > room_ && !grow(want)) return false;
        if (n != 0) std::memcpy(data_ + size_, bytes, n);  // bytes may be null then
        size_ += n;
        return true;
    }
    size_t size() const { return size_; }
    std::string_view from(size_t start) const { return {data_ + start, size_ - start}; }
    // Cuts the text back to size bytes.
    void cut(size_t size) { size_ = size; }
    // Cuts the text back to size bytes and ends it with a LF.
    void end_line(size_t size) {
        size_ = size;
        data_[size_++] = '\n';
    }
    char *release() {
        data_[size_] = '\0';
        char *text = data_;
        data_ = nullptr;
        return text;
    }

private:
    bool grow(size_t want) {
        // Powers of two, so that the blocks of entry after entry fit the
        // same free space of the heap.
        const size_t room = std::bit_ceil(std::max({want, room_ * 2, size_t{1024}}));
        char *p = static_cast<char *>(mem::reallocate(data_, room));
        if (!p) return false;
        data_ = p;
        room_ = room;
        return true;
    }
    char *data_ = nullptr;
    size_t size_ = 0, room_ = 0;
};

// How a line of the entry is taken: kept, skipped (before the first dn:
// line), or the blank line that ends the entry (or is passed over before it).
enum class Take { kKeep, kSkip, kBlank };

Take classify(std::string_view line, bool &started) {
    if (ldif::only_crs(line.data(), line.data() + line.size())) return Take::kBlank;
    if (!started && !is_dn_line(line)) return Take::kSkip;
    started = true;
    return Take::kKeep;
}

enum class Ended { kNo, kEntry, kNoMemory };

// Where the first two LFs in a row are in [p, p + n): the index of the first
// of them, or n when there are none. In text without CRs that is where a
// blank line begins (after the first LF).
size_t find_lf_pair(const char *p, size_t n) {
    size_t i = 0;
#ifdef __SSE2__
    // 16 bytes at a time: bit k of `lfs` is set when p[i + k] is a LF.
    const __m128i lf = _mm_set1_epi8('\n');
    unsigned before = 0;  // 1 when the byte before the block is a LF
    for (; i + 16 <= n; i += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        const auto lfs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, lf)));
        const unsigned seconds = lfs & ((lfs << 1) | before);  // LFs right after a LF
        if (seconds) return i + static_cast<size_t>(std::countr_zero(seconds)) - 1;
        before = lfs >> 15;
    }
#endif
    for (; i < n; ++i)
        if (p[i] == '\n' && i > 0 && p[i - 1] == '\n') return i - 1;
    return n;
}

// Takes the whole lines that sit in the stream's buffer, copying runs of
// kept lines in one piece; stops at the blank line that ends the entry
// (consumed) or before a line that is not wholly there yet.
Ended take_buffered_lines(FILE *stream, EntryText &text, bool &started) {
    const std::string_view buf = line::buffered(stream);
    if (buf.empty()) return Ended::kNo;  // nothing read ahead (yet)
    size_t pos = 0, run = 0;  // run: where the bytes not yet copied start
    Ended ended = Ended::kNo;
    enum { kUnknown, kNone, kSome } crs = kUnknown;  // CRs in the buffer from where the entry started
    while (pos < buf.size()) {
        if (started && crs == kUnknown) crs = std::memchr(buf.data() + pos, '\r', buf.size() - pos) ? kSome : kNone;
        if (crs == kNone) {
            // Without CRs, every line is kept up to the first empty line.
            const size_t blank =
                buf[pos] == '\n' ? pos : pos + find_lf_pair(buf.data() + pos, buf.size() - pos) + 1;
            if (blank < buf.size()) {
                if (!text.append(buf.data() + run, blank - run)) return Ended::kNoMemory;
                pos = run = blank + 1;
                ended = Ended::kEntry;
                break;
            }
            const auto *last = static_cast<const char *>(memrchr(buf.data() + pos, '\n', buf.size() - pos));
            if (last) pos = static_cast<size_t>(last - buf.data()) + 1;
            break;
        }
        const auto *lf = static_cast<const char *>(std::memchr(buf.data() + pos, '\n', buf.size() - pos));
        if (!lf) break;
        const auto next = static_cast<size_t>(lf - buf.data()) + 1;
        const std::string_view line = line::without_lf_then_cr(buf.substr(pos, next - pos));
        const Take take = classify(line, started);
        if (take != Take::kKeep || line.size() + 1 != next - pos) {
            // The run ends before this line; a kept line that had a CR is
            // copied without it.
            const size_t upto = take == Take::kKeep ? pos + line.size() : pos;
            if (!text.append(buf.data() + run, upto - run)) return Ended::kNoMemory;
            if (take == Take::kKeep) text.end_line(text.size());
            run = next;
        }
        pos = next;
        if (take == Take::kBlank) {
            ended = Ended::kEntry;
            break;
        }
    }
    if (!text.append(buf.data() + run, pos - run)) return Ended::kNoMemory;
    line::consume(stream, pos);
    return ended;
}

char *read_entry(FILE *stream) {
    if (!stream || std::feof(stream)) return nullptr;
    const line::StreamLock lock(stream);
    EntryText text;
    bool started = false;
    // Whole lines in the stream's buffer are taken in runs; a line that is
    // not wholly there is read onto the end of the text, then kept (without
    // its line end, and with one LF) or cut off again. The end of the stream
    // (or a read error) inside an entry delivers the lines gathered as the
    // last entry.
    for (;;) {
        const Ended ended = take_buffered_lines(stream, text, started);
        if (ended == Ended::kNoMemory) return nullptr;
        if (ended == Ended::kEntry) break;
        const size_t start = text.size();
        const line::Appended got =
            line::append_line(stream, [&text](const char *bytes, size_t n) { return text.append(bytes, n); });
        if (got == line::Appended::kNoMemory) return nullptr;
        if (got == line::Appended::kEnd) break;
        const std::string_view line = line::without_lf_then_cr(text.from(start));
        const Take take = classify(line, started);
        if (take == Take::kKeep) {
            text.end_line(start + line.size());
            continue;
        }
        text.cut(start);
        if (take == Take::kBlank) break;
    }
    return started ? text.release() : nullptr;
}

}  // namespace

extern "C" const char *ldif_parse_line(const char *cursor, int length, char **name, char **value, int *value_len,
                                       int *binary) noexcept {
    (void)length;  // storage is sized by the line itself
    if (binary) *binary = 0;
    if (!name || !value || !value_len) return nullptr;
    ldif::Workspace ws;
    ldif::Line line;
    const char *next = nullptr;
    if (ldif::parse_line(cursor, ws, line, &next) != ldif::Parsed::kLine) return nullptr;
    if (line.value.size() > static_cast<size_t>(INT_MAX)) return nullptr;
    char *n = mem::duplicate(line.name);
    char *v = mem::duplicate(line.value);
    if (!n || !v) {
        std::free(n);
        std::free(v);
        return nullptr;
    }
    *name = n;
    *value = v;
    *value_len = static_cast<int>(line.value.size());
    if (binary) *binary = line.binary ? 1 : 0;
    return next;
}

extern "C" int ldif_set_file_references(int allow) noexcept {
    return ldif::follow_file_references.exchange(allow != 0) ? 1 : 0;
}

extern "C" const char *ldif_next_entry(const char *cursor, int length, char **entry, int *entry_len) noexcept {
    (void)length;  // the text is NUL-terminated; lines are found by scanning
    if (!entry || !entry_len) return nullptr;
    // next_entry clears both outputs before anything can throw.
    return guarded<const char *>(nullptr, [&] { return next_entry(cursor, entry, entry_len); });
}

extern "C" char *ldif_read_entry(FILE *stream) noexcept {
    return guarded<char *>(nullptr, [&] { return read_entry(stream); });
}
