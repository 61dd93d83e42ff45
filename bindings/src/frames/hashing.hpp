#pragma once

// The mixing function of the key dictionaries: a 64-bit finaliser that
// spreads every input bit over the bits used to pick a slot.

#include <bit>
#include <cstdint>

namespace orven::bindings::frames::detail {

inline std::uint64_t mix(std::uint64_t x) noexcept {
    x ^= x >> 32;
    x *= 0xd6e8feb86659fd93ULL;
    x ^= x >> 32;
    x *= 0xd6e8feb86659fd93ULL;
    x ^= x >> 32;
    return x;
}

inline std::uint64_t mix(std::uint64_t a, std::uint64_t b) noexcept {
    return mix(a ^ std::rotl(b, 29) ^ 0x9e3779b97f4a7c15ULL);
}

}  // namespace orven::bindings::frames::detail
