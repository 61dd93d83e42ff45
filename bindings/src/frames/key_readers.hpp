#pragma once

// The readers that turn key columns into codes (keys/key_codes.hpp): for
// every row a code in [0, range), equal values sharing a code and codes
// ordered as the values are, so that the composite key sorts groups by
// their key values.  Each reader takes the column's description under the
// interpreter and runs its passes on the pool with the interpreter
// released, save where it reads Python objects (object_codes); nothing is
// made per row.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "frames/column_buffer.hpp"
#include "keys/key_codes.hpp"
#include "pool/interruption.hpp"
#include "python/failure.hpp"

namespace orven::bindings::frames {

using keys::KeyCodes;

// What the caller says about a column's nulls and order.
struct KeyRules {
    // A value that stands for null (NaT, a category code of -1).
    std::optional<std::int64_t> null_value;
    // ValueError text for a null in the column.
    std::string null_message;
    // TypeError text for values that cannot be put in order.
    std::string order_message;
    // ValueError text for a column that caller code changed mid-call.
    std::string changed_message;
    // TypeError text for Arrow data that cannot be read, the reason after it.
    std::string unreadable_message;
};

// Integers or booleans of any width, or floats (float32, float64: -0.0
// equals 0.0, NaN is a null).  With `ranks`, each integer is a category
// number and its code is ranks[value] (the category's place in sorted
// order, range ranks.size()).  Otherwise a small range of values (after
// dividing by their common step) is indexed directly (codes with gaps), a
// wide one is numbered densely.
errors::Result<KeyCodes> integer_codes(const ColumnBuffer& column, std::span<const std::uint32_t> ranks,
                                       const KeyRules& rules, pool::Interruption& interruption);

// Python objects (an object array), ordered by their own `<`.  A column of
// exact str only is read by the workers, by content, in code point order.
// Any other is read under the interpreter: each row's object is first
// looked up by identity (repeated values are usually the same object),
// then by hash and equality.  None, float NaN and the objects in `nulls`
// count as null.  Hashing and comparing may run the caller's code; should
// that change the array (NumPy 1.x lets it assign `data`), the column is
// refused with `changed_message` before it is read again.
errors::Result<KeyCodes> object_codes(const ColumnBuffer& column, PyObject* nulls, const KeyRules& rules,
                                      pool::Interruption& interruption);

// Strings, read from an object that exports an Arrow C stream of one
// column: UTF-8 with 32- or 64-bit offsets, string views, or dictionaries
// of those.  Ordered by their bytes.
errors::Result<KeyCodes> arrow_string_codes(PyObject* exporter, std::size_t rows, const KeyRules& rules,
                                            pool::Interruption& interruption);

}  // namespace orven::bindings::frames
