// The tool's run in bounded memory: see stream.h.
#include "stream.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "codec/base64.h"
#include "decode.h"
#include "input.h"
#include "io.h"
#include "ldif/ldif.h"
#include "split.h"
// The writer's own pieces (the name check, the safe-string decision, the
// line head and the folding), which this module feeds a value too large to
// hold one part at a time. They have no C form: the library's C interface
// writes a line from a value held whole (ldif_write_attr), and the tool,
// built and shipped with the library and linked to it statically, reuses
// them rather than restating the writer's rules.
#include "ldif/ldif_write_internal.h"

namespace kestrin::tool {
namespace {

constexpr size_t kEncodeBytes = 49152;            // bytes base64-encoded at a time
constexpr size_t kOutput = size_t{256} << 10;     // characters buffered before a write

using Pass = Input::Pass;

// ---- the line -------------------------------------------------------------------

// Collects the line in a buffer, folded as it goes, and writes the buffer to
// the descriptor whenever it is full.
class Sink {
public:
    // head: characters of the line's name and marker, which the first fold
    // never comes before.
    Sink(int fd, size_t capacity, size_t width, size_t head)
        : fd_(fd), capacity_(capacity), buffer_(std::make_unique_for_overwrite<char[]>(capacity)), folder_(width, head) {}

    // The next characters of the unfolded line; with keep_utf8 no fold
    // falls inside a well-formed UTF-8 sequence.
    void text(std::string_view t, bool keep_utf8 = false) {
        while (!t.empty() && !failed_) {
            const size_t room = capacity_ - used_;
            size_t n = t.size();
            if (folder_.most_room(n) > room) n = folder_.fits(room);
            if (n == 0) {
                flush();
                continue;
            }
            used_ = static_cast<size_t>(folder_.put(t.substr(0, n), buffer_.get() + used_, keep_utf8) - buffer_.get());
            t.remove_prefix(n);
        }
    }

    void end_line() {
        if (folder_.most_room(0) + 1 > capacity_ - used_) flush();
        used_ = static_cast<size_t>(folder_.finish(buffer_.get() + used_) - buffer_.get());
        buffer_[used_++] = '\n';
    }

    void flush() {
        if (failed_) return;
        written_ += used_;
        if (fd_ >= 0 && !write_full(fd_, buffer_.get(), used_)) {
            failed_ = true;
            error_ = errno;
        }
        used_ = 0;
    }

    bool failed() const { return failed_; }
    int error() const { return error_; }
    // Characters flushed so far (all that a sink without a descriptor does).
    size_t written() const { return written_; }

private:
    int fd_;  // -1: the line is only counted
    size_t written_ = 0;
    size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    bool failed_ = false;
    int error_ = 0;
    ldif::Folder folder_;
};

// base64 text of bytes that arrive in pieces, handed to the sink.
class Base64Writer {
public:
    explicit Base64Writer(Sink &sink) : sink_(sink), text_(std::make_unique_for_overwrite<char[]>(kTextRoom)) {
        base64_stream_init(&stream_, 0);
    }

    void feed(const unsigned char *p, size_t n) {
        while (n > 0) {
            const size_t k = std::min(n, kEncodeBytes);
            put(base64_stream_encode(&stream_, p, k, text_.get(), kTextRoom));
            p += k;
            n -= k;
        }
    }

    void finish() { put(base64_stream_encode_end(&stream_, text_.get(), kTextRoom)); }

private:
    static constexpr size_t kTextRoom = (kEncodeBytes + 2) / 3 * 4;

    void put(long chars) {
        if (chars > 0) sink_.text({text_.get(), static_cast<size_t>(chars)});
    }

    Sink &sink_;
    std::unique_ptr<char[]> text_;
    base64_stream stream_;
};

// base64 text that arrives in pieces, decoded as base64_decode decodes the
// whole text (white space skipped anywhere).
class Base64Reader {
public:
    Base64Reader() { base64_stream_init(&stream_, 0); }
    // Decodes the next piece into out (room for n / 4 * 3 + 3 bytes), or
    // only validates it when out is null: the bytes decoded.
    size_t feed(const char *p, size_t n, unsigned char *out) {
        const long got = base64_stream_decode(&stream_, p, n, out, out ? n / 4 * 3 + 3 : 0);
        failed_ = failed_ || got < 0;
        return got < 0 ? 0 : static_cast<size_t>(got);
    }
    bool failed() const { return failed_; }
    // After the last piece: whether the whole text was valid.
    bool finish() { return !failed_ && base64_stream_decode_end(&stream_) == 0; }

private:
    base64_stream stream_;
    bool failed_ = false;
};

int value_too_large() {
    std::fputs("Value too large: the LDIF text would be 2 GiB or more\n", stderr);
    return 1;
}

}  // namespace

struct Stream::Impl {
    std::string attr, path;
    Source source = Source::kStdin;
    bool decode = false, base64 = false;
    size_t width = LDIF_DEFAULT_WIDTH;
    bool utf8 = false;
    bool ldif_decode = false;
    LdifValue ldif_value;  // the way back (-d)
    std::string split_prefix, split_suffix;
    Input input;
    size_t value_len = 0;  // bytes of the value (decoded, with -b)
    ldif::LineHead head;
    size_t total = 0;  // characters of the line

    void input_failed() const {
        if (source == Source::kFile)
            std::fprintf(stderr, "Could not read infile<%s>: %s\n", path.c_str(), std::strerror(errno));
        else
            std::fprintf(stderr, "Could not read standard input: %s\n", std::strerror(errno));
    }

    bool acquire(const Request &request) {
        switch (request.source) {
            case Source::kString: return input.take_string(request.string) == 0;
            case Source::kFile: return input.take_file(request.path.c_str()) == 0;
            case Source::kStdin: break;
        }
        return input.take_stdin() == 0;
    }

    std::unique_ptr<unsigned char[]> decode_buffer() const {
        return decode ? std::make_unique_for_overwrite<unsigned char[]>(input.piece_size() / 4 * 3 + 3) : nullptr;
    }

    // The first pass: reads everything, validates the base64 text and makes
    // the safe-string decision. Returns the exit status of a failure, or 0.
    int analyse(bool &unsafe) {
        ldif::SafeScan scan(utf8 ? ldif::HighBytes::kUtf8 : ldif::HighBytes::kUnsafe);
        Base64Reader decoder;
        const auto decoded = decode_buffer();
        value_len = 0;
        const Pass pass = input.each_piece([&](char *p, size_t n) {
            if (!decode) {
                if (!base64) scan.feed({p, n});
                return true;
            }
            // Once the value is known to go out in base64 its bytes are not
            // needed here, only the text's validity.
            const bool scanning = !base64 && !scan.base64();
            const size_t got = decoder.feed(p, n, scanning ? decoded.get() : nullptr);
            if (scanning) scan.feed({reinterpret_cast<const char *>(decoded.get()), got});
            value_len += got;
            // A file in place is still read to its end: a read error there
            // is reported before any decoding error.
            return !(decoder.failed() && input.fully_read());
        });
        if (pass == Pass::kReadFailed) {
            input_failed();
            return 1;
        }
        input.skip_to_end();
        if (!decode) {
            value_len = input.size();
        } else if (!decoder.finish() || value_len == 0) {
            std::fprintf(stderr, "Failed to base64-decode input(%d,%d)!\n", static_cast<int>(input.size()),
                         decoder.finish() ? 0 : -1);
            return 1;
        }
        scan.finish();
        unsafe = scan.base64();
        return 0;
    }

    // Makes sure that writing to fd cannot change the input.
    bool detach(int fd) {
        if (!input.shares_file(fd) || input.spool_copy() == 0) return true;
        input_failed();
        return false;
    }

    // Characters of the line for an undecoded value of the input's size,
    // before its bytes are known: those of the base64 line when base64 is
    // asked for, else of the plain line, the shortest it can be.
    size_t shortest_line() const {
        const size_t head_size = attr.size() + (base64 ? 3 : 2);
        const size_t text = base64 ? base64_encoded_size(input.size()) : input.size();
        return ldif::folded_length(head_size + text, head_size, width);
    }

    // Characters of the line. With -u the folds of a plain value depend on
    // its bytes: a bound comes first, and only when that is past the limit
    // is the line laid out, without being written, to count them.
    size_t line_length() {
        const size_t text = base64 ? base64_encoded_size(value_len) : value_len;
        if (base64 || !utf8) return ldif::folded_length(head.size() + text, head.size(), width);
        const size_t bound = ldif::Folder(width, head.size()).most_room(head.size() + text) + 1;
        if (bound <= INT_MAX) return bound;
        Sink counter(-1, kOutput, width, head.size());
        counter.text(head.name);
        counter.text(head.marker);
        put_value(counter);  // an input changed by now fails the second pass
        counter.end_line();
        counter.flush();
        return counter.written();
    }

    // The second pass: the line itself.
    Written write(int fd) {
        if (!detach(fd)) return Written::kInputFailed;
        if (ldif_decode) {
            const Written written = ldif_value.write(input, fd);
            if (written == Written::kInputFailed) input_failed();
            return written;
        }
        Sink sink(fd, std::max<size_t>(std::min(total, kOutput), 4096), width, head.size());
        sink.text(head.name);
        sink.text(head.marker);
        const bool same = put_value(sink);
        if (sink.failed()) return output_failed(sink);
        if (!same) {
            input_failed();
            return Written::kInputFailed;
        }
        sink.end_line();
        sink.flush();
        return sink.failed() ? output_failed(sink) : Written::kOk;
    }

    static Written output_failed(const Sink &sink) {
        errno = sink.error();
        return Written::kOutputFailed;
    }

    // Whether the second pass saw the value of the first; errno tells when
    // not: the read's error, or EIO for an input that changed in between.
    static bool same_input(Pass pass, bool same) {
        if (pass == Pass::kReadFailed) return false;
        if (pass != Pass::kDone || !same) {
            errno = EIO;
            return false;
        }
        return true;
    }

    // The value's text: the bytes as they are, or their base64 form.
    bool put_value(Sink &sink) {
        Base64Writer encoder(sink);
        Base64Reader decoder;
        const auto decoded = decode_buffer();
        size_t seen = 0;
        const auto put = [&](const char *p, size_t n) {
            seen += n;
            if (base64)
                encoder.feed(reinterpret_cast<const unsigned char *>(p), n);
            else
                sink.text({p, n}, utf8);
            return !sink.failed();
        };
        const Pass pass = input.each_piece([&](char *p, size_t n) {
            if (!decode) return put(p, n);
            const size_t got = decoder.feed(p, n, decoded.get());
            return !decoder.failed() && put(reinterpret_cast<const char *>(decoded.get()), got);
        });
        if (base64) encoder.finish();
        return same_input(pass, (!decode || decoder.finish()) && seen == value_len);
    }
};

Stream::Stream() : impl_(std::make_unique<Impl>()) {}
Stream::~Stream() = default;

int Stream::prepare(const Request &request) {
    Impl &s = *impl_;
    s.attr = request.attr;
    s.path = request.path;
    s.source = request.source;
    s.decode = request.decode;
    s.base64 = request.base64 || ldif::has_option(request.attr, "binary");
    s.width = static_cast<size_t>(request.wrap);
    s.utf8 = request.utf8;
    s.ldif_decode = request.ldif_decode;
    if (!s.acquire(request)) {
        s.input_failed();
        return 1;
    }
    if (s.ldif_decode) {
        s.split_prefix = request.split_prefix;
        s.split_suffix = request.split_suffix;
        const int status =
            s.ldif_value.prepare(s.input, Selection{request.attr, request.dn, request.values, request.terminator});
        if (status != LdifValue::kReadFailed) return status;
        s.input_failed();
        return 1;
    }
    if (request.strip_newline && !s.input.drop_final_newline()) {
        s.input_failed();
        return 1;
    }
    if (s.input.size() == 0) return 1;
    // A line that would pass the limit whatever the value holds is refused
    // before the value is read.
    if (!s.decode && s.shortest_line() > INT_MAX) return value_too_large();

    bool unsafe = false;
    if (s.decode || !s.base64 || !s.input.fully_read()) {
        if (const int status = s.analyse(unsafe)) return status;
    } else {
        s.value_len = s.input.size();
    }

    if (ldif::name_refused(s.attr)) {
        std::fputs("Failed to write ldif buffer\n", stderr);
        return 1;
    }
    s.base64 = s.base64 || unsafe;
    // The name is an attribute description and printed as given, options
    // and all ("userCertificate;binary:: ...").
    s.head = {s.attr, {}, s.base64 ? ":: " : ": "};
    s.total = s.line_length();
    if (s.total > INT_MAX) return value_too_large();
    return 0;
}

bool attr_refused(std::string_view attr) { return ldif::name_refused(attr); }

size_t Stream::size() const { return impl_->ldif_decode ? impl_->ldif_value.size() : impl_->total; }

bool Stream::detach(int fd) { return impl_->detach(fd); }

Written Stream::write(int fd) { return impl_->write(fd); }

int Stream::write_files() {
    Impl &s = *impl_;
    SplitFiles files(s.split_prefix, s.split_suffix);
    const int status = s.ldif_value.write_files(s.input, files);
    if (status != LdifValue::kReadFailed) return status;
    s.input_failed();
    return 1;
}

}  // namespace kestrin::tool
