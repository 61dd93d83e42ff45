#pragma once

// Object key columns that hold exact str only, coded by the workers by the
// strings' content (see str_key_reader.cpp).

#include <optional>

#include "frames/column_buffer.hpp"
#include "frames/key_readers.hpp"
#include "pool/interruption.hpp"
#include "python/failure.hpp"

namespace orven::bindings::frames {

// The codes of an object column of exact str, in code point order; empty
// when some row holds anything else (the caller reads the column under the
// interpreter instead); an error when caller code changed the column.
// Call with the interpreter held.
errors::Result<std::optional<KeyCodes>> exact_str_codes(const ColumnBuffer& column, const KeyRules& rules,
                                                        pool::Interruption& interruption);

}  // namespace orven::bindings::frames
