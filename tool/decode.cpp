// The way back: see decode.h.
//
// Every pass feeds the input, piece by piece, to a streaming reader and
// pulls its items; a Walker picks out the values of the selection
// (select.h) and hands each one, a piece at a time, to a sink. The first
// pass counts them and finds the first that cannot be written (a Counter);
// the later ones count them again while they hand the pieces on, to the
// output, to the files of --split, or for the URL of a file reference to
// the message, and the two counts must agree.
#include "decode.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "dn.h"
#include "ldif/ldif.h"
#include "select.h"
#include "split.h"

namespace kestrin::tool {
namespace {

constexpr size_t kRoom = size_t{256} << 10;  // bytes of a value handed on at a time

using Pass = Input::Pass;
using Kind = DecodedText::Kind;
using Values = Selection::Values;

// A value count in a message's %d. The input is below 2 GiB and a value's
// line takes two bytes at least, so a count never gets there; it would stop
// at the largest int rather than wrap.
int as_count(long long n) { return static_cast<int>(std::min<long long>(n, INT_MAX)); }

struct ReaderFree {
    void operator()(ldif_reader *r) const { ldif_reader_free(r); }
};

// Why a value cannot be written.
enum class Fault { kNone, kMalformed, kFileReference, kSeparator };

// What a pass found of the selection's values.
struct Survey {
    long long count = 0;    // values
    long long bytes = 0;    // their bytes
    size_t first_size = 0;  // bytes of the first
    long long failed = 0;   // the number (from 1) of the first that cannot be written; 0: none
    Fault fault = Fault::kNone;
};

// One pass over the reader's items: the values of the selection go to a
// sink, which has
//   begin()                 a value begins,
//   piece(p, n) -> bool     its next bytes (false stops the pass),
//   end(kind, kept)         it has ended (see Step),
//   done() -> bool          no further value is wanted.
template <class Sink>
class Walker {
public:
    Walker(const Selection &selection, DnMatch *dn, LongDns &long_dns, Sink &sink)
        : selector_(selection.attr, dn, long_dns), sink_(sink), reader_(ldif_reader_create(kRoom)) {
        if (!reader_) throw std::bad_alloc();
    }

    // The next piece of the input (n 0: its end).
    void feed(const char *p, size_t n) {
        if (stopped_) return;
        ldif_reader_feed(reader_.get(), p, n);
        for (;;) {
            ldif_item item;
            const int kind = ldif_reader_next(reader_.get(), &item);
            if (kind == LDIF_NEED_INPUT) return;
            if (kind == LDIF_END || !take(selector_.take(kind, item, ldif_reader_in_entry(reader_.get()) != 0), item))
                break;
        }
        stopped_ = true;
    }

    void finish() { feed(nullptr, 0); }
    bool entry_found() const { return selector_.entry_found(); }

private:
    // false: the pass stops.
    bool take(const Step &step, const ldif_item &item) {
        if (step.begins) sink_.begin();
        if (step.piece && !sink_.piece(item.value, item.value_len)) return false;
        if (step.ends) sink_.end(step.kind, step.kept);
        return !sink_.done();
    }

    Selector selector_;
    Sink &sink_;
    std::unique_ptr<ldif_reader, ReaderFree> reader_;
    bool stopped_ = false;
};

// Counts the values and finds the first that cannot be written: with kFirst
// only the first is looked at, with kAll a value that holds the terminator
// cannot be written either.
class Counter {
public:
    Counter(Values values, char terminator) : values_(values), terminator_(terminator) {}

    void begin() {
        size_ = 0;
        holds_terminator_ = false;
    }
    bool piece(const char *p, size_t n) {
        size_ += n;
        if (values_ == Values::kAll && !holds_terminator_) holds_terminator_ = std::memchr(p, terminator_, n) != nullptr;
        return true;
    }
    void end(Kind kind, bool kept) {
        if (!kept) return;
        Survey &s = survey;
        if (++s.count == 1) s.first_size = size_;
        s.bytes += static_cast<long long>(size_);
        if (s.failed != 0 || (values_ == Values::kFirst && s.count > 1)) return;
        s.fault = kind == Kind::kMalformed       ? Fault::kMalformed
                  : kind == Kind::kFileReference ? Fault::kFileReference
                  : holds_terminator_            ? Fault::kSeparator
                                                 : Fault::kNone;
        if (s.fault != Fault::kNone) s.failed = s.count;
    }
    bool done() const { return false; }

    Survey survey;

private:
    Values values_;
    char terminator_;
    size_t size_ = 0;
    bool holds_terminator_ = false;
};

// What a later pass does with the values it hands on: begin() -> bool,
// piece(p, n) -> bool, end(kind) -> bool, false for a failure that stops
// the pass.
template <class Begin, class Piece, class End>
struct Target {
    Begin begin;
    Piece piece;
    End end;
};
template <class Begin, class Piece, class End>
Target(Begin, Piece, End) -> Target<Begin, Piece, End>;

constexpr auto kNothing = [] { return true; };
constexpr auto kNoEnd = [](Kind) { return true; };

// A sink for the later passes: counts as the first pass did, and hands the
// values numbered first to last (from 1) to a target.
template <class T>
class Counted {
public:
    Counted(Counter counting, long long first, long long last, T &target)
        : counter(counting), first_(first), last_(last), target_(target) {}

    void begin() {
        counter.begin();
        const long long n = counter.survey.count + 1;
        passing_ = n >= first_ && n <= last_;
        if (passing_ && !target_.begin()) failed_ = true;
    }
    bool piece(const char *p, size_t n) {
        counter.piece(p, n);
        if (passing_ && !failed_ && !target_.piece(p, n)) failed_ = true;
        return !failed_;
    }
    void end(Kind kind, bool kept) {
        counter.end(kind, kept);
        if (passing_ && !failed_ && !target_.end(kind)) failed_ = true;
    }
    bool done() const { return failed_ || counter.survey.count >= last_; }
    bool failed() const { return failed_; }

    Counter counter;

private:
    long long first_, last_;
    T &target_;
    bool passing_ = false, failed_ = false;
};

// The run's selection and what its first pass found, and its passes.
struct Run {
    Selection selection;
    std::optional<DnMatch> dn;
    LongDns long_dns;
    Survey found;  // by the first pass

    void select(const Selection &s) {
        selection = s;
        if (s.dn) dn.emplace(*s.dn);
    }

    Counter counter() const { return Counter(selection.values, selection.terminator); }

    // A pass over the whole input, also after the values (so a read error
    // anywhere is one): false when a read failed (errno tells).
    template <class Pieces, class Sink>
    bool pass(Pieces &&each_piece, Sink &sink, bool *entry_found = nullptr) {
        Walker<Sink> walker(selection, dn ? &*dn : nullptr, long_dns, sink);
        const Pass read = each_piece([&](const char *p, size_t n) {
            walker.feed(p, n);
            return true;
        });
        const int error = errno;  // the read's, before the last items are taken
        walker.finish();
        if (entry_found) *entry_found = walker.entry_found();
        errno = error;
        return read != Pass::kReadFailed;
    }

    // The first pass.
    template <class Pieces>
    bool survey(Pieces &&each_piece, bool *entry_found = nullptr) {
        Counter counter = this->counter();
        if (!pass(each_piece, counter, entry_found)) return false;
        found = counter.survey;
        return true;
    }

    // Whether a later pass, which stopped after the value numbered last,
    // met the values the first one checked.
    bool same(const Survey &again, long long last) const {
        if (last < found.count) return again.count == last && again.first_size == found.first_size;
        return again.count == found.count && again.bytes == found.bytes && again.failed == found.failed;
    }

    // A later pass: the values numbered first to last go to the target.
    // 0; kReadFailed (errno tells, EIO for an input that changed since
    // the first pass); or 1 when the target failed.
    template <class Pieces, class T>
    int hand_on(Pieces &&each_piece, long long first, long long last, T &&target) {
        Counted<std::remove_reference_t<T>> sink(counter(), first, last, target);
        if (!pass(each_piece, sink)) return LdifValue::kReadFailed;
        if (sink.failed()) return 1;
        if (same(sink.counter.survey, last)) return 0;
        errno = EIO;
        return LdifValue::kReadFailed;
    }
};

int no_value(const Selection &s, bool entry_found) {
    if (s.dn && !entry_found)
        std::fprintf(stderr, "No entry <%s> in the input\n", s.dn->c_str());
    else
        std::fprintf(stderr, "No value of <%s> in the input\n", s.attr.c_str());
    return 1;
}

}  // namespace

struct LdifValue::Impl : Run {};

LdifValue::LdifValue() : impl_(std::make_unique<Impl>()) {}
LdifValue::~LdifValue() = default;

int LdifValue::prepare(Input &input, const Selection &selection) {
    Impl &m = *impl_;
    m.select(selection);
    const auto pieces = [&](auto &&f) { return input.each_view(f); };
    bool entry_found = false;
    if (!m.survey(pieces, &entry_found)) return kReadFailed;
    input.skip_to_end();
    const Survey &s = m.found;
    const char *attr = selection.attr.c_str();
    switch (s.fault) {
        case Fault::kNone: return s.count == 0 ? no_value(selection, entry_found) : 0;
        case Fault::kMalformed: std::fprintf(stderr, "Failed to base64-decode value of <%s>\n", attr); break;
        case Fault::kSeparator:
            std::fprintf(stderr, "Value %d of <%s> holds the separator: use --split\n", as_count(s.failed), attr);
            break;
        case Fault::kFileReference: {
            // The URL goes out as it is read again, however long it is.
            std::fprintf(stderr, "Value of <%s> is a file reference: ", attr);
            std::fflush(stderr);
            const auto url = [](const char *p, size_t n) { return write_full(STDERR_FILENO, p, n); };
            m.hand_on(pieces, s.failed, s.failed, Target{kNothing, url, kNoEnd});
            std::fputs("\n", stderr);
            break;
        }
    }
    return 1;
}

size_t LdifValue::size() const {
    const Survey &s = impl_->found;
    return impl_->selection.values == Values::kFirst ? s.first_size : static_cast<size_t>(s.bytes);
}

Written LdifValue::write(Input &input, int fd) {
    Impl &m = *impl_;
    const bool all = m.selection.values == Values::kAll;
    const char terminator = m.selection.terminator;
    Output out(fd);
    const auto put = [&](const char *p, size_t n) { return out.put(p, n); };
    const auto end = [&](Kind) { return !all || out.put(&terminator, 1); };
    const int status =
        m.hand_on([&](auto &&f) { return input.each_view(f); }, 1, all ? m.found.count : 1, Target{kNothing, put, end});
    if (status == kReadFailed) return Written::kInputFailed;  // errno tells
    if (status != 0 || !out.flush()) {
        errno = out.error();
        return Written::kOutputFailed;
    }
    if (!all && m.found.count > 1)
        std::fprintf(stderr, "kestrin: %d more values of <%s> in the input (see --all)\n", as_count(m.found.count - 1),
                     m.selection.attr.c_str());
    return Written::kOk;
}

int LdifValue::write_files(Input &input, SplitFiles &files) {
    Impl &m = *impl_;
    const int status = m.hand_on([&](auto &&f) { return input.each_view(f); }, 1, m.found.count,
                                 Target{[&] { return files.begin(); },
                                        [&](const char *p, size_t n) { return files.write(p, n); },
                                        [&](Kind) { return files.end(); }});
    // On a failure the files made so far go with `files`; its own failures
    // have their message.
    return status == 0 ? files.commit() : status;
}

DecodedText decode_ldif_text(std::string_view text, const Selection &selection, size_t piece) {
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
    Run m;
    m.select(selection);
    m.survey(pieces);
    DecodedText result;
    std::string value;
    const auto add = [&](const char *p, size_t n) {
        value.append(p, n);
        return true;
    };
    const auto end = [&](Kind kind) {
        if (result.values.empty() && result.kind == Kind::kNoValue) {
            result.kind = kind;
            if (kind != Kind::kMalformed) result.bytes = value;
        }
        if (kind != Kind::kMalformed) result.values.push_back(value);
        value.clear();
        return true;
    };
    result.second_pass_same = m.hand_on(pieces, 1, m.found.count, Target{kNothing, add, end}) == 0;
    return result;
}

}  // namespace kestrin::tool
