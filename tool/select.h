// select - which of the streaming reader's items belong to the values that
// the way back writes (decode.h): the lines whose attribute description is
// the name asked for, of every entry, or with a dn only of the entries whose
// dn is that one (dn.h), the entry's dn line itself included.
//
// An entry begins with the item after which the reader first says it is
// inside one (ldif_reader_in_entry): its dn line. A dn line of one item is
// known to be the dn asked for or not at once; one of several items (longer
// than the reader's buffer) only at its end, which comes too late for the
// dn line as a value of its own (-a dn): the first pass over the input then
// keeps its value on trial, and notes the lines that matched for the later
// passes (LongDns).
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "decode.h"
#include "dn.h"
#include "ldif/ldif.h"

namespace kestrin::tool {

// The dn lines of the entries asked for that came out of the reader in
// several items, noted by the first pass and looked up by the later ones.
// Each takes more than the reader's buffer of the input, which is below
// 2 GiB: a few thousand at most.
class LongDns {
public:
    // A pass begins; after the first one the lines are known.
    void start_pass();
    void note(long line) { lines_.push_back(line); }
    bool known() const { return known_; }
    // Whether the line (in increasing order within a pass) was noted.
    bool contains(long line);

private:
    std::vector<long> lines_;
    bool known_ = false, passed_ = false;
    size_t next_ = 0;
};

// What one item of the reader does to the values of the selection.
struct Step {
    bool begins = false;  // a value begins with it
    bool piece = false;   // it holds bytes of a value (item.value, value_len)
    bool ends = false;    // the value ends with it, as `kind`
    DecodedText::Kind kind = DecodedText::Kind::kValue;
    // With ends: false only for a value on trial whose dn line turned out
    // not to be the one asked for.
    bool kept = true;
};

class Selector {
public:
    // dn: null for every entry. Both must outlive the selector.
    Selector(std::string_view attr, DnMatch *dn, LongDns &long_dns);

    // An item of the reader (kind as ldif_reader_next returned it), with
    // whether the reader is inside an entry after it.
    Step take(int kind, const ldif_item &item, bool in_entry);

    // Whether an entry had the dn asked for.
    bool entry_found() const { return entry_found_; }

private:
    enum class Wanted { kNo, kYes, kOnTrial };

    void begin_line(const ldif_item &item, bool in_entry);
    void compare_dn(int kind, const ldif_item &item, bool first, bool ends);
    Wanted wanted(const ldif_item &item, bool ends);

    std::string_view attr_;
    DnMatch *dn_;
    LongDns &long_dns_;
    long line_ = 0;
    Wanted wanted_ = Wanted::kNo;
    bool inside_ = false;   // the line lies inside an entry
    bool dn_line_ = false;  // it is the dn line of an entry, with a dn asked for
    bool dn_ok_ = false;    // the dn line read so far can still be the dn
    bool selected_;         // the line's entry is searched
    bool entry_found_ = false;
};

}  // namespace kestrin::tool
