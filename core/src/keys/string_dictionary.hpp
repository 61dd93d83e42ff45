#pragma once

// Distinct byte strings, numbered in the order they first appear, and their
// ranks in byte order (for UTF-8 text, the order of code points, which is
// how Python orders str).  Strings of up to 16 bytes, the usual names of
// kinds and sensors, are looked up by their bytes packed into two words,
// without touching the stored copies.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "keys/hashing.hpp"

namespace orven::keys {

// Up to 16 bytes of a string, zero beyond its length, and the length.
struct ShortKey {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::uint32_t length = 0;

    bool operator==(const ShortKey&) const = default;

    // From `length` (<= 16) bytes at `text`.
    static ShortKey copy(const char* text, std::uint32_t length) noexcept {
        ShortKey key;
        key.length = length;
        char bytes[16] = {};
        std::memcpy(bytes, text, length);
        std::memcpy(&key.low, bytes, 8);
        std::memcpy(&key.high, bytes + 8, 8);
        return key;
    }

    // From `length` (<= 16) bytes at `text`, where 16 bytes may be read.
    static ShortKey load(const char* text, std::uint32_t length) noexcept {
        std::uint64_t low;
        std::uint64_t high;
        std::memcpy(&low, text, 8);
        std::memcpy(&high, text + 8, 8);
        return from_words(low, high, length);
    }

    // From two little-endian words that hold the string's bytes first.
    static ShortKey from_words(std::uint64_t low, std::uint64_t high, std::uint32_t length) noexcept {
        ShortKey key;
        key.length = length;
        key.low = low & word_mask(length);
        key.high = high & word_mask(length > 8 ? length - 8 : 0);
        return key;
    }

private:
    // The first `bytes` bytes of a little-endian word.
    static std::uint64_t word_mask(std::uint32_t bytes) noexcept {
        return bytes >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * bytes)) - 1;
    }
};

class StringDictionary {
public:
    using Key = std::string_view;

    StringDictionary();

    std::uint32_t code_of(std::string_view text);
    std::uint32_t code_of(const ShortKey& key) {
        std::size_t slot = short_slot(key);
        while (true) {
            const ShortSlot& entry = short_slots_[slot];
            if (entry.code == empty) break;
            if (entry.key == key) return entry.code;
            slot = (slot + 1) & short_mask_;
        }
        return add_short(key, slot);
    }

    // A hash of the bytes, over all of them (the slot of a long string; the
    // partition of any).
    static std::uint64_t hash(std::string_view text) noexcept;

    std::size_t size() const noexcept { return ends_.size(); }
    std::string_view text(std::uint32_t code) const noexcept {
        const std::size_t begin = code == 0 ? 0 : ends_[code - 1];
        return std::string_view(bytes_).substr(begin, ends_[code] - begin);
    }
    std::string_view key(std::uint32_t code) const noexcept { return text(code); }

    // rank[code]: the place of each string among all of them in byte order.
    std::vector<std::uint32_t> ranks() const;
    // The codes of `texts` in byte order of the texts.
    static std::vector<std::uint32_t> order_of(std::span<const std::string_view> texts);

private:
    static constexpr std::uint32_t empty = 0xffffffffu;
    struct ShortSlot {
        ShortKey key;
        std::uint32_t code = empty;
    };
    struct LongSlot {
        std::uint64_t hash = 0;
        std::uint32_t code = empty;
    };

    // The lookup of every row of a string column goes through here.  Names
    // of sensors and ids differ in few bits of few bytes (the digits of
    // "sensor_0012345"), so every bit of the key goes through the full
    // finaliser: a multiply alone leaves such keys clustered.
    std::size_t short_slot(const ShortKey& key) const noexcept {
        return static_cast<std::size_t>(mix(key.low ^ (std::uint64_t{key.length} << 56), key.high) & short_mask_);
    }
    std::uint32_t add_short(const ShortKey& key, std::size_t slot);
    std::uint32_t append(std::string_view text);
    void rehash_short(std::size_t capacity);
    void rehash_long(std::size_t capacity);

    std::string bytes_;
    std::vector<std::size_t> ends_;
    std::vector<ShortSlot> short_slots_;
    std::size_t short_count_ = 0;
    std::size_t short_mask_ = 0;
    std::vector<LongSlot> long_slots_;
    std::size_t long_count_ = 0;
    std::size_t long_mask_ = 0;
};

}  // namespace orven::keys
