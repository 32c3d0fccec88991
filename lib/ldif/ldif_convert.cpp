// LDIF entries to EKVA records and record sets, and a record back to LDIF.
#include <fcntl.h>
#include <sys/stat.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <new>
#include <optional>

#include "util/guard_internal.h"
#include "codec/base64.h"
#include "ekva/ekva_internal.h"
#include "ldif/ldif.h"
#include "ldif/ldif_internal.h"
#include "util/alloc_internal.h"
#include "util/fd_internal.h"
#include "util/grow_internal.h"

namespace kestrin::ldif {
namespace {

constexpr int kRecordCapacity = 50;
constexpr int kSetCapacity = 50;

void report_unparsable_first_line() {
    message("ldif2ekva: failed to parse ldif buffer\n");
}

// Adds one parsed line to the record: bytes as base64 text under
// "<name>;binary", text as it is. False when memory ran out.
bool add_line(ekva::RecordBuilder &record, const Line &line, std::string &key, std::string &encoded) {
    if (line.name.empty()) return true;
    if (!line.binary) return record.append(line.name, &line.value);
    if (!line.base64.empty()) {  // already the encoding of the bytes
        key.assign(line.name);
        key += ";binary";
        return record.append(key, &line.base64);
    }
    if (line.value.empty()) return true;  // nothing to encode: no pair
    encoded.resize(base64_encoded_size(line.value.size()) + 1);
    const int n = base64_encode(reinterpret_cast<const unsigned char *>(line.value.data()), line.value.size(),
                                encoded.data(), encoded.size());
    if (n <= 0) return true;
    key.assign(line.name);
    key += ";binary";
    const std::string_view text(encoded.data(), static_cast<size_t>(n));
    return record.append(key, &text);
}

// A folded line joined in a block of its own. When the value to store is a
// view into the block, the record takes the block over as the value: a long
// folded value (a photo) is copied once, not joined and then copied again.
class JoinedLine {
public:
    JoinedLine() = default;
    JoinedLine(const JoinedLine &) = delete;
    JoinedLine &operator=(const JoinedLine &) = delete;
    ~JoinedLine() { std::free(data_); }

    // The logical line without its folds, in place of the line joined
    // before; false when memory ran out.
    bool join(const Extent &e) {
        std::free(data_);
        size_ = 0;
        const auto room = static_cast<size_t>(e.end - e.begin) + 1;
        data_ = static_cast<char *>(mem::allocate(room));
        if (!data_) return false;
        size_ = copy_unfolded(e, data_);
        return true;
    }
    std::string_view view() const { return {data_, size_}; }
    bool holds(std::string_view part) const {
        return data_ && part.data() >= data_ && part.data() + part.size() <= data_ + size_;
    }
    // part (a view into the block) as a NUL-terminated block of its own.
    char *take(std::string_view part) {
        std::memmove(data_, part.data(), part.size());
        data_[part.size()] = '\0';
        char *taken = data_;
        data_ = nullptr;
        size_ = 0;
        if (char *fitted = static_cast<char *>(std::realloc(taken, part.size() + 1))) taken = fitted;
        return taken;
    }

private:
    char *data_ = nullptr;
    size_t size_ = 0;
};

// add_line for a line parsed from joined: the record takes the joined block
// over when the value to store lies in it.
bool add_joined_line(ekva::RecordBuilder &record, const Line &line, JoinedLine &joined, std::string &key,
                     std::string &encoded) {
    if (line.name.empty()) return true;
    if (!line.binary && joined.holds(line.value)) {
        key.assign(line.name);
        return record.append_taking(key, joined.take(line.value));
    }
    if (!line.base64.empty() && joined.holds(line.base64)) {
        key.assign(line.name);
        key += ";binary";
        return record.append_taking(key, joined.take(line.base64));
    }
    return add_line(record, line, key, encoded);
}

// The next logical line at cursor, parsed as parse_line parses it.
Parsed next_line(const char *&cursor, Workspace &ws, JoinedLine &joined, Line &line) {
    if (!*cursor) return Parsed::kEnd;
    const Extent e = logical_line(cursor);
    cursor = e.next;
    if (!e.has_folds) return parse_joined({e.begin, static_cast<size_t>(e.end - e.begin)}, ws, line);
    if (!joined.join(e)) return Parsed::kFailed;
    return parse_joined(joined.view(), ws, line);
}

// Reads the commonest line, "name: value" unfolded, in a text without CRs,
// in one pass and without the general parser, which would read it the same
// way by the same rules. False, with cursor unchanged, for any other line: a
// comment, a line without a colon or with an empty name, a name with an
// option (the binary option among them), the base64 and URL forms, a folded
// line.
bool plain_line(const char *&cursor, std::string_view &name, std::string_view &value) {
    const char *colon = cursor;
    for (;; ++colon) {
        const char c = *colon;
        if (c == ':') break;
        if (c == '\n' || c == '\0' || c == ';') return false;
    }
    if (colon == cursor || is_comment_start(*cursor)) return false;
    const char *v = colon + 1;
    bool marked = false;
    marker_form(*v, marked);
    if (marked) return false;
    const char *lf = std::strchr(v, '\n');
    const char *end = lf ? lf : v + std::strlen(v);
    if (lf && continues(true, lf[1])) return false;  // folded
    while (v < end && is_fill(*v)) ++v;
    name = {cursor, static_cast<size_t>(colon - cursor)};
    value = {v, static_cast<size_t>(end - v)};
    cursor = lf ? lf + 1 : end;
    return true;
}

ekva_pair **to_record(const char *text) {
    ekva::RecordBuilder record(kRecordCapacity, EKVA_MULTI);
    if (!record.ok()) return nullptr;
    Workspace ws;
    ws.keep_base64 = true;
    const char *cursor = text ? text : "";
    ws.may_hold_cr = std::strchr(cursor, '\r') != nullptr;  // one pass, not one per line
    Line line;
    std::string key, encoded;
    // A later line that cannot be parsed ends the record quietly.
    JoinedLine joined;  // the last folded line, until the next one or a value takes it
    std::string_view name, value;
    for (bool first = true;; first = false) {
        if (!ws.may_hold_cr && plain_line(cursor, name, value)) {
            if (!record.append(name, &value)) return nullptr;
            continue;
        }
        if (next_line(cursor, ws, joined, line) != Parsed::kLine) {
            if (!first) break;
            report_unparsable_first_line();
            return nullptr;
        }
        if (!add_joined_line(record, line, joined, key, encoded)) return nullptr;
    }
    return record.release();
}

ekva_pair **to_record_or_null(const char *text) {
    return guarded<ekva_pair **>(nullptr, [&] { return to_record(text); });
}

// The position just after the last blank line (empty, or of CRs only) of
// buffer that ends at or after new_from; 0 when there is none. A blank line
// is never continued, so what follows it does not matter. Position 0 starts
// a line.
size_t last_entry_boundary(std::string_view buffer, size_t new_from) {
    for (size_t i = buffer.size(); i-- > std::max<size_t>(new_from, 1);) {
        if (buffer[i] != '\n') continue;
        // buffer[i] ends a line; is it blank? The LF before it ends a line
        // too, as the byte after that LF is no space.
        size_t start = i;
        while (start > 0 && buffer[start - 1] == '\r') --start;
        if (start > 0 && buffer[start - 1] == '\n') return i + 1;
    }
    return 0;
}

// The object-class filter: only the first objectClass value counts.
bool passes_filter(ekva_pair **record, const char *class_name) {
    if (!class_name) return true;
    const char *first = ekva_get(record, "objectClass");
    return !first || std::strcmp(first, class_name) == 0;
}

// Walks the entries of a NUL-terminated text as ldif_next_entry cuts them and
// converts each as ldif2ekva converts its entry text, straight from the text:
// no entry text is copied. Each converted, filtered record goes to
// store(record), which takes it over and returns false to stop the walk.
// Returns false when the walk was stopped.
template <class Store>
bool for_each_record(const char *cursor, const char *class_name, Store store) {
    if (!cursor) return true;
    Workspace ws;
    ws.keep_base64 = true;
    ws.may_hold_cr = std::strchr(cursor, '\r') != nullptr;
    Line line;
    std::string scratch, key, encoded;
    while (*cursor) {
        std::optional<ekva::RecordBuilder> record;
        bool adding = false, started = false;
        cursor = walk_entry(cursor, scratch, started, [&](std::string_view entry_line) {
            const bool first = !record;
            if (first) adding = record.emplace(kRecordCapacity, EKVA_MULTI).ok();
            if (!adding) return;
            // The entry line has its folds joined already; parsing it reads
            // the same line as parsing the text would.
            if (parse_joined(entry_line, ws, line) != Parsed::kLine) {
                // A bad first line drops the entry; a later one ends its pairs.
                if (first) {
                    report_unparsable_first_line();
                    ekva_free(record->release());
                }
                adding = false;
                return;
            }
            if (!add_line(*record, line, key, encoded)) {
                ekva_free(record->release());  // no memory: the entry is dropped
                adding = false;
            }
        });
        ekva_pair **built = started ? record->release() : nullptr;
        if (!built) continue;
        // An entry that yields no pair (its dn an empty base64 value or an
        // unreadable file) is not kept: the set would hold an empty record.
        if (ekva_count(built) == 0 || !passes_filter(built, class_name)) {
            ekva_free(built);
            continue;
        }
        if (!store(built)) return false;
    }
    return true;
}

// A growing byte buffer that is never zero-filled.
struct Buffer {
    char *data = nullptr;
    size_t size = 0, room = 0;
    Buffer() = default;
    Buffer(const Buffer &) = delete;
    Buffer &operator=(const Buffer &) = delete;
    ~Buffer() { std::free(data); }
    bool reserve(size_t want) {
        if (want <= room) return true;
        const size_t grown = std::max(want, room * 2);
        char *p = static_cast<char *>(mem::reallocate(data, grown));
        if (!p) return false;
        data = p;
        room = grown;
        return true;
    }
    std::string_view view() const { return {data, size}; }
};

// Feeds a file to walk(text) in NUL-terminated pieces that end just after a
// blank line, so that no piece cuts an entry or a line; memory holds one
// piece at a time. The file's text ends at its first NUL, as a text given
// in memory does: nothing after it is read. walk returns false to stop.
// Returns false when the file cannot be opened or a read fails.
// How much of a file to read at a time: 4 MiB, or less for a smaller
// regular file (its size and a byte more, so that one read finds the end),
// so that loading a small file does not take 4 MiB.
size_t piece_size(int fd) {
    constexpr size_t kMost = 4u << 20, kLeast = 64u << 10;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return kMost;
    return std::clamp(static_cast<size_t>(st.st_size) + 1, kLeast, kMost);
}

template <class Walk>
bool for_each_piece(const char *path, Walk walk) {
    const fd::Fd file(path ? ::open(path, O_RDONLY | O_CLOEXEC) : -1);
    if (file.get() < 0) return false;
    const size_t kPiece = piece_size(file.get());
    Buffer buffer;
    bool go = true, at_end = false;
    while (go && !at_end) {
        const size_t old = buffer.size;
        if (!buffer.reserve(old + kPiece + 1)) throw std::bad_alloc();
        const long got = fd::read_some(file.get(), buffer.data + old, kPiece);
        if (got < 0) return false;
        const auto *nul = static_cast<const char *>(std::memchr(buffer.data + old, '\0', static_cast<size_t>(got)));
        buffer.size = nul ? static_cast<size_t>(nul - buffer.data) : old + static_cast<size_t>(got);
        at_end = got == 0 || nul;
        const size_t cut = at_end ? buffer.size : last_entry_boundary(buffer.view(), old);
        if (cut == 0) continue;  // no blank line yet: read on
        const char kept = buffer.data[cut];
        buffer.data[cut] = '\0';
        go = walk(buffer.data);
        buffer.data[cut] = kept;
        std::memmove(buffer.data, buffer.data + cut, buffer.size - cut);
        buffer.size -= cut;
    }
    return true;
}

// The sinks of a load: store(record) takes the record over and returns false
// to stop the load; discard() takes back what the load stored; finish()
// gives the loader's result.

// Stores records in a set of its own, grown by index from 50; *set is
// written only when a record was stored.
class NewSet {
public:
    explicit NewSet(ekva_pair ****set) : set_(set) {}
    NewSet(const NewSet &) = delete;
    NewSet &operator=(const NewSet &) = delete;
    bool store(ekva_pair **record) {
        if (!grow::make_room(records_, count_, &capacity_)) {
            ekva_free(record);
            return false;  // no memory: the records stored so far stay
        }
        count_ = grow::store(records_, count_, record);
        return true;
    }
    void discard() {
        ekva_set_free(records_);
        records_ = nullptr;
        count_ = 0;
    }
    int finish() {
        if (count_ > 0) *set_ = records_;
        return count_;
    }

private:
    ekva_pair ****set_;
    ekva_pair ***records_ = nullptr;
    int count_ = 0, capacity_ = kSetCapacity;
};

// Pushes copies onto the caller's set, as ekva_set_push does.
class Appender {
public:
    Appender(ekva_pair ****set, int count, int *capacity) : set_(set), start_(count), count_(count), capacity_(capacity) {}
    Appender(const Appender &) = delete;
    Appender &operator=(const Appender &) = delete;
    bool store(ekva_pair **record) {
        const int before = count_;
        count_ = ekva_set_push(set_, record, count_, capacity_);
        ekva_free(record);
        return count_ != before;
    }
    // The set ends where it ended before the load.
    void discard() {
        if (!*set_) return;
        for (int i = start_; i < count_ && (*set_)[i]; ++i) ekva_free((*set_)[i]);
        if (start_ < count_) (*set_)[start_] = nullptr;
        count_ = start_;
    }
    int finish() const { return count_; }

private:
    ekva_pair ****set_;
    int start_, count_;
    int *capacity_;
};

// The sources of a load: feed() hands every converted, filtered record to
// store and returns false when the source could not be read.

struct TextSource {
    const char *text;
    template <class Store>
    bool feed(const char *class_name, Store store) const {
        for_each_record(text, class_name, store);
        return true;
    }
};

// A file is read piece by piece; it cannot be read when it cannot be opened
// or a read fails part way.
struct FileSource {
    const char *path;
    template <class Store>
    bool feed(const char *class_name, Store store) const {
        return for_each_piece(path, [&](const char *text) { return for_each_record(text, class_name, store); });
    }
};

// Loads the records of source into sink. A source that cannot be read loads
// nothing: the set and the count stay as they were. When memory runs out the
// records stored so far stay.
template <class Source, class Sink>
int load(const Source &source, const char *class_name, Sink sink) {
    // Out of memory part way counts as read: the records stored so far stay.
    const bool read =
        guarded(true, [&] { return source.feed(class_name, [&sink](ekva_pair **r) { return sink.store(r); }); });
    if (!read) sink.discard();
    return sink.finish();
}

char *to_ldif(ekva_pair **record, int width) {
    std::string text;
    auto write = [&text, width](const char *name, const char *value, int mode) {
        int count = 0;
        char *line =
            ldif_write_attr_wrap(nullptr, &count, name, value, static_cast<int>(std::strlen(value)), mode, width);
        if (!line) return;  // this line cannot be written: the rest still is
        text.append(line, static_cast<size_t>(count));
        std::free(line);
    };
    const char *dn = ekva_get(record, "dn");
    if (dn) write("dn", dn, LDIF_ENC_AUTO8);
    for (ekva_pair **p = ekva::entries_from_slot1(record); *p; ++p) {
        // The dn has been written first; no variant of its key is written again.
        if (dn && (*p)->key && strcasecmp((*p)->key, "dn") == 0) continue;
        if (!(*p)->value || !(*p)->key) continue;
        // The separator of a modify record's changes reads back as the pair
        // "-" with an empty value; it is written as the lone "-" again.
        if (std::strcmp((*p)->key, "-") == 0 && !*(*p)->value) {
            text += "-\n";
            continue;
        }
        write((*p)->key, (*p)->value, LDIF_ENC_AUTO);
    }
    return mem::duplicate(text);
}

}  // namespace
}  // namespace kestrin::ldif

using namespace kestrin;

extern "C" ekva_pair **ldif2ekva(const char *text, int length) noexcept {
    (void)length;  // the text is NUL-terminated; lines are found by scanning
    return ldif::to_record_or_null(text);
}

extern "C" int ldif2ekva_set(ekva_pair ****set, const char *text, const char *class_name) noexcept {
    if (!set) return 0;
    return ldif::load(ldif::TextSource{text}, class_name, ldif::NewSet(set));
}

extern "C" int ldif2ekva_set_append(ekva_pair ****set, const char *text, const char *class_name, int count,
                                    int *capacity) noexcept {
    if (!set) return count;
    return ldif::load(ldif::TextSource{text}, class_name, ldif::Appender(set, count, capacity));
}

extern "C" int ldif_file2ekva_set(ekva_pair ****set, const char *path, const char *class_name) noexcept {
    if (!set) return 0;
    return ldif::load(ldif::FileSource{path}, class_name, ldif::NewSet(set));
}

extern "C" int ldif_file2ekva_set_append(ekva_pair ****set, const char *path, const char *class_name, int count,
                                         int *capacity) noexcept {
    if (!set) return count;
    return ldif::load(ldif::FileSource{path}, class_name, ldif::Appender(set, count, capacity));
}

extern "C" char *ekva2ldif_wrap(ekva_pair **record, int width) noexcept {
    if (width < 0 || width == 1) {
        errno = EINVAL;
        return nullptr;
    }
    if (!record) return nullptr;
    return guarded<char *>(nullptr, [&] { return ldif::to_ldif(record, width); });
}

extern "C" char *ekva2ldif(ekva_pair **record) noexcept { return ekva2ldif_wrap(record, LDIF_DEFAULT_WIDTH); }
