#pragma once

// The pool's own machinery failing (a queue that cannot grow, a lock that
// cannot be taken), rather than a piece of work: the pool's state can no
// longer be trusted, and the process is aborted.

#include "fatal/fatal_error.hpp"

namespace orven::pool {

// Aborts with the text of the pool that other native extension modules
// run their work on: a process that loads both then reports a broken pool
// one way, whichever module's pool broke.
[[noreturn]] inline void abort_for_broken_pool() noexcept {
    fatal::abort_with("Rayon: detected unexpected panic; aborting\n");
}

// Runs a step of the pool's machinery, aborting the process if it throws.
template <class Step>
decltype(auto) abort_if_throws(Step&& step) noexcept {
    try {
        return step();
    } catch (...) {
        abort_for_broken_pool();
    }
}

}  // namespace orven::pool
