#pragma once

// Values as unsigned 64-bit keys in the same order, so that one
// dictionary, one direct index and one radix sort serve integers of every
// width and floats alike.  Signed integers flipped at the sign bit order
// like unsigned ones and keep their differences (a step between values is
// a step between keys).  Floats: -0.0 is first made +0.0 (the two are
// equal keys); then the bits of a negative number are all flipped and a
// positive one's sign bit is set, the usual map of IEEE 754 order onto
// unsigned order.  NaN has no place in it: the readers take it for a null.

#include <bit>
#include <cstdint>
#include <type_traits>

namespace orven::keys {

template <class T>
    requires std::is_integral_v<T>
constexpr std::uint64_t order_key(T value) noexcept {
    if constexpr (std::is_signed_v<T>) {
        return static_cast<std::uint64_t>(static_cast<std::int64_t>(value)) ^ (std::uint64_t{1} << 63);
    } else {
        return static_cast<std::uint64_t>(value);
    }
}

inline std::uint64_t order_key(double value) noexcept {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(value == 0.0 ? 0.0 : value);
    return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

inline std::uint64_t order_key(float value) noexcept {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(value == 0.0f ? 0.0f : value);
    return (bits >> 31) != 0 ? ~bits & 0xffffffffu : bits | (std::uint32_t{1} << 31);
}

}  // namespace orven::keys
