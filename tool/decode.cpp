// The way back: see decode.h.
//
// The first pass (Finder) walks the physical lines of the input piece by
// piece: a memchr for each line end, a look at the byte after it (a fold or
// a new logical line), the description compared with the name as it goes,
// and, for the line that matches, the value's text checked (base64 joined
// into long runs and validated) and counted, its place in the input noted.
// The second pass (Unfolder) reads only that place again, takes the folds
// and the CRs before LFs out, and hands the text on in long runs: as it is,
// or decoded.
#include "decode.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "codec/base64.h"

namespace kestrin::tool {
namespace {

constexpr size_t kJoin = size_t{256} << 10;  // characters of value text handed on at a time

using Pass = Input::Pass;
using Kind = DecodedText::Kind;

enum class Form { kPlain, kBase64, kFile };

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// base64 text in pieces with no white space anywhere, decoded or only
// validated as base64_decode reads the whole text.
class StrictBase64 {
public:
    StrictBase64() { base64_stream_init(&stream_, BASE64_STRICT); }
    // The bytes decoded from the next piece into out (room for n / 4 * 3 + 3).
    size_t feed(const char *p, size_t n, unsigned char *out) {
        const long got = base64_stream_decode(&stream_, p, n, out, out ? n / 4 * 3 + 3 : 0);
        failed_ = failed_ || got < 0;
        return got < 0 ? 0 : static_cast<size_t>(got);
    }
    // After the last piece: 0, or -1 when the whole text was not valid.
    int finish(unsigned char *) { return failed_ || base64_stream_decode_end(&stream_) != 0 ? -1 : 0; }
    bool failed() const { return failed_; }

private:
    base64_stream stream_;
    bool failed_ = false;
};

// Room for the text of a value that lies in `extent` bytes of input.
size_t join_size(size_t extent) { return std::clamp<size_t>(extent, 1, kJoin); }

// Spans gathered into one buffer and handed on whenever it is full: the
// short lines of a folded value become long runs for the codec and for the
// writes.
class Joiner {
public:
    explicit Joiner(size_t capacity)
        : capacity_(capacity), buffer_(std::make_unique_for_overwrite<char[]>(capacity)) {}

    // Appends [p, p + n); false when a hand-over refused.
    template <class Flush>
    bool add(const char *p, size_t n, Flush &flush) {
        while (n > 0) {
            const size_t k = std::min(n, capacity_ - used_);
            std::memcpy(buffer_.get() + used_, p, k);
            used_ += k;
            p += k;
            n -= k;
            if (used_ == capacity_ && !drain(flush)) return false;
        }
        return true;
    }

    // Hands on what is gathered.
    template <class Flush>
    bool drain(Flush &flush) {
        const size_t n = used_;
        used_ = 0;
        return n == 0 || flush(static_cast<const char *>(buffer_.get()), n);
    }

private:
    size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
};

// What the first pass found.
struct Located {
    Kind kind = Kind::kNoValue;
    Form form = Form::kPlain;
    size_t begin = 0, end = 0;  // the value's text in the input, folds and all
    size_t size = 0;            // bytes of the value (of the URL, for a file reference)
};

// The first pass: the first logical line whose description is the name, and
// its value checked.
class Finder {
public:
    Finder(std::string_view attr, size_t input_size) : attr_(attr), joiner_(join_size(input_size)) {}

    // The next piece of the input.
    void feed(const char *p, size_t n) {
        size_t i = 0;
        if (cr_pending_ && n > 0 && !done_) {
            cr_pending_ = false;
            if (p[0] == '\n') {  // the CR before a LF: no text
                line_end_ = base_ - 1;
                line_start_ = true;
                i = 1;
            } else {
                has_text_ = true;
                text("\r", 1, base_ - 1);
            }
        }
        while (i < n && !done_) {
            if (line_start_) {
                line_start_ = false;
                if (p[i] == ' ' && has_text_) {  // a fold: the logical line goes on
                    ++i;
                    continue;
                }
                end_line();
                if (done_) break;
                begin_line();
            }
            if (part_ == Part::kValue) {
                i = value_lines(p, i, n);
                continue;
            }
            const auto *lf = static_cast<const char *>(std::memchr(p + i, '\n', n - i));
            const size_t stop = lf ? static_cast<size_t>(lf - p) : n;
            size_t text_end = stop;
            // A CR before the LF is no text; one that ends the piece may be
            // (a skipped line's text does not matter).
            if (stop > i && p[stop - 1] == '\r' && (lf || part_ != Part::kSkip)) {
                --text_end;
                cr_pending_ = !lf;
            }
            if (text_end > i) {
                has_text_ = true;
                if (part_ != Part::kSkip) text(p + i, text_end - i, base_ + i);
            }
            if (!lf) break;
            line_end_ = base_ + text_end;
            line_start_ = true;
            i = stop + 1;
        }
        base_ += n;
    }

    // The value's physical lines from p[i] on, for as long as they are
    // folds: the same as the loop of feed(), without its choices. Returns
    // where it stopped: the end of the piece, or the start of a line that
    // may begin a new logical line.
    size_t value_lines(const char *p, size_t i, size_t n) {
        for (;;) {
            const auto *lf = static_cast<const char *>(std::memchr(p + i, '\n', n - i));
            const char *t = lf ? lf : p + n;
            if (t > p + i && t[-1] == '\r') {
                --t;
                cr_pending_ = !lf;
            }
            if (t > p + i) {
                has_text_ = true;
                value(p + i, static_cast<size_t>(t - (p + i)));
                if (done_) return n;
            }
            if (!lf) return n;
            line_end_ = base_ + static_cast<size_t>(t - p);
            i = static_cast<size_t>(lf - p) + 1;
            if (i == n || p[i] != ' ') {
                line_start_ = true;
                return i;
            }
            ++i;  // a fold
        }
    }

    // After the last piece.
    Located finish() {
        if (done_) return found_;
        if (cr_pending_) {  // the input ends in a CR with no LF after it: text
            cr_pending_ = false;
            has_text_ = true;
            text("\r", 1, base_ - 1);
        }
        if (!line_start_) line_end_ = base_;
        if (!done_) end_line();
        return found_;
    }

private:
    // Where the walk is in the logical line.
    enum class Part {
        kName,    // in the description, matched_ characters of the name so far
        kMarker,  // right after the ':' of a matching description
        kFill,    // in the spaces after the marker
        kValue,   // in the value
        kSkip     // in a line that does not matter (or before the first)
    };

    // Validates and counts a run of joined base64 text: false once it is
    // malformed.
    auto checker() {
        return [this](const char *p, size_t n) {
            found_.size += base64_.feed(p, n, nullptr);
            return !base64_.failed();
        };
    }

    void begin_line() {
        part_ = Part::kName;
        matched_ = 0;
        has_text_ = false;
        fresh_ = true;
    }

    // The logical line ended at line_end_; the search ends with the one
    // that matched.
    void end_line() {
        if (part_ == Part::kName || part_ == Part::kSkip) return;
        done_ = true;
        if (part_ != Part::kValue) found_.begin = line_end_;  // nothing after the fill: the empty value
        found_.end = line_end_;
        found_.kind = found_.form == Form::kFile ? Kind::kFileReference : Kind::kValue;
        if (found_.form != Form::kBase64) return;
        auto check = checker();
        const int last = joiner_.drain(check) ? base64_.finish(nullptr) : -1;
        if (last < 0)
            found_.kind = Kind::kMalformed;
        else
            found_.size += static_cast<size_t>(last);
    }

    // Text of the logical line (folds and CRs before LFs taken out), which
    // begins at offset `at` of the input.
    void text(const char *p, size_t n, size_t at) {
        size_t k = 0;
        while (k < n) {
            switch (part_) {
                case Part::kName:
                    if (fresh_) {
                        fresh_ = false;
                        if (p[k] == '#') {  // a comment
                            part_ = Part::kSkip;
                            return;
                        }
                    }
                    for (; k < n && p[k] != ':'; ++k, ++matched_) {
                        if (matched_ == attr_.size() || lower(p[k]) != lower(attr_[matched_])) {
                            part_ = Part::kSkip;
                            return;
                        }
                    }
                    if (k == n) return;
                    ++k;
                    if (matched_ != attr_.size()) {
                        part_ = Part::kSkip;
                        return;
                    }
                    part_ = Part::kMarker;
                    found_.form = Form::kPlain;
                    break;
                case Part::kMarker:
                    if (p[k] == ':' || p[k] == '<') {
                        found_.form = p[k] == ':' ? Form::kBase64 : Form::kFile;
                        ++k;
                    }
                    part_ = Part::kFill;
                    break;
                case Part::kFill:
                    while (k < n && p[k] == ' ') ++k;
                    if (k < n) {
                        part_ = Part::kValue;
                        found_.begin = at + k;
                    }
                    break;
                case Part::kValue:
                    value(p + k, n - k);
                    return;
                case Part::kSkip:
                    return;
            }
        }
    }

    void value(const char *p, size_t n) {
        if (found_.form != Form::kBase64) {
            found_.size += n;
            return;
        }
        auto check = checker();
        if (!joiner_.add(p, n, check)) {
            found_.kind = Kind::kMalformed;
            done_ = true;
        }
    }

    std::string_view attr_;
    Joiner joiner_;
    StrictBase64 base64_;
    Located found_;
    Part part_ = Part::kSkip;  // no line yet
    size_t matched_ = 0;
    size_t base_ = 0;          // offset of the piece in the input
    size_t line_end_ = 0;      // where the text of the last physical line ended
    bool line_start_ = true;   // the next byte begins a physical line
    bool has_text_ = false;    // the logical line has text, so a space continues it
    bool fresh_ = false;       // no text of the logical line seen yet
    bool cr_pending_ = false;  // the piece ended in a CR that a LF may follow
    bool done_ = false;
};

// The second pass: [begin, end) of the input, the value's text, with its
// folds (a LF and the space after it) and the CRs before LFs taken out,
// gathered and handed to flush in runs.
template <class Flush>
class Unfolder {
public:
    Unfolder(size_t begin, size_t end, Flush &flush)
        : begin_(begin), end_(end), joiner_(join_size(end - begin)), flush_(flush) {}

    // The next piece of the input; false when flush refused.
    bool feed(const char *p, size_t n) {
        const size_t from = std::max(begin_, base_), to = std::min(end_, base_ + n);
        const size_t base = base_;
        base_ += n;
        if (from >= to) return true;
        const char *q = p + (from - base), *const e = p + (to - base);
        if (after_lf_) {  // the space of a fold that ended the last piece
            after_lf_ = false;
            if (*q == ' ')
                ++q;
            else
                changed_ = true;
        }
        if (cr_pending_) {
            cr_pending_ = false;
            if ((q == e || *q != '\n') && !put("\r", 1)) return false;
        }
        while (q < e) {
            const auto *lf = static_cast<const char *>(std::memchr(q, '\n', static_cast<size_t>(e - q)));
            if (!lf) {
                const char *t = e;
                // A CR at the end of the value is a byte of it; at the end
                // of a piece a LF may follow.
                if (t[-1] == '\r' && to < end_) {
                    --t;
                    cr_pending_ = true;
                }
                return put(q, static_cast<size_t>(t - q));
            }
            const char *t = lf > q && lf[-1] == '\r' ? lf - 1 : lf;
            if (!put(q, static_cast<size_t>(t - q))) return false;
            q = lf + 1;
            if (q == e) {
                after_lf_ = true;
            } else if (*q == ' ') {
                ++q;
            } else {
                changed_ = true;  // every LF in the value was a fold's
            }
        }
        return true;
    }

    // After the last piece; false when flush refused.
    bool finish() {
        if (after_lf_ || cr_pending_) changed_ = true;
        return joiner_.drain(flush_);
    }

    // Whether the text is not the one the first pass saw there.
    bool changed() const { return changed_; }

private:
    bool put(const char *p, size_t n) { return joiner_.add(p, n, flush_); }

    size_t begin_, end_;
    Joiner joiner_;
    Flush &flush_;
    size_t base_ = 0;
    bool after_lf_ = false, cr_pending_ = false, changed_ = false;
};

// How the second pass ended.
enum class Second { kSame, kChanged, kReadFailed, kOutFailed };

// The second pass: hands the value's bytes (decoded, for base64) to
// out(p, n), which returns false to stop (kOutFailed). each_piece(f) reads
// the input as Input::each_piece does.
template <class Pieces, class Out>
Second write_value(const Located &at, Pieces &&each_piece, Out &&out) {
    const bool base64 = at.form == Form::kBase64;
    const size_t join = join_size(at.end - at.begin);
    const auto decoded = std::make_unique_for_overwrite<unsigned char[]>(base64 ? join / 4 * 3 + 16 : 0);
    StrictBase64 decoder;
    size_t bytes = 0;
    bool refused = false;
    const auto flush_bytes = [&](const char *p, size_t n) {
        bytes += n;
        if (n > 0 && !out(p, n)) refused = true;
        return !refused;
    };
    auto flush = [&](const char *p, size_t n) {
        if (!base64) return flush_bytes(p, n);
        n = decoder.feed(p, n, decoded.get());
        return flush_bytes(reinterpret_cast<const char *>(decoded.get()), n);
    };
    Unfolder unfolder(at.begin, at.end, flush);
    const Pass pass = each_piece([&](const char *p, size_t n) { return unfolder.feed(p, n); });
    if (refused) return Second::kOutFailed;
    if (pass == Pass::kReadFailed) return Second::kReadFailed;
    if (!unfolder.finish()) return Second::kOutFailed;
    if (base64) {
        // The bytes of the last group.
        const int last = decoder.finish(decoded.get());
        if (last < 0) return Second::kChanged;
        if (!flush_bytes(reinterpret_cast<const char *>(decoded.get()), static_cast<size_t>(last)))
            return Second::kOutFailed;
    }
    const bool same = pass == Pass::kDone && !unfolder.changed() && bytes == at.size;
    return same ? Second::kSame : Second::kChanged;
}

}  // namespace

struct LdifValue::Impl {
    Located at;
};

LdifValue::LdifValue() : impl_(std::make_unique<Impl>()) {}
LdifValue::~LdifValue() = default;

int LdifValue::prepare(Input &input, const std::string &attr) {
    Finder finder(attr, input.size());
    const Pass pass = input.each_piece([&](const char *p, size_t n) {
        finder.feed(p, n);
        return true;
    });
    if (pass == Pass::kReadFailed) return kReadFailed;
    input.skip_to_end();
    const Located &at = impl_->at = finder.finish();
    switch (at.kind) {
        case Kind::kValue: return 0;
        case Kind::kNoValue: std::fprintf(stderr, "No value of <%s> in the input\n", attr.c_str()); break;
        case Kind::kMalformed: std::fprintf(stderr, "Failed to base64-decode value of <%s>\n", attr.c_str()); break;
        case Kind::kFileReference:
            // The URL goes out as it is read again, however long it is.
            std::fprintf(stderr, "Value of <%s> is a file reference: ", attr.c_str());
            std::fflush(stderr);
            write_value(at, [&](auto &&f) { return input.each_piece(f); },
                        [](const char *p, size_t n) { return write_full(STDERR_FILENO, p, n); });
            std::fputs("\n", stderr);
            break;
    }
    return 1;
}

size_t LdifValue::size() const { return impl_->at.size; }

Written LdifValue::write(Input &input, int fd) {
    int error = 0;
    const Second second = write_value(impl_->at, [&](auto &&f) { return input.each_piece(f); },
                                      [&](const char *p, size_t n) {
                                          if (write_full(fd, p, n)) return true;
                                          error = errno;
                                          return false;
                                      });
    switch (second) {
        case Second::kSame: return Written::kOk;
        case Second::kOutFailed: errno = error; return Written::kOutputFailed;
        case Second::kReadFailed: return Written::kInputFailed;  // errno tells
        case Second::kChanged: break;
    }
    errno = EIO;
    return Written::kInputFailed;
}

DecodedText decode_ldif_text(std::string_view text, std::string_view attr, size_t piece) {
    piece = std::max<size_t>(piece, 1);
    // Each piece in a buffer of its own size, so that a read past it is
    // caught under AddressSanitizer.
    const auto pieces = [&](auto &&f) {
        for (size_t at = 0; at < text.size(); at += piece) {
            const size_t n = std::min(piece, text.size() - at);
            const auto copy = std::make_unique_for_overwrite<char[]>(n);
            std::memcpy(copy.get(), text.data() + at, n);
            if (!f(copy.get(), n)) return Pass::kStopped;
        }
        return Pass::kDone;
    };
    Finder finder(attr, text.size());
    pieces([&](const char *p, size_t n) {
        finder.feed(p, n);
        return true;
    });
    const Located at = finder.finish();
    DecodedText result;
    result.kind = at.kind;
    if (at.kind == Kind::kValue || at.kind == Kind::kFileReference) {
        const Second second = write_value(at, pieces, [&](const char *p, size_t n) {
            result.bytes.append(p, n);
            return true;
        });
        result.second_pass_same = second == Second::kSame;
    }
    return result;
}

}  // namespace kestrin::tool
