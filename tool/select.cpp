// Which items are the values asked for: see select.h.
#include "select.h"

#include <strings.h>

namespace kestrin::tool {
namespace {

using Kind = DecodedText::Kind;

// The description matches as the entry queries match it: the whole name,
// ASCII case ignored (the tool runs in the C locale). attr, from the command
// line, holds no NUL, so a NUL in the name ends the comparison unequal.
bool same_name(const char *name, size_t n, std::string_view attr) {
    return n == attr.size() && strncasecmp(name, attr.data(), n) == 0;
}

}  // namespace

void LongDns::start_pass() {
    known_ = passed_;
    passed_ = true;
    next_ = 0;
}

bool LongDns::contains(long line) {
    while (next_ < lines_.size() && lines_[next_] < line) ++next_;
    return next_ < lines_.size() && lines_[next_] == line;
}

Selector::Selector(std::string_view attr, DnMatch *dn, LongDns &long_dns)
    : attr_(attr), dn_(dn), long_dns_(long_dns), selected_(!dn) {
    long_dns_.start_pass();
}

Step Selector::take(int kind, const ldif_item &item, bool in_entry) {
    Step step;
    if (kind == LDIF_ENTRY_END) {
        inside_ = false;
        selected_ = !dn_;
        return step;
    }
    if (kind != LDIF_ATTR && kind != LDIF_ERROR) return step;
    const bool first = item.line != line_, ends = kind == LDIF_ERROR || !item.more;
    if (first) begin_line(item, in_entry);
    if (dn_line_) compare_dn(kind, item, first, ends);
    if (first) {
        wanted_ = wanted(item, ends);
        step.begins = wanted_ != Wanted::kNo;
    }
    if (wanted_ == Wanted::kNo) return step;
    step.piece = kind == LDIF_ATTR && item.value_len > 0;
    if (!ends) return step;
    step.ends = true;
    step.kind = kind == LDIF_ERROR ? Kind::kMalformed : item.form == LDIF_FORM_URL ? Kind::kFileReference : Kind::kValue;
    step.kept = wanted_ == Wanted::kYes || selected_;
    wanted_ = Wanted::kNo;
    return step;
}

// A logical line begins; with a dn, the line that begins an entry is its dn
// line.
void Selector::begin_line(const ldif_item &item, bool in_entry) {
    line_ = item.line;
    dn_line_ = dn_ && in_entry && !inside_;
    inside_ = in_entry;
    if (!dn_line_) return;
    dn_->restart();
    dn_ok_ = true;
    selected_ = false;
}

void Selector::compare_dn(int kind, const ldif_item &item, bool first, bool ends) {
    dn_ok_ = dn_ok_ && kind == LDIF_ATTR && item.form != LDIF_FORM_URL;  // a reference names no dn
    if (dn_ok_) dn_->feed({item.value, item.value_len});
    if (!ends) return;
    selected_ = dn_ok_ && dn_->matched();
    entry_found_ = entry_found_ || selected_;
    if (selected_ && !first && !long_dns_.known()) long_dns_.note(line_);
}

Selector::Wanted Selector::wanted(const ldif_item &item, bool ends) {
    if (!same_name(item.name, item.name_len, attr_)) return Wanted::kNo;
    if (!dn_line_ || ends) return selected_ ? Wanted::kYes : Wanted::kNo;
    if (long_dns_.known()) return long_dns_.contains(line_) ? Wanted::kYes : Wanted::kNo;
    return Wanted::kOnTrial;
}

}  // namespace kestrin::tool
