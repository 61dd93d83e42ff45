#pragma once

#include <source_location>

#include "fatal/fatal_error.hpp"

namespace orven::bindings::errors {

// Armed for the whole of an entry point.  If it is still armed when it goes
// out of scope, a failure escaped the translation into a Python exception:
// there is no sound way to hand it to the interpreter, so it writes the
// report for that and aborts the process.
class BoundaryGuard {
public:
    BoundaryGuard(const char* message, std::source_location where) noexcept
        : message_(message), where_(where) {}
    BoundaryGuard(const BoundaryGuard&) = delete;
    BoundaryGuard& operator=(const BoundaryGuard&) = delete;
    ~BoundaryGuard() {
        if (armed_) {
            fail();
        }
    }

    void disarm() noexcept { armed_ = false; }

    [[noreturn]] void fail() const noexcept;

private:
    const char* message_;
    std::source_location where_;
    bool armed_ = true;
};

}  // namespace orven::bindings::errors
