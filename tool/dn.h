// dn - whether an entry's dn is the one given with --dn.
//
// Two dns are the same when their texts are, once base64 is decoded (the
// reader does that), with ASCII letter case ignored and the spaces around
// ',', '=' and '+' left out: "CN=Jane Doe, ou=People" is
// "cn=Jane Doe,ou=people". A character after a backslash is part of a
// value, not a separator ("cn=Doe\, Jane" keeps its space), and every other
// space counts, also at either end of the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrin::tool {

// A dn that arrives in pieces, compared with the given one as it comes, in
// a few bytes whatever its length.
class DnMatch {
public:
    explicit DnMatch(std::string_view wanted);

    // Starts the comparison of another dn.
    void restart();
    void feed(std::string_view piece);
    // After the last piece: whether the dn is the one wanted.
    bool matched();

private:
    // The text as the comparison sees it, laid out a piece at a time:
    // letters in lower case, the spaces next to a separator dropped.
    class Layout {
    public:
        // Hands each character of the laid-out text to put(c), which
        // returns false to stop.
        template <class Put>
        bool feed(std::string_view piece, Put &&put);
        template <class Put>
        bool finish(Put &&put);

    private:
        template <class Put>
        bool spaces(Put &put);
        size_t spaces_ = 0;  // spaces held back: dropped if a separator follows
        bool after_separator_ = false, escaped_ = false;
    };

    bool put(char c);

    std::string wanted_;  // laid out
    Layout layout_;
    size_t at_ = 0;
    bool differs_ = false;
};

// Whether the two dns are the same (see above).
bool same_dn(std::string_view a, std::string_view b);

}  // namespace kestrin::tool
