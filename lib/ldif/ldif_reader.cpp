// The streaming reader (ldif_reader_*): a state machine over the bytes of
// the pieces, which applies the reading rules of ldif_internal.h byte by
// byte where a line crosses pieces and in runs (a memchr for each line end)
// where it does not. Names are gathered in a buffer of their own, values in
// another, which is handed out whenever it is full; a plain value of one
// physical line wholly inside a piece is handed out where it lies.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "codec/base64.h"
#include "ldif/ldif.h"
#include "ldif/ldif_internal.h"
#include "util/guard_internal.h"

namespace kestrin::ldif {
namespace {

constexpr size_t kDefaultRoom = size_t{64} << 10;
constexpr size_t kLeastRoom = 64;
constexpr char kBadBase64[] = "malformed base64 value";
constexpr char kLongName[] = "attribute description too long";

int form_code(Form f) {
    return f == Form::kBase64 ? LDIF_FORM_BASE64 : f == Form::kUrl ? LDIF_FORM_URL : LDIF_FORM_PLAIN;
}

}  // namespace

class StreamReader {
public:
    StreamReader(size_t room, bool groups)
        : room_(room), groups_(groups), name_(new char[room]), value_(new char[room]), text_(new char[room]) {}

    bool had_colon() const { return colon_; }

    int feed(const char *bytes, size_t len) {
        if (pos_ < size_ || ended_ || (len > 0 && !bytes)) return -1;
        if (len == 0) {
            ended_ = true;
            return 0;
        }
        in_ = bytes;
        size_ = len;
        pos_ = 0;
        lf_block_ = SIZE_MAX;
        return 0;
    }

    bool in_entry() const { return in_entry_; }

    int next(ldif_item &item) {
        item = ldif_item{};
        if (value_out_) {  // the last item handed the buffer out
            value_out_ = false;
            value_n_ = 0;
        }
        for (;;) {
            if (pos_ == size_) {
                if (!ended_) return LDIF_NEED_INPUT;
                return item.kind = finish(item);
            }
            int kind = LDIF_NEED_INPUT;
            switch (at_) {
                case At::kStart: kind = whole_line(item); break;
                case At::kName: kind = name(item); break;
                case At::kMarker: marker(); break;
                case At::kFill: fill(); break;
                case At::kValue: kind = value(item); break;
                case At::kSkip: skip(); break;
                case At::kBreak: kind = line_break(item); break;
            }
            if (kind != LDIF_NEED_INPUT) return item.kind = kind;
        }
    }

private:
    // Where the reader is in the logical line.
    enum class At : unsigned char {
        kStart,   // no text yet (a line of CRs only so far)
        kName,    // in the description
        kMarker,  // right after the ':'
        kFill,    // in the spaces after the marker
        kValue,   // in the value
        kSkip,    // in a comment, or in the rest of a malformed line
        kBreak    // after a LF: the next byte tells a fold from a new line
    };

    // ---- the states -------------------------------------------------------------

    // The commonest line lies wholly in the piece, its line end and the byte
    // after it too, holds no CR and is not folded: it is read in one go, by
    // the same rules, with its name and a plain value where they lie.
    // Anything else goes byte by byte through the states from start().
    int whole_line(ldif_item &item) {
        const char *p = in_ + pos_;
        const size_t stop = next_line_end(pos_);  // a LF, or a CR before it
        const char *lf = in_ + stop;
        if (stop + 1 >= size_ || stop == pos_ || *lf != '\n' || continues(true, lf[1])) {
            start();
            return LDIF_NEED_INPUT;
        }
        bool options = false;
        const char *colon = find_colon(p, lf, in_ + size_, options);
        if (is_comment_start(*p) || colon == lf || static_cast<size_t>(colon - p) > room_) {
            start();
            return LDIF_NEED_INPUT;
        }
        const std::string_view name(p, static_cast<size_t>(colon - p));
        bool marked = false;
        const char *v = colon + 1;
        const Form form = line_form(v < lf ? marker_form(*v, marked) : Form::kPlain, name, options);
        if (marked) ++v;
        while (v < lf && is_fill(*v)) ++v;
        if (groups_ || is_dn_name(name)) in_entry_ = true;
        colon_ = true;
        pos_ = stop + 1;
        ++lines_;
        item.name = name.data();
        item.name_len = name.size();
        item.form = form_code(form);
        item.line = line_;
        new_line();
        const auto text = static_cast<size_t>(lf - v);
        if (form != Form::kBase64) {
            item.value = v;
            item.value_len = text;
            return LDIF_ATTR;
        }
        if (text / 4 * 3 + 3 > room_) {  // a long value: through the states after all
            pos_ = static_cast<size_t>(p - in_);
            --lines_;
            line_ = item.line;
            start();
            return LDIF_NEED_INPUT;
        }
        // The whole text at once: base64_decode's reading, as in pieces.
        const int got = base64_decode_n(v, text, reinterpret_cast<unsigned char *>(value_.get()), room_);
        if (got < 0 || (got == 0 && text > 0)) {
            item.value = kBadBase64;
            item.value_len = sizeof kBadBase64 - 1;
            return LDIF_ERROR;
        }
        item.value = value_.get();
        item.value_len = static_cast<size_t>(got);
        value_out_ = true;
        return LDIF_ATTR;
    }

    // The first ':' in [p, end), or end, and whether a ';' (an option)
    // comes before it. Names are short: one 16-byte look finds both for
    // most (limit, past end, bounds what may be loaded), a loop the rest.
    static const char *find_colon(const char *p, const char *end, const char *limit, bool &options) {
#ifdef __SSE2__
        if (limit - p >= 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
            const auto colons = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(':'))));
            const auto at = static_cast<unsigned>(std::countr_zero(colons | 0x10000u));
            if (at < 16 && p + at <= end) {
                const auto semicolons =
                    static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8(';'))));
                options = (semicolons & ((1u << at) - 1)) != 0;
                return p + at;
            }
        }
#endif
        const char *colon = p;
        while (colon < end && *colon != ':') options |= *colon++ == ';';
        return colon;
    }

    // A CR (dropped) or a LF (the physical line ends, in state `was`) at
    // pos_: taken, and true.
    bool cr_or_lf(At was) {
        const char c = in_[pos_];
        if (dropped(c)) {
            ++pos_;
            return true;
        }
        if (c != '\n') return false;
        take_lf(was);
        return true;
    }

    void start() {
        if (cr_or_lf(At::kStart)) return;  // a LF here ends a blank line
        const char c = in_[pos_];
        has_text_ = true;
        if (is_comment_start(c)) {
            ++pos_;
            at_ = At::kSkip;
            return;
        }
        if (groups_) in_entry_ = true;
        at_ = At::kName;
    }

    int name(ldif_item &item) {
        while (pos_ < size_) {
            const char c = in_[pos_];
            if (c == '\n') {
                take_lf(At::kName);
                return LDIF_NEED_INPUT;
            }
            ++pos_;
            if (dropped(c)) continue;
            if (c == ':') {
                at_ = At::kMarker;
                if (is_dn_name(name_view())) in_entry_ = true;
                return LDIF_NEED_INPUT;
            }
            if (name_n_ == room_) return error(item, kLongName);
            name_[name_n_++] = c;
        }
        return LDIF_NEED_INPUT;
    }

    void marker() {
        if (cr_or_lf(At::kMarker)) return;
        const char c = in_[pos_];
        bool marked = false;
        form_ = line_form(marker_form(c, marked), name_view());
        if (marked) ++pos_;
        if (form_ == Form::kBase64) {
            base64_stream_init(&base64_, 0);
            decoded_ = 0;
        }
        at_ = At::kFill;
    }

    void fill() {
        while (pos_ < size_) {
            const char c = in_[pos_];
            if (c == '\n') {
                take_lf(At::kFill);
                return;
            }
            if (!is_fill(c) && !dropped(c)) {
                at_ = At::kValue;
                return;
            }
            ++pos_;
        }
    }

    void skip() {
        const auto *lf = static_cast<const char *>(std::memchr(in_ + pos_, '\n', size_ - pos_));
        if (!lf) {
            pos_ = size_;
            return;
        }
        pos_ = static_cast<size_t>(lf - in_);
        take_lf(At::kSkip);
    }

    // The LF at pos_ ends a physical line; the line was in state `was`.
    void take_lf(At was) {
        ++pos_;
        ++lines_;
        resume_ = was;
        at_ = At::kBreak;
    }

    // The byte after a LF: a fold goes on with the logical line, anything
    // else begins a new one, so the last one has ended.
    int line_break(ldif_item &item) {
        if (continues(has_text_, in_[pos_])) {
            ++pos_;
            at_ = resume_;
            return LDIF_NEED_INPUT;
        }
        at_ = resume_;
        const int kind = end_line(item);
        new_line();
        return kind;
    }

    // ---- values ---------------------------------------------------------------------

    int value(ldif_item &item) {
        if (form_ == Form::kBase64) return base64_value(item);
        if (value_n_ == 0 && !pieces_out_ && whole_in_piece(item)) return LDIF_ATTR;
        while (pos_ < size_) {
            const auto *lf = static_cast<const char *>(std::memchr(in_ + pos_, '\n', size_ - pos_));
            const size_t stop = lf ? static_cast<size_t>(lf - in_) : size_;
            // The bytes of this physical line, without CRs, as far as they fit.
            while (pos_ < stop) {
                if (value_n_ == room_) return piece(item);
                const size_t n = std::min(stop - pos_, room_ - value_n_);
                if (no_cr_before(pos_ + n)) {
                    std::memcpy(value_.get() + value_n_, in_ + pos_, n);
                    value_n_ += n;
                    pos_ += n;
                    continue;
                }
                for (const size_t end = pos_ + n; pos_ < end; ++pos_)
                    if (!dropped(in_[pos_])) value_[value_n_++] = in_[pos_];
            }
            if (!lf) return LDIF_NEED_INPUT;
            if (stop + 1 < size_ && continues(true, in_[stop + 1])) {  // a fold inside the piece
                pos_ = stop + 2;
                ++lines_;
                continue;
            }
            pos_ = stop;
            take_lf(At::kValue);
            return LDIF_NEED_INPUT;
        }
        return LDIF_NEED_INPUT;
    }

    // A plain or URL value of one physical line without CRs, whose LF and
    // the byte after it lie in the piece too: handed out where it is.
    bool whole_in_piece(ldif_item &item) {
        const auto *lf = static_cast<const char *>(std::memchr(in_ + pos_, '\n', size_ - pos_));
        if (!lf) return false;
        const auto stop = static_cast<size_t>(lf - in_);
        if (stop + 1 >= size_ || continues(true, in_[stop + 1]) || !no_cr_before(stop)) return false;
        attr(item, in_ + pos_, stop - pos_, false);
        pos_ = stop + 1;
        ++lines_;
        new_line();
        return true;
    }

    // base64 text goes to the decoder in long runs: the physical lines of
    // the value that lie in the piece are gathered without their folds
    // first, so that the codec's kernels see one unbroken text (a fold
    // inside a group would stop them at every line).
    int base64_value(ldif_item &item) {
        const size_t chunk = room_ - value_n_ < 7 ? 0 : std::min(room_, (room_ - value_n_ - 3) / 3 * 4);
        if (chunk == 0) return piece(item);
        size_t t = 0;
        bool at_lf = false;
        while (pos_ < size_ && t < chunk) {
            const auto *lf = static_cast<const char *>(std::memchr(in_ + pos_, '\n', size_ - pos_));
            const size_t stop = lf ? static_cast<size_t>(lf - in_) : size_;
            const size_t n = std::min(stop - pos_, chunk - t);
            std::memcpy(text_.get() + t, in_ + pos_, n);
            t += n;
            pos_ += n;
            if (pos_ < stop || !lf) break;
            if (stop + 1 < size_ && continues(true, in_[stop + 1])) {  // a fold inside the piece
                pos_ = stop + 2;
                ++lines_;
                continue;
            }
            at_lf = true;
            break;
        }
        const long got = base64_stream_decode(&base64_, text_.get(), t,
                                              reinterpret_cast<unsigned char *>(value_.get()) + value_n_,
                                              room_ - value_n_);
        if (got < 0) return error(item, kBadBase64);
        value_n_ += static_cast<size_t>(got);
        decoded_ += static_cast<size_t>(got);
        if (at_lf) take_lf(At::kValue);
        return LDIF_NEED_INPUT;
    }

    // ---- items ----------------------------------------------------------------------

    // The line has ended (at the byte after its LF, or at the end of the
    // input): the item it gives, if any.
    int end_line(ldif_item &item) {
        if (!has_text_) {  // a blank line
            if (!in_entry_) return LDIF_NEED_INPUT;
            in_entry_ = false;
            return LDIF_ENTRY_END;
        }
        switch (at_) {
            case At::kSkip: return LDIF_NEED_INPUT;
            case At::kName: form_ = Form::kPlain; break;  // a line without ':'
            case At::kMarker: form_ = line_form(Form::kPlain, name_view()); break;
            default: break;
        }
        if (form_ == Form::kBase64 && (at_ == At::kValue || at_ == At::kFill)) {
            const bool text = at_ == At::kValue;
            if (base64_stream_decode_end(&base64_) != 0 || (text && decoded_ == 0)) return error(item, kBadBase64);
        }
        attr(item, value_.get(), value_n_, false);
        value_out_ = true;
        return LDIF_ATTR;
    }

    // A full buffer of the value, more to come.
    int piece(ldif_item &item) {
        attr(item, value_.get(), value_n_, true);
        value_out_ = true;
        pieces_out_ = true;
        return LDIF_ATTR;
    }

    void attr(ldif_item &item, const char *bytes, size_t n, bool more) {
        colon_ = at_ != At::kName;
        item.name = name_.get();
        item.name_len = name_n_;
        item.form = form_code(form_);
        item.value = bytes;
        item.value_len = n;
        item.more = more ? 1 : 0;
        item.line = line_;
    }

    int error(ldif_item &item, const char *message) {
        item.name = name_.get();
        item.name_len = name_n_;
        item.value = message;
        item.value_len = std::strlen(message);
        item.line = line_;
        at_ = At::kSkip;
        value_n_ = 0;
        return LDIF_ERROR;
    }

    int finish(ldif_item &item) {
        if (at_ == At::kBreak) at_ = resume_;
        if (has_text_ || at_ != At::kStart) {
            const int kind = end_line(item);
            new_line();
            if (kind != LDIF_NEED_INPUT) return kind;
        }
        if (in_entry_) {
            in_entry_ = false;
            return LDIF_ENTRY_END;
        }
        return LDIF_END;
    }

    void new_line() {
        at_ = At::kStart;
        has_text_ = pieces_out_ = false;
        name_n_ = 0;
        form_ = Form::kPlain;
        line_ = lines_ + 1;
    }

    std::string_view name_view() const { return {name_.get(), name_n_}; }

    // The place of the first LF or CR at or after `from` in the piece (size_
    // when there is none). Lines are short: the LFs and CRs of 64 bytes at a
    // time are found at once, as the bits of a mask, and each line takes the
    // next bit.
    size_t next_line_end(size_t from) {
        for (;;) {
            if (from >= size_) return size_;
            const size_t block = from & ~size_t{63};
            if (block != lf_block_) {
                lf_block_ = block;
                lf_mask_ = end_bits(in_ + block, std::min<size_t>(64, size_ - block));
            }
            const uint64_t left = lf_mask_ >> (from - block);
            if (left) return from + static_cast<size_t>(std::countr_zero(left));
            from = block + 64;
        }
    }

    static uint64_t end_bits(const char *p, size_t n) {
        uint64_t bits = 0;
#ifdef __SSE2__
        if (n == 64) {
            const __m128i lf = _mm_set1_epi8('\n'), cr = _mm_set1_epi8('\r');
            for (int k = 0; k < 4; ++k) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * k));
                const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, cr));
                bits |= static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(hits))) << (16 * k);
            }
            return bits;
        }
#endif
        for (size_t i = 0; i < n; ++i) bits |= static_cast<uint64_t>(p[i] == '\n' || p[i] == '\r') << i;
        return bits;
    }

    // Whether no CR lies in the piece from pos_ to end.
    bool no_cr_before(size_t end) const { return !std::memchr(in_ + pos_, '\r', end - pos_); }

    const size_t room_;
    const bool groups_;  // every line with text, not only a dn line, opens an entry
    std::unique_ptr<char[]> name_, value_, text_;  // text_: base64 text gathered for the decoder
    size_t name_n_ = 0, value_n_ = 0;

    const char *in_ = nullptr;
    size_t size_ = 0, pos_ = 0;
    size_t lf_block_ = SIZE_MAX;  // the 64 bytes whose LFs and CRs lf_mask_ holds
    uint64_t lf_mask_ = 0;
    bool ended_ = false;

    At at_ = At::kStart, resume_ = At::kStart;
    Form form_ = Form::kPlain;
    bool has_text_ = false;
    bool in_entry_ = false;
    bool value_out_ = false;   // the last item handed out the value buffer
    bool pieces_out_ = false;  // a piece of this line's value has been handed out
    bool colon_ = true;        // the line of the last attribute item had a ':'
    base64_stream base64_{};
    size_t decoded_ = 0;       // bytes of this line's base64 value
    long lines_ = 0;           // physical lines ended so far
    long line_ = 1;            // where this logical line began
};

}  // namespace kestrin::ldif

struct ldif_reader {
    kestrin::ldif::StreamReader reader;
};

namespace kestrin::ldif {

size_t reader_room(size_t buffer_size) {
    return std::max(buffer_size == 0 ? kDefaultRoom : buffer_size, kLeastRoom);
}

ldif_reader *create_reader(size_t buffer_size, bool groups) {
    return guarded<ldif_reader *>(nullptr, [&] { return new ldif_reader{StreamReader(reader_room(buffer_size), groups)}; });
}

bool had_colon(const ldif_reader &reader) { return reader.reader.had_colon(); }

}  // namespace kestrin::ldif

extern "C" ldif_reader *ldif_reader_create(size_t buffer_size) noexcept {
    return kestrin::ldif::create_reader(buffer_size, false);
}

extern "C" int ldif_reader_feed(ldif_reader *reader, const char *bytes, size_t len) noexcept {
    return reader ? reader->reader.feed(bytes, len) : -1;
}

extern "C" int ldif_reader_next(ldif_reader *reader, ldif_item *item) noexcept {
    if (!reader || !item) return LDIF_END;
    return reader->reader.next(*item);
}

extern "C" int ldif_reader_in_entry(const ldif_reader *reader) noexcept {
    return reader && reader->reader.in_entry() ? 1 : 0;
}

extern "C" void ldif_reader_free(ldif_reader *reader) noexcept { delete reader; }
