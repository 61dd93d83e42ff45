#pragma once

// The order of a dictionary's distinct values: the codes 0 .. n-1 listed in
// ascending order of the values they stand for.  Integers in unsigned
// order; byte strings in byte order, shorter first where one is a prefix of
// the other (for UTF-8 text, the order of the code points).

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace orven::keys {

std::vector<std::uint32_t> integer_order(std::span<const std::uint64_t> values);
std::vector<std::uint32_t> text_order(std::span<const std::string_view> texts);

}  // namespace orven::keys
