// decode - the way back (-d): the raw bytes of one value out of LDIF text.
//
// The input (kept as input.h describes) is LDIF text. The value is that of
// the first line, across any number of entries, whose attribute description
// equals the name given, ASCII letter case ignored: folded lines are joined,
// a CR before a line feed is dropped, comments and "version:" lines are
// passed over, the fill (spaces) after the marker is skipped. A plain value
// is written as it stands, a base64 value decoded; a file reference is
// refused and never opened.
//
// As for the way there, a run has two steps: prepare() reads the whole input
// and makes every check, write() reads it again and writes the bytes, in
// bounded memory whatever the size of the value.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "input.h"
#include "io.h"

namespace kestrin::tool {

class LdifValue {
public:
    LdifValue();
    ~LdifValue();
    LdifValue(const LdifValue &) = delete;
    LdifValue &operator=(const LdifValue &) = delete;

    // Returned by prepare() when a read of the input failed (errno tells
    // why); the caller writes the message that names the input.
    static constexpr int kReadFailed = -1;

    // Finds and checks the value of attr in the input. 0 when it can be
    // written; kReadFailed; or the exit status (1) after the message of the
    // failed check:
    //   "No value of <%s> in the input\n" (attr as given),
    //   "Failed to base64-decode value of <%s>\n",
    //   "Value of <%s> is a file reference: %s\n" (the URL).
    int prepare(Input &input, const std::string &attr);

    // Bytes of the value (after prepare()).
    size_t size() const;

    // Writes the value's bytes to fd (after prepare()). kInputFailed when
    // the input changed since prepare() (errno tells; the caller writes the
    // message).
    Written write(Input &input, int fd);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kestrin::tool
