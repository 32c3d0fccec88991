// The way back: see decode.h.
//
// Both passes feed the input, piece by piece, to a streaming reader and pull
// its items: the first looks for the first line described as the name and
// counts its value's bytes (or finds it malformed or a file reference), the
// second finds the same line again and hands its value's pieces on, to the
// output or, for the URL of a file reference, to the message.
#include "decode.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "ldif/ldif.h"

namespace kestrin::tool {
namespace {

constexpr size_t kRoom = size_t{256} << 10;  // bytes of a value handed on at a time

using Pass = Input::Pass;
using Kind = DecodedText::Kind;

// The description matches as the entry queries match it: the whole name,
// ASCII case ignored (the tool runs in the C locale). attr, from the command
// line, holds no NUL, so a NUL in the name ends the comparison unequal.
bool same_name(const char *name, size_t n, std::string_view attr) {
    return n == attr.size() && strncasecmp(name, attr.data(), n) == 0;
}

struct ReaderFree {
    void operator()(ldif_reader *r) const { ldif_reader_free(r); }
};

// What a pass found.
struct Located {
    Kind kind = Kind::kNoValue;
    size_t size = 0;  // bytes of the value (of the URL, for a file reference)
};

// One pass: the input's pieces to a reader, the items of the first line
// described as attr looked at; each piece of its value goes to out(p, n),
// which returns false to stop (then *refused is set).
class Finder {
public:
    template <class Out>
    Finder(std::string_view attr, Out &out) : attr_(attr), out_(out), reader_(ldif_reader_create(kRoom)) {
        if (!reader_) throw std::bad_alloc();
    }

    // The next piece of the input (n 0: its end); false once the line has
    // been read, or out refused.
    bool feed(const char *p, size_t n) {
        if (done_) return false;
        ldif_reader_feed(reader_.get(), p, n);
        for (;;) {
            ldif_item item;
            const int kind = ldif_reader_next(reader_.get(), &item);
            if (kind == LDIF_NEED_INPUT) return true;
            if (kind == LDIF_END) return end();
            if (kind != LDIF_ATTR && kind != LDIF_ERROR) continue;
            if (!matched_) {
                if (!same_name(item.name, item.name_len, attr_)) continue;
                matched_ = true;
                line_ = item.line;
            }
            if (item.line != line_) continue;  // (an error of the line itself has its number)
            if (kind == LDIF_ERROR) {
                found_ = {Kind::kMalformed, 0};
                return end();
            }
            found_.kind = item.form == LDIF_FORM_URL ? Kind::kFileReference : Kind::kValue;
            found_.size += item.value_len;
            if (item.value_len > 0 && !out_(item.value, item.value_len)) {
                refused_ = true;
                return end();
            }
            if (!item.more) return end();
        }
    }

    // After the last piece.
    Located finish() {
        if (!done_) feed(nullptr, 0);
        return found_;
    }
    bool refused() const { return refused_; }

private:
    bool end() {
        done_ = true;
        return false;
    }

    std::string_view attr_;
    std::function<bool(const char *, size_t)> out_;
    std::unique_ptr<ldif_reader, ReaderFree> reader_;
    Located found_;
    long line_ = 0;
    bool matched_ = false, done_ = false, refused_ = false;
};

// How a pass over the input ended.
enum class Second { kSame, kChanged, kReadFailed, kOutFailed };

// A pass: each_piece(f) reads the input as Input::each_piece does; every
// piece of the value goes to out. The whole input is read, also after the
// value (so a read error anywhere is one).
template <class Pieces, class Out>
Second pass(std::string_view attr, Pieces &&each_piece, Out &&out, Located &found) {
    Finder finder(attr, out);
    const Pass read = each_piece([&](const char *p, size_t n) {
        finder.feed(p, n);
        return true;
    });
    found = finder.finish();
    if (finder.refused()) return Second::kOutFailed;
    return read == Pass::kReadFailed ? Second::kReadFailed : Second::kSame;
}

// The second pass: as the first found it, or kChanged.
template <class Pieces, class Out>
Second write_value(std::string_view attr, const Located &first, Pieces &&each_piece, Out &&out) {
    Located again;
    const Second second = pass(attr, each_piece, out, again);
    if (second != Second::kSame) return second;
    return again.kind == first.kind && again.size == first.size ? Second::kSame : Second::kChanged;
}

bool count_only(const char *, size_t) { return true; }

}  // namespace

struct LdifValue::Impl {
    std::string attr;
    Located at;
};

LdifValue::LdifValue() : impl_(std::make_unique<Impl>()) {}
LdifValue::~LdifValue() = default;

int LdifValue::prepare(Input &input, const std::string &attr) {
    impl_->attr = attr;
    const auto pieces = [&](auto &&f) { return input.each_piece(f); };
    if (pass(attr, pieces, count_only, impl_->at) == Second::kReadFailed) return kReadFailed;
    input.skip_to_end();
    const Located &at = impl_->at;
    switch (at.kind) {
        case Kind::kValue: return 0;
        case Kind::kNoValue: std::fprintf(stderr, "No value of <%s> in the input\n", attr.c_str()); break;
        case Kind::kMalformed: std::fprintf(stderr, "Failed to base64-decode value of <%s>\n", attr.c_str()); break;
        case Kind::kFileReference:
            // The URL goes out as it is read again, however long it is.
            std::fprintf(stderr, "Value of <%s> is a file reference: ", attr.c_str());
            std::fflush(stderr);
            write_value(attr, at, pieces, [](const char *p, size_t n) { return write_full(STDERR_FILENO, p, n); });
            std::fputs("\n", stderr);
            break;
    }
    return 1;
}

size_t LdifValue::size() const { return impl_->at.size; }

Written LdifValue::write(Input &input, int fd) {
    int error = 0;
    const Second second = write_value(impl_->attr, impl_->at, [&](auto &&f) { return input.each_piece(f); },
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
    Located at;
    pass(attr, pieces, count_only, at);
    DecodedText result;
    result.kind = at.kind;
    if (at.kind == Kind::kValue || at.kind == Kind::kFileReference) {
        const Second second = write_value(attr, at, pieces, [&](const char *p, size_t n) {
            result.bytes.append(p, n);
            return true;
        });
        result.second_pass_same = second == Second::kSame;
    }
    return result;
}

}  // namespace kestrin::tool
