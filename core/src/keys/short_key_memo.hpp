#pragma once

// The code of the last short key seen of each length, in front of a
// dictionary.  A column of few distinct strings (kinds, categories,
// units: "pressure", "temperature", "vibration") mostly tells them apart by
// length, so most rows are answered by one comparison instead of a hash
// and a probe, whatever order they come in.  A column whose strings share
// a length and differ (ids) misses every time, at the cost of that one
// comparison; such columns of many values are numbered by partitions
// instead (partitioned_numbering.hpp), where no memo stands.

#include <array>
#include <cstdint>

#include "keys/short_key.hpp"

namespace orven::keys {

class ShortKeyMemo {
public:
    // The code of `key`: the memo's, or the dictionary's, which it then
    // keeps.
    template <class Dictionary>
    std::uint32_t code_of(const ShortKey& key, Dictionary& dictionary) {
        Entry& entry = entries_[key.length];
        if (entry.known && entry.low == key.low && entry.high == key.high) return entry.code;
        const std::uint32_t code = dictionary.code_of(key);
        entry = Entry{key.low, key.high, code, true};
        return code;
    }

private:
    struct Entry {
        std::uint64_t low = 0;
        std::uint64_t high = 0;
        std::uint32_t code = 0;
        bool known = false;
    };
    std::array<Entry, 17> entries_{};
};

}  // namespace orven::keys
