#pragma once

// The passes over a call's rows (pool/row_passes.hpp), run with the
// interpreter released (python/released_interpreter.hpp) so that other
// Python threads run meanwhile; the call's poll takes it back for the
// signal handlers.  What the tasks read must stay valid without it: the
// call's own buffers, the Arrow batches the call holds, and the caller's
// arrays, which the call holds pinned (call/held_array.hpp), so that no
// thread can resize them.  Assigning an array's `data` (NumPy 1.x) is not
// refused: caller code of the calling thread is found out afterwards,
// while another thread must not do it during a call at all.

#include <cstddef>
#include <utility>

#include "pool/row_passes.hpp"
#include "python/released_interpreter.hpp"

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
    const python::ReleasedInterpreter released;
    pool::run_tasks(count, std::forward<Task>(task), interruption);
}

}  // namespace orven::bindings::frames
