#pragma once

// The passes over a call's rows (pool/row_passes.hpp) with the interpreter
// released while the pool runs them, so other Python threads run: what the
// tasks read stays valid without it (the call's own buffers, the caller's
// arrays, which the call holds and pins against a resize, and the Arrow
// batches it holds).

#include <cstddef>
#include <utility>

#include "frames/released_interpreter.hpp"
#include "pool/row_passes.hpp"

namespace orven::bindings::frames {

using pool::Checkpoint;
using pool::piece_count;
using pool::piece_rows;
using pool::poll_on_caller;
using pool::RowRange;
using pool::rows_between_checks;

// pool::run_tasks with the interpreter released meanwhile.
template <class Task>
void run_released_tasks(std::size_t count, Task&& task, pool::Interruption& interruption) {
    if (count == 0) return;
    const ReleasedInterpreter released;
    pool::run_tasks(count, std::forward<Task>(task), interruption);
}

}  // namespace orven::bindings::frames
