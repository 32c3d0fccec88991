// The dn comparison: see dn.h.
#include "dn.h"

namespace kestrin::tool {
namespace {

bool is_separator(char c) { return c == ',' || c == '=' || c == '+'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

template <class Put>
bool DnMatch::Layout::feed(std::string_view piece, Put &&put) {
    for (const char c : piece) {
        if (escaped_) {
            escaped_ = false;
            if (!put(lower(c))) return false;
        } else if (c == ' ') {
            spaces_ += after_separator_ ? 0 : 1;
        } else if (is_separator(c)) {
            spaces_ = 0;
            after_separator_ = true;
            if (!put(c)) return false;
        } else {
            after_separator_ = false;
            escaped_ = c == '\\';
            if (!spaces(put) || !put(lower(c))) return false;
        }
    }
    return true;
}

template <class Put>
bool DnMatch::Layout::finish(Put &&put) {
    const bool going = spaces(put);
    *this = Layout();
    return going;
}

template <class Put>
bool DnMatch::Layout::spaces(Put &put) {
    for (; spaces_ > 0; --spaces_)
        if (!put(' ')) return false;
    return true;
}

DnMatch::DnMatch(std::string_view wanted) {
    const auto keep = [this](char c) {
        wanted_ += c;
        return true;
    };
    layout_.feed(wanted, keep);
    layout_.finish(keep);
}

void DnMatch::restart() {
    layout_ = Layout();
    at_ = 0;
    differs_ = false;
}

bool DnMatch::put(char c) {
    differs_ = differs_ || at_ == wanted_.size() || wanted_[at_] != c;
    ++at_;
    return !differs_;
}

void DnMatch::feed(std::string_view piece) {
    if (!differs_) layout_.feed(piece, [this](char c) { return put(c); });
}

bool DnMatch::matched() {
    if (!differs_) layout_.finish([this](char c) { return put(c); });
    return !differs_ && at_ == wanted_.size();
}

bool same_dn(std::string_view a, std::string_view b) {
    DnMatch match(a);
    match.feed(b);
    return match.matched();
}

}  // namespace kestrin::tool
