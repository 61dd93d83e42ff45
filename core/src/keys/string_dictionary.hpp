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
#include "keys/short_key.hpp"

namespace orven::keys {

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

    // A hash of the bytes (the partition of a string; the low bits pick
    // its slot): names of sensors and ids differ in few bits of few bytes
    // (the digits of "sensor_0012345"), so every bit goes through the full
    // finaliser, since a multiply alone leaves such keys clustered.
    static std::uint64_t hash(const ShortKey& key) noexcept {
        return mix(key.low ^ (std::uint64_t{key.length} << 56), key.high);
    }
    static std::uint64_t hash(std::string_view text) noexcept {
        return text.size() <= 16 ? hash(ShortKey::copy(text.data(), static_cast<std::uint32_t>(text.size())))
                                 : long_hash(text);
    }

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

    std::size_t short_slot(const ShortKey& key) const noexcept {
        return static_cast<std::size_t>(hash(key) & short_mask_);
    }
    static std::uint64_t long_hash(std::string_view text) noexcept;
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
