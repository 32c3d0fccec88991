// The record reader (ldif_record_reader_*): a state machine over the items
// of a streaming reader that opens a group at every line with text, so that
// each group (the lines up to a blank line) is one record, or lines without
// a dn. Values of attribute lines pass through as the streaming reader
// hands them out, in pieces; the lines that give a record its structure
// (the dn, controls, the changetype, the modification lines, newrdn, ...)
// are held whole in buffers of the reader's size.
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>

#include "codec/base64.h"
#include "ldif/ldif.h"
#include "ldif/ldif_internal.h"
#include "ldif/ldif_record_internal.h"
#include "util/guard_internal.h"

namespace kestrin::ldif {
namespace {

using record::is_word;

constexpr char kNoColon[] = "line without a colon";
constexpr char kValuesInDelete[] = "values in a delete record";
constexpr char kNoModification[] = "expected add:, delete:, replace: or increment:";

// What a held line is.
enum class Held : unsigned char { kVersion, kDn, kControl, kChangetype, kPart, kNewrdn, kDeleteoldrdn, kNewsuperior };

// A control as it is kept until the record's change type is known: a
// header of kHeldHeader bytes (the lengths of the OID and the value, the
// line, the form and flags), then the OID's bytes, then the value's.
struct HeldControl {
    uint32_t oid_len, value_len;
    long line;
    unsigned char form;
    bool critical, has_value;
};
constexpr size_t kHeldHeader = 2 * sizeof(uint32_t) + sizeof(long) + 1;

void put_header(char *at, const HeldControl &h) {
    std::memcpy(at, &h.oid_len, 4);
    std::memcpy(at + 4, &h.value_len, 4);
    std::memcpy(at + 8, &h.line, sizeof(long));
    at[8 + sizeof(long)] = static_cast<char>(h.form | (h.critical ? 4 : 0) | (h.has_value ? 8 : 0));
}

HeldControl get_header(const char *at) {
    HeldControl h{};
    std::memcpy(&h.oid_len, at, 4);
    std::memcpy(&h.value_len, at + 4, 4);
    std::memcpy(&h.line, at + 8, sizeof(long));
    const auto flags = static_cast<unsigned char>(at[8 + sizeof(long)]);
    h.form = flags & 3;
    h.critical = (flags & 4) != 0;
    h.has_value = (flags & 8) != 0;
    return h;
}

// Whether n bytes at a and b are the same: names are short, and compared
// eight bytes at a time (two overlapping loads for 8 to 16) before a call.
bool same_bytes(const char *a, const char *b, size_t n) {
    if (n < 8 || n > 16) return std::memcmp(a, b, n) == 0;
    uint64_t a0, a1, b0, b1;
    std::memcpy(&a0, a, 8);
    std::memcpy(&b0, b, 8);
    std::memcpy(&a1, a + n - 8, 8);
    std::memcpy(&b1, b + n - 8, 8);
    return ((a0 ^ b0) | (a1 ^ b1)) == 0;
}

// The message of a name that only the head of a record may hold, or null.
const char *misplaced(std::string_view name) {
    if (!record::structural_name(name)) return nullptr;
    if (is_word(name, record::kChangetype)) return "changetype must follow the dn and the controls";
    if (is_word(name, record::kControl)) return "control must follow the dn";
    return "second dn in the record";
}

}  // namespace

class RecordReader {
public:
    explicit RecordReader(size_t buffer_size)
        : room_(reader_room(buffer_size)), base_(create_reader(room_, true)), store_(new char[4 * room_]) {
        if (!base_) throw std::bad_alloc();
    }
    ~RecordReader() { ldif_reader_free(base_); }
    RecordReader(const RecordReader &) = delete;
    RecordReader &operator=(const RecordReader &) = delete;

    int feed(const char *bytes, size_t len) { return ldif_reader_feed(base_, bytes, len); }

    // The items a base item gives go out as they come: the first into the
    // caller's item, any more (two at most) into the queue.
    int next(ldif_record_item &out) {
        for (;;) {
            if (controls_left_ > 0) return control(out);
            if (queued_ > 0) {
                out = queue_[head_++];
                --queued_;
                return handed(out);
            }
            head_ = 0;
            if (done_) return empty(out, LDIF_REC_DONE);
            ldif_item it;
            const int base = ldif_reader_next(base_, &it);
            out_ = &out;
            emitted_ = false;
            if (base == LDIF_ATTR && in_ == In::kAttrs && !passing_ && !holding_ && plain_attr(it, out)) return out.kind;
            switch (base) {
                case LDIF_NEED_INPUT: return empty(out, LDIF_REC_NEED_INPUT);
                case LDIF_ATTR: line(it); break;
                case LDIF_ERROR:
                    if (in_ != In::kSkip) fail(it.line, it.value);
                    first_group_ = false;
                    break;
                case LDIF_ENTRY_END: group_end(); break;
                default: done_ = true; break;
            }
            if (emitted_) return handed(out);
        }
    }

private:
    static int empty(ldif_record_item &out, int kind) {
        out = ldif_record_item{};
        return out.kind = kind;
    }

    // An item goes out; after a change record's BEGIN come its controls.
    int handed(const ldif_record_item &out) {
        if (out.kind == LDIF_REC_BEGIN) {
            controls_left_ = control_count_;
            control_at_ = 0;
        }
        return out.kind;
    }

    // Where the reader is in a record.
    enum class In : unsigned char {
        kOutside,      // no record open
        kVersion,      // after the version line before the first record
        kHead,         // after the dn and any controls: the next line tells the kind
        kAttrs,        // the attribute lines of an entry or an add record
        kDelete,       // after "changetype: delete"
        kModify,       // where a modification begins
        kPart,         // in a modification
        kNewrdn,       // modrdn: newrdn next
        kDeleteoldrdn,
        kNewsuperior,  // modrdn: newsuperior or the end
        kModrdnDone,
        kSkip          // the rest of a record given up
    };

    char *dn_buffer() const { return store_.get(); }
    char *part_buffer() const { return store_.get() + room_; }
    char *hold_buffer() const { return store_.get() + 2 * room_; }
    char *controls_buffer() const { return store_.get() + 3 * room_; }

    // ---- lines -----------------------------------------------------------------

    void line(const ldif_item &it) {
        if (passing_) {  // the next piece of a value
            pass(it);
            return;
        }
        if (holding_) {
            hold_piece(it);
            return;
        }
        last_line_ = it.line;
        const std::string_view name(it.name, it.name_len);
        const bool colon = had_colon(*base_);
        const bool first = first_group_;
        first_group_ = false;
        switch (in_) {
            case In::kOutside:
                if (first && colon && is_word(name, "version")) return hold(it, Held::kVersion, hold_buffer());
                [[fallthrough]];
            case In::kVersion:
                if (!colon || !is_word(name, record::kDn)) return fail(it.line, "record without a dn");
                record_line_ = it.line;
                return hold(it, Held::kDn, dn_buffer());
            case In::kHead: return head_line(it, name, colon);
            case In::kAttrs:
                if (attr_line(it, name, colon)) push_value(it);
                return;
            case In::kDelete: return fail(it.line, colon ? misplaced_or(name, kValuesInDelete) : kValuesInDelete);
            case In::kModify: return modification(it, name, colon);
            case In::kPart: return part_line(it, name, colon);
            case In::kNewrdn: return modrdn_line(it, name, colon, "newrdn", Held::kNewrdn, "modrdn without newrdn");
            case In::kDeleteoldrdn:
                return modrdn_line(it, name, colon, "deleteoldrdn", Held::kDeleteoldrdn, "modrdn without deleteoldrdn");
            case In::kNewsuperior:
                return modrdn_line(it, name, colon, "newsuperior", Held::kNewsuperior, nullptr);
            case In::kModrdnDone: return modrdn_line(it, name, colon, nullptr, Held::kNewsuperior, nullptr);
            case In::kSkip: return;
        }
    }

    static const char *misplaced_or(std::string_view name, const char *otherwise) {
        const char *m = misplaced(name);
        return m ? m : otherwise;
    }

    // The line after the dn and any controls.
    void head_line(const ldif_item &it, std::string_view name, bool colon) {
        if (colon && is_word(name, record::kControl)) return hold(it, Held::kControl, hold_buffer());
        if (colon && is_word(name, record::kChangetype)) return hold(it, Held::kChangetype, hold_buffer());
        if (control_count_ > 0) return fail(it.line, "controls without a changetype");
        if (!attr_line(it, name, colon)) return;
        begin(LDIF_CHANGE_NONE, In::kAttrs);
        push_value(it);
    }

    // The commonest line, an attribute line of an entry or add record with
    // a sound description, given as its VALUE at once (false: any other).
    bool plain_attr(const ldif_item &it, ldif_record_item &out) {
        const std::string_view name(it.name, it.name_len);
        if (record::structural_name(name) || !sound_description(name) || !had_colon(*base_)) return false;
        last_line_ = it.line;
        ++attrs_;
        passing_ = it.more != 0;
        out = {LDIF_REC_VALUE, 0, 0, 0, it.name, it.name_len, it.value, it.value_len, it.form, it.more, it.line};
        return true;
    }

    // valid_description, remembered for the description last found sound at
    // each place in a record: records of one file mostly name the same
    // attributes in the same order.
    bool sound_description(std::string_view name) {
        Known &k = known_[attrs_ % kKnown];
        if (name.size() == k.n && same_bytes(name.data(), k.bytes, k.n)) return true;
        if (!record::valid_description(name)) return false;
        if (name.size() <= sizeof k.bytes) {
            std::memcpy(k.bytes, name.data(), name.size());
            k.n = name.size();
        }
        return true;
    }

    // Whether an attribute line of an entry or add record is sound (else
    // the record fails).
    bool attr_line(const ldif_item &it, std::string_view name, bool colon) {
        const char *m = colon ? misplaced(name) : kNoColon;
        if (!m && !sound_description(name)) m = "invalid attribute description <%s>";
        if (m) {
            fail(it.line, m, name);
            return false;
        }
        ++attrs_;
        return true;
    }

    // Where a modification begins.
    void modification(const ldif_item &it, std::string_view name, bool colon) {
        const auto op = colon ? record::op_named(name) : std::nullopt;
        if (!op) return fail(it.line, colon ? misplaced_or(name, kNoModification) : kNoModification);
        op_ = *op;
        hold(it, Held::kPart, part_buffer());
    }

    void part_line(const ldif_item &it, std::string_view name, bool colon) {
        if (!colon && name == "-") {
            if (!end_part(it.line)) return;
            push(LDIF_REC_MOD_END, it.line);
            in_ = In::kModify;
            return;
        }
        const std::string_view part(part_buffer(), part_n_);
        if (colon && same_ignoring_case(name, part)) {
            ++values_;
            push_value(it);
            return;
        }
        if (!colon) return fail(it.line, kNoColon);
        if (const char *m = misplaced(name)) return fail(it.line, m);
        if (record::op_named(name)) return fail(it.line, "missing '-' before the next modification");
        fail(it.line, "value of <%s> in a part for <%s>", name, part);
    }

    // A line of a modrdn record: the one named `want` (none: only
    // unexpected lines are left), else the message `missing` (null: the
    // line is unexpected).
    void modrdn_line(const ldif_item &it, std::string_view name, bool colon, const char *want, Held held,
                     const char *missing) {
        if (want && colon && is_word(name, want)) return hold(it, held, hold_buffer());
        if (const char *m = colon ? misplaced(name) : nullptr) return fail(it.line, m);
        fail(it.line, missing ? missing : "unexpected <%s> in a modrdn record", name);
    }

    // Whether the modification may end here (an increment has exactly one
    // value); else the record fails.
    bool end_part(long line) {
        if (op_ != LDIF_MOD_INCREMENT || values_ == 1) return true;
        fail(line, "increment takes exactly one value");
        return false;
    }

    // ---- held lines --------------------------------------------------------------

    // Starts holding the value of a line of the structure in `to`.
    void hold(const ldif_item &it, Held what, char *to) {
        if (it.form == LDIF_FORM_URL) return fail(it.line, "<%s> cannot be a file reference", {it.name, it.name_len});
        held_ = what;
        hold_to_ = to;
        hold_n_ = 0;
        hold_line_ = it.line;
        holding_ = true;
        hold_piece(it);
    }

    void hold_piece(const ldif_item &it) {
        if (it.value_len > room_ - hold_n_) return fail(hold_line_, "<%s> too long", held_word());
        if (it.value_len > 0) std::memcpy(hold_to_ + hold_n_, it.value, it.value_len);
        hold_n_ += it.value_len;
        if (it.more) return;
        holding_ = false;
        held();
    }

    // The name of the held line, in lower case.
    std::string_view held_word() const {
        static constexpr std::string_view kWords[] = {"version", "dn", "control", "changetype", "", "newrdn",
                                                      "deleteoldrdn", "newsuperior"};
        return held_ == Held::kPart ? record::op_word(op_) : kWords[static_cast<size_t>(held_)];
    }

    // A held line is whole.
    void held() {
        const std::string_view text(hold_to_, hold_n_);
        switch (held_) {
            case Held::kVersion:
                if (text != "1") return fail(hold_line_, "unsupported version <%s>", text);
                in_ = In::kVersion;
                return;
            case Held::kDn:
                dn_n_ = hold_n_;
                control_count_ = controls_n_ = attrs_ = 0;
                in_ = In::kHead;
                return;
            case Held::kControl: return keep_control(text);
            case Held::kChangetype: {
                const auto change = record::change_named(text);
                if (!change) return fail(hold_line_, "unknown change type <%s>", text);
                static constexpr In kBody[] = {In::kAttrs, In::kAttrs, In::kDelete, In::kModify, In::kNewrdn};
                return begin(*change, kBody[static_cast<size_t>(*change)]);
            }
            case Held::kPart:
                part_n_ = hold_n_;
                if (!record::valid_description(text)) return fail(hold_line_, "invalid attribute description <%s>", text);
                values_ = 0;
                in_ = In::kPart;
                return push_part();
            case Held::kNewrdn:
                push_bytes(LDIF_REC_NEWRDN, text);
                in_ = In::kDeleteoldrdn;
                return;
            case Held::kDeleteoldrdn:
                if (text != "0" && text != "1") return fail(hold_line_, "deleteoldrdn must be 0 or 1");
                push(LDIF_REC_DELETEOLDRDN, hold_line_).flag = text == "1";
                in_ = In::kNewsuperior;
                return;
            case Held::kNewsuperior:
                push_bytes(LDIF_REC_NEWSUPERIOR, text);
                in_ = In::kModrdnDone;
                return;
        }
    }

    // A control line: checked, its value decoded, and kept after the others.
    void keep_control(std::string_view text) {
        const auto c = record::parse_control(text);
        if (!c) return fail(hold_line_, "malformed control");
        // (The OID and the value are parts of a held line: both shorter than
        // the buffer, so their lengths fit.)
        const size_t at = controls_n_ + kHeldHeader + c->oid.size();
        if (at > room_ || c->value.size() > room_ - at) return fail(hold_line_, "controls too long");
        char *out = controls_buffer();
        HeldControl h{static_cast<uint32_t>(c->oid.size()), static_cast<uint32_t>(c->value.size()), hold_line_,
                      LDIF_FORM_PLAIN, c->critical, c->has_value};
        if (c->form == Form::kBase64) {
            const int got = base64_decode_n(c->value.data(), c->value.size(),
                                            reinterpret_cast<unsigned char *>(out + at), room_ - at);
            if (got < 0 || (got == 0 && !c->value.empty())) return fail(hold_line_, "malformed control");
            h.value_len = static_cast<uint32_t>(got);
            h.form = LDIF_FORM_BASE64;
        } else {
            if (!c->value.empty()) std::memcpy(out + at, c->value.data(), c->value.size());
            h.form = c->form == Form::kUrl ? LDIF_FORM_URL : LDIF_FORM_PLAIN;
        }
        put_header(out + controls_n_, h);
        std::memcpy(out + controls_n_ + kHeldHeader, c->oid.data(), c->oid.size());
        controls_n_ = at + h.value_len;
        ++control_count_;
    }

    // The next kept control, after the record's BEGIN.
    int control(ldif_record_item &out) {
        const char *at = controls_buffer() + control_at_;
        const HeldControl h = get_header(at);
        out = ldif_record_item{};
        out.kind = LDIF_REC_CONTROL;
        out.name = at + kHeldHeader;
        out.name_len = h.oid_len;
        out.flag = h.critical ? 1 : 0;
        out.value = h.has_value ? at + kHeldHeader + h.oid_len : nullptr;
        out.value_len = h.value_len;
        out.form = h.form;
        out.line = h.line;
        control_at_ += kHeldHeader + h.oid_len + h.value_len;
        --controls_left_;
        return out.kind;
    }

    // ---- groups ------------------------------------------------------------------

    // A blank line, or the end of the input, ends the group.
    void group_end() {
        switch (in_) {
            case In::kHead:
                fail(last_line_, control_count_ > 0 ? "controls without a changetype" : "record without attributes");
                break;
            case In::kAttrs:
                if (attrs_ == 0) {
                    fail(last_line_, "record without attributes");
                    break;
                }
                [[fallthrough]];
            case In::kDelete:
            case In::kModify:
            case In::kNewsuperior:
            case In::kModrdnDone: push(LDIF_REC_END, record_line_); break;
            case In::kPart:
                if (!end_part(last_line_)) break;
                push(LDIF_REC_MOD_END, last_line_);
                push(LDIF_REC_END, record_line_);
                break;
            case In::kNewrdn: fail(last_line_, "modrdn without newrdn"); break;
            case In::kDeleteoldrdn: fail(last_line_, "modrdn without deleteoldrdn"); break;
            default: break;
        }
        in_ = In::kOutside;
        passing_ = holding_ = false;
    }

    // ---- items -------------------------------------------------------------------

    ldif_record_item &slot() {
        if (emitted_) return queue_[queued_++];
        emitted_ = true;
        return *out_;
    }

    ldif_record_item &push(int kind, long line) {
        ldif_record_item &item = slot();
        item = ldif_record_item{};
        item.kind = kind;
        item.line = line;
        return item;
    }

    void push_part() {
        ldif_record_item &item = push(LDIF_REC_MOD_BEGIN, hold_line_);
        item.op = op_;
        item.name = part_buffer();
        item.name_len = part_n_;
    }

    void push_bytes(int kind, std::string_view bytes) {
        ldif_record_item &item = push(kind, hold_line_);
        item.value = bytes.data();
        item.value_len = bytes.size();
    }

    void begin(ldif_change change, In body) {
        ldif_record_item &item = push(LDIF_REC_BEGIN, record_line_);
        item.change = change;
        item.value = dn_buffer();
        item.value_len = dn_n_;
        in_ = body;
    }

    void push_value(const ldif_item &it) {
        passing_ = it.more != 0;
        pass(it);
    }

    void pass(const ldif_item &it) {
        slot() = {LDIF_REC_VALUE, 0, 0, 0, it.name, it.name_len, it.value, it.value_len, it.form, it.more, it.line};
        if (!it.more) passing_ = false;
    }

    // The record fails at `line`: an error item, and the rest of it is
    // passed over.
    void fail(long line, const char *pattern, std::string_view first = {}, std::string_view second = {}) {
        record::format_message(message_, pattern, first, second);
        ldif_record_item &item = push(LDIF_REC_ERROR, line);
        item.value = message_;
        item.value_len = std::strlen(message_);
        in_ = In::kSkip;
        passing_ = holding_ = false;
    }

    const size_t room_;
    ldif_reader *base_;
    std::unique_ptr<char[]> store_;  // the dn, the part's description, a held line, the controls

    In in_ = In::kOutside;
    bool first_group_ = true;  // no line has been read yet
    bool done_ = false;
    bool passing_ = false;     // pieces of a value are being passed on
    bool holding_ = false;     // a line of the structure is being held
    long record_line_ = 0, last_line_ = 0;

    Held held_ = Held::kDn;
    char *hold_to_ = nullptr;
    size_t hold_n_ = 0;
    long hold_line_ = 0;

    size_t dn_n_ = 0, part_n_ = 0;
    size_t attrs_ = 0, values_ = 0;
    int op_ = LDIF_MOD_ADD;
    size_t controls_n_ = 0, control_count_ = 0, control_at_ = 0, controls_left_ = 0;

    static constexpr size_t kKnown = 32;
    struct Known {
        size_t n = SIZE_MAX;
        char bytes[32];
    };
    Known known_[kKnown];

    ldif_record_item *out_ = nullptr;  // the caller's item, while a base item is taken
    bool emitted_ = false;             // it holds an item
    ldif_record_item queue_[2];
    size_t head_ = 0, queued_ = 0;
    char message_[record::kMessageRoom] = {};
};

}  // namespace kestrin::ldif

struct ldif_record_reader {
    kestrin::ldif::RecordReader reader;
    kestrin::ldif::record::Assembly assembly;
};

extern "C" ldif_record_reader *ldif_record_reader_create(size_t buffer_size) noexcept {
    return kestrin::guarded<ldif_record_reader *>(nullptr, [&] { return new ldif_record_reader{kestrin::ldif::RecordReader(buffer_size), {}}; });
}

extern "C" int ldif_record_reader_feed(ldif_record_reader *reader, const char *bytes, size_t len) noexcept {
    return reader ? reader->reader.feed(bytes, len) : -1;
}

extern "C" int ldif_record_reader_next(ldif_record_reader *reader, ldif_record_item *item) noexcept {
    if (!reader || !item) return LDIF_REC_DONE;
    return reader->reader.next(*item);
}

extern "C" int ldif_record_reader_read(ldif_record_reader *reader, ldif_record **record,
                                       ldif_record_item *item) noexcept {
    if (!reader || !record) return LDIF_REC_DONE;
    ldif_record_item local;
    ldif_record_item &it = item ? *item : local;
    for (;;) {
        const int kind = reader->reader.next(it);
        switch (reader->assembly.add(it)) {
            case kestrin::ldif::record::Assembly::kMore: continue;
            case kestrin::ldif::record::Assembly::kWhole: *record = reader->assembly.take(); return kind;
            case kestrin::ldif::record::Assembly::kOutOfMemory: {
                const long line = it.line;
                it = ldif_record_item{};
                it.line = line;
                it.kind = LDIF_REC_ERROR;
                it.value = "out of memory";
                it.value_len = 13;
                return it.kind = LDIF_REC_ERROR;
            }
            case kestrin::ldif::record::Assembly::kPassOn: return kind;
        }
    }
}

extern "C" void ldif_record_reader_free(ldif_record_reader *reader) noexcept { delete reader; }
