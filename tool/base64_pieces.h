// base64 text that arrives in pieces: validated and decoded to exactly what
// base64_decode gives for the whole text, and copied without its white
// space. Shared by the way there (-b) and the way back (-d).
#pragma once

#include <cstddef>

namespace kestrin::tool {

// White space characters (the six that base64_decode skips) in [p, p + n).
size_t count_space(const char *p, size_t n);

// Copies [p, p + n) without its white space to out; returns the characters
// copied.
size_t strip_space(const char *p, size_t n, char *out);

// Decodes base64 text that arrives in pieces to exactly what base64_decode
// gives for the whole text: white space anywhere, groups of four, padding at
// the end followed by white space only; a NUL anywhere makes the text
// malformed. Runs of whole groups go to the codec itself.
class Base64Pieces {
public:
    // Decodes the next piece into out, which has room for n / 4 * 3 + 16
    // bytes, or only validates it when out is null. Returns the number of
    // bytes decoded.
    size_t feed(const char *p, size_t n, unsigned char *out);

    // After the last piece: whether the whole text was valid base64.
    bool finish() const { return state_ == kAfterPadding || (state_ == kGroups && carry_n_ == 0); }
    bool failed() const { return state_ == kFailed; }

private:
    enum State { kGroups, kSecondPad, kAfterPadding, kFailed };

    size_t fail() {
        state_ = kFailed;
        return 0;
    }
    void decode_group();
    void pad();
    void tail(const char *p, size_t n);

    char carry_[4] = {};
    size_t carry_n_ = 0;
    State state_ = kGroups;
    unsigned char *out_ = nullptr;  // where this piece's bytes go (none: validate only)
    size_t t_ = 0;                  // bytes of this piece so far
};

}  // namespace kestrin::tool
