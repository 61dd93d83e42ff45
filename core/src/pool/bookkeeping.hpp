#pragma once

#include "fatal/fatal_error.hpp"

namespace orven::pool {

// A failure of the pool's own machinery (a queue that cannot grow, a lock
// that cannot be taken) rather than of a piece of work.  The pool's state
// can no longer be trusted, so the process is aborted with the message
// that callers know from the library this pool stands in for.
[[noreturn]] inline void bookkeeping_failed() noexcept {
    fatal::abort_with("Rayon: detected unexpected panic; aborting\n");
}

// Runs `step`, aborting through bookkeeping_failed() if it throws.
template <class Step>
decltype(auto) bookkeeping(Step&& step) noexcept {
    try {
        return step();
    } catch (...) {
        bookkeeping_failed();
    }
}

}  // namespace orven::pool
