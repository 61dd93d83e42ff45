#pragma once

// Key columns of floats, coded on the pool: -0.0 and +0.0 are one value,
// NaN is the null.  Floats that all hold integers (ids read from a file
// that stores numbers as floats) are coded as those integers, so that a
// small range of them is indexed directly; others by their order keys.

#include <span>

#include "keys/coded_column.hpp"
#include "pool/interruption.hpp"

namespace orven::keys {

template <class T>
CodedColumn float_codes(std::span<const T> values, pool::Interruption& interruption);

}  // namespace orven::keys
