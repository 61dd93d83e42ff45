#pragma once

// The grouping of a frame call's rows (grouping/group_rows.hpp), run with
// the interpreter released so that other Python threads run meanwhile;
// the call's poll takes it back for the signal handlers.  What the passes
// read must stay valid without it (frames/row_tasks.hpp says what).

#include <span>

#include "frames/composite_key.hpp"
#include "grouping/group_rows.hpp"
#include "memory/row_buffer.hpp"
#include "pool/interruption.hpp"
#include "python/released_interpreter.hpp"

namespace orven::bindings::frames {

using grouping::GroupedRows;
using grouping::TimeColumn;
using memory::RowBuffer;
using memory::row_buffer;

inline GroupedRows group_rows(CompositeKey& key, const TimeColumn& time, std::span<const double* const> sources,
                              std::span<double* const> targets, pool::Interruption& interruption) {
    const python::ReleasedInterpreter released;
    return grouping::group_rows(key, time, sources, targets, interruption);
}

}  // namespace orven::bindings::frames
