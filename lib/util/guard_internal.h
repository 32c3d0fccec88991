// The exception firewall of the C entry points, and the one way the library
// writes a message.
//
// Every extern "C" function is noexcept. Inside, the C++ code may throw
// (std::bad_alloc from a string, vector or hash set); `guarded` runs such
// code and turns any exception into the failure result the operation
// documents, so nothing crosses into C. Code that needs no cleanup on
// failure calls it once at the entry point; code that must undo partial work
// catches nearer to that work.
#pragma once

#include <utility>

namespace kestrin {

// body(), or failure when body throws.
template <class Result, class Body>
Result guarded(Result failure, Body &&body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

// Runs body; an exception ends it early. For operations whose result is
// what body stored before it stopped (a count, a partial list).
template <class Body>
void guarded(Body &&body) noexcept {
    try {
        std::forward<Body>(body)();
    } catch (...) {
    }
}

// Writes a printf-style message to standard error and flushes it, so the
// message is out before the caller goes on (or the process ends).
void message(const char *format, ...) noexcept __attribute__((format(printf, 1, 2)));

}  // namespace kestrin
