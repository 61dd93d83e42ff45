#pragma once

// The mixing function of the key dictionaries: a 64-bit finaliser that
// spreads every input bit over all output bits, the low ones that pick a
// slot and the high ones that pick a partition.

#include <bit>
#include <cstdint>

namespace orven::keys {

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

}  // namespace orven::keys
