#pragma once

// Distinct 64-bit keys, numbered in the order they first appear, and their
// ranks in ascending order.  For key columns whose values spread too widely
// to index a table directly.  Open addressing with linear probing, at most
// half the slots used; a slot holds only a code (the keys lie in code
// order beside), so that a table of a million keys, 16-24 bytes a key,
// still fits the last-level cache.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "keys/hashing.hpp"

namespace orven::keys {

class IntegerDictionary {
public:
    using Key = std::uint64_t;

    IntegerDictionary() { rehash(initial_slots); }

    // Room for `count` keys without growing.
    void reserve(std::size_t count) {
        keys_.reserve(count);
        std::size_t capacity = initial_slots;
        while (capacity < 2 * count) capacity *= 2;
        if (capacity > slots_.size()) rehash(capacity);
    }

    // The number of `key`, added if it is new.
    std::uint32_t code_of(std::uint64_t key) {
        std::size_t slot = mix(key) & mask_;
        while (true) {
            const std::uint32_t code = slots_[slot];
            if (code == empty) break;
            if (keys_[code] == key) return code;
            slot = (slot + 1) & mask_;
        }
        const auto code = static_cast<std::uint32_t>(keys_.size());
        keys_.push_back(key);
        slots_[slot] = code;
        if (keys_.size() * 2 > slots_.size()) rehash(slots_.size() * 2);
        return code;
    }

    // The hash that places a key, its high bits left for a partition.
    static std::uint64_t hash(std::uint64_t key) noexcept { return mix(key); }

    std::size_t size() const noexcept { return keys_.size(); }
    std::uint64_t key(std::uint32_t code) const noexcept { return keys_[code]; }
    std::span<const std::uint64_t> keys() const noexcept { return keys_; }

    // rank[code]: the place of each key among all of them in ascending order.
    std::vector<std::uint32_t> ranks() const;
    // The codes of `keys` in ascending order of the keys.
    static std::vector<std::uint32_t> order_of(std::span<const std::uint64_t> keys);

private:
    static constexpr std::uint32_t empty = 0xffffffffu;
    static constexpr std::size_t initial_slots = 256;
    void rehash(std::size_t capacity);

    std::vector<std::uint64_t> keys_;
    std::vector<std::uint32_t> slots_;
    std::size_t mask_ = 0;
};

}  // namespace orven::keys
