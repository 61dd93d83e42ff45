#pragma once

// The FrameCall that orven_frames hands to group_features
// (group_features.hpp documents it), read by attribute name into what the
// native steps use: every array held and pinned (call/held_array.hpp),
// every text copied.  A description that breaks the seam's rules is a
// TypeError "group_features: ..." saying which rule.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "call/held_array.hpp"
#include "frames/grouping.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

// What the call says about one column when it refuses it, as the package
// words it (orven_frames/_texts.py).
struct ColumnTexts {
    std::string null;         // ValueError: a null key or time
    std::string unorderable;  // TypeError: key values without an order
    std::string changed;      // ValueError: caller code changed the array
    std::string borrowed;     // ValueError: another module holds it for writing
    std::string nan;          // ValueError: a NaN time
    std::string arrow;        // TypeError: Arrow data that cannot be read (the reason follows)
};

// An id or kind column: a NumPy array of integers, booleans, floats or objects, or
// an Arrow stream of strings.
struct KeyColumn {
    ColumnTexts texts;
    std::optional<call::HeldArray> array;
    python::PyRef arrow;
    // Integers: the value standing for null, and the category ranks.
    std::optional<std::int64_t> null_value;
    std::optional<call::HeldArray> ranks;
    // Objects: the tuple of objects that count as null.
    python::PyRef nulls;
};

struct ValueColumn {
    ColumnTexts texts;
    call::HeldArray array;
};

struct TimeColumnRead {
    ColumnTexts texts;
    call::HeldArray array;
    bool floating;
    std::optional<std::int64_t> null_value;

    // As the grouping reads it.
    TimeColumn column() const noexcept;
};

struct FrameCall {
    // The id columns, then the kind if there is one.
    std::vector<KeyColumn> keys;
    bool has_kind = false;
    std::vector<ValueColumn> values;
    std::optional<TimeColumnRead> time;
    bool drop_nan = false;
    bool wide = false;
    python::PyRef nan_message;
    // progress(done, total), or empty.
    python::PyRef progress;
    std::size_t rows = 0;

    // After caller code ran (an object key's hashing and comparisons): the
    // columns read from then on, the values and the time, still as held;
    // else the ValueError of the first that changed.
    errors::Status check_columns_unchanged() const;
    // Lets go of every array: from then on the call reads its own buffers.
    void release_arrays() noexcept;
};

errors::Result<FrameCall> read_frame_call(PyObject* described, call::CallBorrows& borrows);

}  // namespace orven::bindings::frames
