#pragma once

// Key columns of integers (or booleans, dates, datetimes, category
// numbers), coded on the pool.

#include <cstdint>
#include <optional>
#include <span>

#include "keys/coded_column.hpp"
#include "pool/interruption.hpp"

namespace orven::keys {

// By value: a small range (after dividing by the values' common step) is
// indexed directly, codes with gaps; a wide one is numbered densely.
// `null_value`, where given, is the column's null.
template <class T>
CodedColumn integer_codes(std::span<const T> values, std::optional<std::int64_t> null_value,
                          pool::Interruption& interruption);

// Category numbers: the code of value v is ranks[v] (the category's place
// in sorted order), the range ranks.size().
template <class T>
CodedColumn category_codes(std::span<const T> values, std::span<const std::uint32_t> ranks,
                           std::optional<std::int64_t> null_value, pool::Interruption& interruption);

}  // namespace orven::keys
