// base64 text that arrives in pieces: validated and decoded to exactly what
// base64_decode gives for the whole text, and copied without its white
// space. Shared by the way there (-b) and the way back (-d), which reads
// base64 values with no white space inside.
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

// base64 text in pieces with no white space anywhere (RFC 2849 allows none
// inside a base64 value: a space, tab, CR, VT, FF or NUL is malformed),
// decoded or only validated to exactly what base64_decode gives for the
// whole text. Runs of whole groups go to the codec, and a run of n groups
// must give exactly 3n bytes: a white space character or padding inside
// would give fewer, so the count is the whole check. The last group of all
// is held back until the end, to be decoded with a buffer (its padding and
// unused bits).
class StrictBase64 {
public:
    // Decodes the next piece of text into out (room for n / 4 * 3 + 16
    // bytes), or only validates it when out is null; the bytes decoded.
    size_t feed(const char *p, size_t n, unsigned char *out);

    // After the last piece: the bytes of the last group, put in out (room
    // for 3) when given, or -1 when the whole text was not valid.
    int finish(unsigned char *out);

    bool failed() const { return failed_; }

private:
    size_t fail() {
        failed_ = true;
        return 0;
    }

    char group_[4] = {};
    size_t held_ = 0;
    bool failed_ = false;
};

}  // namespace kestrin::tool
