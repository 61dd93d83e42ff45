#pragma once

// Distinct 64-bit keys, numbered in the order they first appear, and their
// ranks in ascending order.  For key columns whose values spread too widely
// to index a table directly.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "frames/hashing.hpp"

namespace orven::bindings::frames {

class IntegerDictionary {
public:
    IntegerDictionary() { rehash(1024); }

    // The number of `key`, added if it is new.
    std::uint32_t code_of(std::uint64_t key) {
        std::size_t slot = detail::mix(key) & mask_;
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

    std::size_t size() const noexcept { return keys_.size(); }
    const std::vector<std::uint64_t>& keys() const noexcept { return keys_; }

    // rank[code]: the place of each key among all of them in ascending order.
    std::vector<std::uint32_t> ranks() const;

private:
    static constexpr std::uint32_t empty = 0xffffffffu;
    void rehash(std::size_t capacity);

    std::vector<std::uint64_t> keys_;
    std::vector<std::uint32_t> slots_;
    std::size_t mask_ = 0;
};

}  // namespace orven::bindings::frames
