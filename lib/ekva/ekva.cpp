// The EKVA record.
//
// Appending without a rescan: a record made by this library keeps its entry
// count in its spare room. The slot array has room for the header, k entries
// and the terminator (k + 2 slots); while fewer than k entries are stored,
// the last of those slots (index k + 1) lies past the terminator and holds a
// tag word made from the array's address and the entry count. A tag that
// does not decode to a count consistent with the array (as in arrays made by
// hand) is ignored and the record is scanned as usual.
#include "util/guard_internal.h"
#include "ekva/ekva.h"

#include <strings.h>

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "ekva/ekva_internal.h"
#include "util/alloc_internal.h"

namespace kestrin::ekva {

Header read_header(ekva_pair **record) {
    Header h;
    if (record[0] && record[0]->key)
        h.present = ekva_parse_header(record[0]->key, &h.capacity, &h.mode) == 1;
    return h;
}

namespace {

constexpr char kHeaderPrefix[] = "#EKVA_10:";
constexpr std::uintptr_t kTagMagic = 0x9E3779B97F4A7C15u;

bool key_matches(const ekva_pair *pair, const char *key) {
    return pair->key && strcasecmp(pair->key, key) == 0;
}

bool key_matches(const ekva_pair *pair, std::string_view key) {
    return pair->key && strncasecmp(pair->key, key.data(), key.size()) == 0 && pair->key[key.size()] == '\0';
}

ekva_pair *tag_for(ekva_pair **record, int entries) {
    return reinterpret_cast<ekva_pair *>((reinterpret_cast<std::uintptr_t>(record) ^ kTagMagic) +
                                         static_cast<std::uintptr_t>(entries));
}

// Stores the tag when the spare slot exists (fewer than capacity entries).
void write_tag(ekva_pair **record, int capacity, int entries) {
    if (capacity >= 1 && entries < capacity) record[capacity + 1] = tag_for(record, entries);
}

// The entry count from the tag, or -1 when the tag is absent or does not fit.
long tagged_entries(ekva_pair **record, const Header &h) {
    if (!h.present || h.capacity < 1) return -1;
    const auto word = reinterpret_cast<std::uintptr_t>(record[h.capacity + 1]);
    const std::uintptr_t entries = word - (reinterpret_cast<std::uintptr_t>(record) ^ kTagMagic);
    if (entries >= static_cast<std::uintptr_t>(h.capacity)) return -1;
    const auto e = static_cast<long>(entries);
    if (record[e + 1] != nullptr || (e > 0 && record[e] == nullptr)) return -1;
    return e;
}

long count_slots(ekva_pair **record, long from) {
    long n = from;
    while (record[n]) ++n;
    return n - from;
}

// The usual header, "#EKVA_10:<digits>:<digits>", read without scanf; any
// other form goes to scanf, which defines the result.
bool parse_plain_header(const char *key, int &c, int &m) {
    const char *p = key + sizeof kHeaderPrefix - 1;
    auto number = [&p](int &out) {
        const char *start = p;
        long v = 0;
        while (*p >= '0' && *p <= '9' && p - start < 9) v = v * 10 + (*p++ - '0');
        out = static_cast<int>(v);
        return p > start && !(*p >= '0' && *p <= '9');
    };
    return number(c) && *p++ == ':' && number(m);
}

// "#EKVA_10:%d:%d" of capacity and mode.
char *header_text(int capacity, int mode) {
    char text[64] = "#EKVA_10:";
    char *end = text + sizeof kHeaderPrefix - 1;
    end = std::to_chars(end, text + 32, capacity).ptr;  // an int takes at most 11 characters
    *end++ = ':';
    end = std::to_chars(end, text + sizeof text, mode).ptr;
    return mem::duplicate({text, static_cast<size_t>(end - text)});
}

ekva_pair *new_pair(std::string_view key, const std::string_view *value) {
    auto *pair = static_cast<ekva_pair *>(mem::allocate(sizeof(ekva_pair)));
    if (!pair) return nullptr;
    pair->key = mem::duplicate(key);
    pair->value = value ? mem::duplicate(*value) : nullptr;
    if (!pair->key || (value && !pair->value)) {
        std::free(pair->key);
        std::free(pair->value);
        std::free(pair);
        return nullptr;
    }
    return pair;
}

void free_pair(ekva_pair *pair) {
    if (!pair) return;
    std::free(pair->key);
    std::free(pair->value);
    std::free(pair);
}

// Gives a record with a header room for `capacity` entries: the array grows
// to capacity + 2 slots, the slots from `used` on are NULL, and the header
// text follows. False, with nothing changed, when memory runs out.
bool grow_slots(ekva_pair **&record, size_t used, int capacity, int mode) {
    char *text = header_text(capacity, mode);
    if (!text) return false;
    const size_t room = static_cast<size_t>(capacity) + 2;
    auto *grown = static_cast<ekva_pair **>(mem::reallocate(record, room * sizeof(ekva_pair *)));
    if (!grown) {
        std::free(text);
        return false;
    }
    record = grown;
    std::fill(record + used, record + room, nullptr);
    std::free(record[0]->key);
    record[0]->key = text;
    return true;
}

// Makes a record array of `slots` slots, all NULL.
ekva_pair **new_slots(size_t slots) {
    auto *record = static_cast<ekva_pair **>(mem::allocate(slots * sizeof(ekva_pair *)));
    if (record) std::fill(record, record + slots, nullptr);
    return record;
}

// A record as a change finds it, and the capacity the change leaves it with.
struct Layout {
    Header header;
    long first = 0;    // slot of the first entry
    long entries = 0;  // entries before the change
    int capacity = 0;  // the header's capacity after the change

    long slots() const { return first + entries; }  // slots in use before the change
    bool grows() const { return header.present && capacity != header.capacity; }
};

// Reads where the entries start and how many there are (from the tag when
// the change only appends, by scanning otherwise), and doubles the capacity
// of a full record (more than once when an array made by hand already holds
// more entries than its header says). False when the capacity would not fit
// an int.
bool measure(ekva_pair **record, bool appends_only, Layout &at) {
    at.header = read_header(record);
    at.first = entries_after_header(record, at.header) - record;
    at.entries = appends_only ? tagged_entries(record, at.header) : -1;
    if (at.entries < 0) at.entries = count_slots(record, at.first);
    at.capacity = at.header.capacity;
    if (!at.header.present) return true;
    if (at.capacity < 1) at.capacity = 1;
    while (at.entries >= at.capacity) {
        if (at.capacity > INT_MAX / 2) return false;
        at.capacity *= 2;
    }
    return true;
}

// What a change stores, allocated before the record is touched so that a
// change either happens whole or not at all. Whatever append_to() or
// replace_values() does not take is freed.
class Change {
public:
    Change() = default;
    Change(const Change &) = delete;
    Change &operator=(const Change &) = delete;
    ~Change() {
        for (char *r : replacements_) std::free(r);
        free_pair(pair_);
    }

    // The entries of key (modes UNIQUE and REPLACE look for them), a copy of
    // value for each of those with a value (REPLACE), or else the new pair.
    // False when memory ran out.
    bool prepare(ekva_pair **record, const Layout &at, std::string_view key, const std::string_view *value,
                 int mode) {
        const bool listed = guarded(false, [&] {
            if (mode == EKVA_UNIQUE || mode == EKVA_REPLACE)
                for (long i = at.first; i < at.slots(); ++i)
                    if (key_matches(record[i], key)) matches_.push_back(record[i]);
            replacing_ = mode == EKVA_REPLACE;
            return !replacing_ || copy_replacements(value);
        });
        if (!listed) return false;
        return !matches_.empty() || (pair_ = new_pair(key, value)) != nullptr;
    }

    // Whether the key was not found, so the new pair is to be appended.
    bool appends() const { return matches_.empty(); }

    // Stores the new pair at slot `at`, ending the array after it.
    void append_to(ekva_pair **record, long at) {
        record[at] = pair_;
        record[at + 1] = nullptr;
        pair_ = nullptr;
    }

    // In REPLACE mode, gives the matches with a value the new value.
    void replace_values() {
        if (!replacing_) return;
        size_t r = 0;
        for (ekva_pair *m : matches_)
            if (m->value) {
                std::free(m->value);
                m->value = replacements_[r++];
            }
        replacements_.clear();
    }

private:
    bool copy_replacements(const std::string_view *value) {
        replacements_.reserve(matches_.size());
        for (const ekva_pair *m : matches_) {
            if (!m->value) continue;
            char *copy = value ? mem::duplicate(*value) : nullptr;
            if (value && !copy) return false;
            replacements_.push_back(copy);
        }
        return true;
    }

    std::vector<ekva_pair *> matches_;
    std::vector<char *> replacements_;  // one per match with a value, in order
    ekva_pair *pair_ = nullptr;
    bool replacing_ = false;
};

}  // namespace

int add(ekva_pair ***where, std::string_view key, const std::string_view *value, int mode) {
    if (!where || !*where || !key.data()) return 0;
    ekva_pair **record = *where;
    const bool appends_only = mode != EKVA_UNIQUE && mode != EKVA_REPLACE;
    Layout at;
    if (!measure(record, appends_only, at)) return 0;
    Change change;
    if (!change.prepare(record, at, key, value, mode)) return 0;

    // A full record grows even when nothing ends up added.
    if (at.grows()) {
        if (!grow_slots(record, static_cast<size_t>(at.slots()), at.capacity, at.header.mode)) return 0;
        *where = record;
    }
    if (!change.appends()) {
        change.replace_values();
        if (at.grows()) write_tag(record, at.capacity, static_cast<int>(at.entries));
        return static_cast<int>(at.slots());
    }
    change.append_to(record, at.slots());
    if (at.header.present) write_tag(record, at.capacity, static_cast<int>(at.entries + 1));
    return static_cast<int>(at.slots() + 1);
}

namespace {

ekva_pair **create(int capacity, int mode) {
    if (capacity < 1 || mode < EKVA_UNIQUE || mode > EKVA_MULTI_ALT) return nullptr;
    ekva_pair **record = new_slots(static_cast<size_t>(capacity) + 2);
    if (!record) return nullptr;
    char *text = header_text(capacity, mode);
    auto *header = static_cast<ekva_pair *>(mem::allocate(sizeof(ekva_pair)));
    if (!text || !header) {
        std::free(text);
        std::free(header);
        std::free(record);
        return nullptr;
    }
    header->key = text;
    header->value = nullptr;
    record[0] = header;
    write_tag(record, capacity, 0);
    return record;
}

ekva_pair **dup(ekva_pair **record) {
    if (!record) return nullptr;
    const Header h = read_header(record);
    const long slots = count_slots(record, 0);
    const long entries = slots - (entries_after_header(record, h) - record);
    const long room = h.present && h.capacity > entries ? h.capacity + 2L : slots + 1;
    ekva_pair **copy = new_slots(static_cast<size_t>(room));
    if (!copy) return nullptr;
    for (long i = 0; i < slots; ++i) {
        const ekva_pair *p = record[i];
        ekva_pair *q = static_cast<ekva_pair *>(mem::allocate(sizeof(ekva_pair)));
        char *k = q && p->key ? mem::duplicate(p->key) : nullptr;
        char *v = q && p->value ? mem::duplicate(p->value) : nullptr;
        if (!q || (p->key && !k) || (p->value && !v)) {
            std::free(q);
            std::free(k);
            std::free(v);
            ekva_free(copy);
            return nullptr;
        }
        q->key = k;
        q->value = v;
        copy[i] = q;
    }
    if (h.present) write_tag(copy, h.capacity, static_cast<int>(entries));
    return copy;
}

}  // namespace

RecordBuilder::RecordBuilder(int capacity, int mode) : record_(create(capacity, mode)), capacity_(capacity), mode_(mode) {}

RecordBuilder::~RecordBuilder() { ekva_free(record_); }

ekva_pair **RecordBuilder::release() {
    ekva_pair **r = record_;
    record_ = nullptr;
    return r;
}

// The same steps as add() in an appending mode, with the count known.
bool RecordBuilder::append(std::string_view key, const std::string_view *value) {
    if (!record_) return false;
    return store(new_pair(key, value));
}

bool RecordBuilder::append_taking(std::string_view key, char *value) {
    if (!record_) {
        std::free(value);
        return false;
    }
    auto *pair = static_cast<ekva_pair *>(mem::allocate(sizeof(ekva_pair)));
    char *k = pair ? mem::duplicate(key) : nullptr;
    if (!k) {
        std::free(pair);
        std::free(value);
        return false;
    }
    pair->key = k;
    pair->value = value;
    return store(pair);
}

bool RecordBuilder::store(ekva_pair *pair) {
    if (!pair) return false;
    if (entries_ == capacity_) {
        if (capacity_ > INT_MAX / 2 || !grow_slots(record_, static_cast<size_t>(entries_) + 1, capacity_ * 2, mode_)) {
            free_pair(pair);
            return false;
        }
        capacity_ *= 2;
    }
    record_[entries_ + 1] = pair;
    record_[entries_ + 2] = nullptr;
    ++entries_;
    write_tag(record_, capacity_, entries_);
    return true;
}

}  // namespace kestrin::ekva

using namespace kestrin::ekva;

extern "C" int ekva_parse_header(const char *key, int *capacity, int *mode) noexcept {
    if (!key || std::strncmp(key, kHeaderPrefix, sizeof kHeaderPrefix - 1) != 0) return 0;
    int c = 0, m = 0;
    const bool both = parse_plain_header(key, c, m) || std::sscanf(key, "#EKVA_10:%d:%d", &c, &m) == 2;
    if (capacity) *capacity = both ? c : 0;
    if (mode) *mode = both ? m : 0;
    return both ? 1 : 0;
}

extern "C" ekva_pair **ekva_create_mode(int capacity, int mode) noexcept { return create(capacity, mode); }

extern "C" ekva_pair **ekva_create(int capacity) noexcept { return create(capacity, EKVA_REPLACE); }

extern "C" int ekva_add(ekva_pair ***record, const char *key, const char *value, int mode) noexcept {
    if (!key) return 0;
    const std::string_view v = value ? std::string_view(value) : std::string_view();
    return add(record, key, value ? &v : nullptr, mode);
}

extern "C" int ekva_count(ekva_pair **record) noexcept {
    if (!record) return 0;
    return static_cast<int>(count_slots(record, entries_after_header(record) - record));
}

extern "C" int ekva_count_key(ekva_pair **record, const char *key) noexcept {
    if (!record || !key) return 0;
    int n = 0;
    for (ekva_pair **p = record; *p; ++p) n += key_matches(*p, key);
    return n;
}

extern "C" const char *ekva_get_nth(ekva_pair **record, const char *key, int n) noexcept {
    if (!record || !key || n < 0) return nullptr;
    for (ekva_pair **p = record; *p; ++p)
        if (key_matches(*p, key) && n-- == 0) return (*p)->value;
    return nullptr;
}

extern "C" const char *ekva_get(ekva_pair **record, const char *key) noexcept { return ekva_get_nth(record, key, 0); }

extern "C" char **ekva_get_values(ekva_pair **record, const char *key) noexcept {
    if (!record || !key) return nullptr;
    int matches = 0;
    for (ekva_pair **p = record; *p; ++p) matches += key_matches(*p, key);
    if (matches == 0) return nullptr;
    auto *values = static_cast<char **>(kestrin::mem::allocate((static_cast<size_t>(matches) + 1) * sizeof(char *)));
    if (!values) return nullptr;
    int n = 0;
    for (ekva_pair **p = record; *p; ++p) {
        if (!key_matches(*p, key) || !(*p)->value) continue;
        values[n] = kestrin::mem::duplicate((*p)->value);
        if (!values[n]) {
            strlist_free(values);
            return nullptr;
        }
        values[++n] = nullptr;
    }
    values[n] = nullptr;
    return values;
}

extern "C" const char *ekva_get_key(ekva_pair **record, const char *value) noexcept {
    if (!record || !value) return nullptr;
    for (ekva_pair **p = entries_from_slot1(record); *p; ++p)
        if ((*p)->value && strcasecmp((*p)->value, value) == 0) return (*p)->key;
    return nullptr;
}

extern "C" ekva_pair **ekva_copy(ekva_pair **record) noexcept {
    if (!record) return nullptr;
    const Header h = read_header(record);
    ekva_pair **copy = create(ekva_count(record), h.present ? h.mode : 0);
    if (!copy) return nullptr;
    for (ekva_pair **p = entries_after_header(record, h); *p; ++p) {
        if (ekva_add(&copy, (*p)->key, (*p)->value, EKVA_APPEND) == 0) {
            ekva_free(copy);
            return nullptr;
        }
    }
    return copy;
}

extern "C" ekva_pair **ekva_dup(ekva_pair **record) noexcept { return dup(record); }

extern "C" void ekva_free(ekva_pair **record) noexcept {
    if (!record) return;
    for (ekva_pair **p = record; *p; ++p) free_pair(*p);
    std::free(record);
}
