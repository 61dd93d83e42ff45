#pragma once

// Strings of up to 16 bytes as two words and a length, so that the usual
// names of kinds and sensors are compared and hashed as integers, without
// touching the bytes again.  Little-endian words: byte i of the string is
// byte i % 8 of word i / 8.

#include <cstdint>
#include <cstring>

namespace orven::keys {

// Up to 16 bytes of a string, zero beyond its length, and the length.
struct ShortKey {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::uint32_t length = 0;

    bool operator==(const ShortKey&) const = default;

    // From `length` (<= 16) bytes at `text`, reading none beyond them:
    // two loads that overlap where the string is shorter than they are
    // (the bytes they share are the same), so no call to memcpy.
    static ShortKey copy(const char* text, std::uint32_t length) noexcept {
        if (length >= 8) {
            const std::uint64_t tail = load_word(text + length - 8);
            return length == 8 ? ShortKey{load_word(text), 0, 8}
                               : ShortKey{load_word(text), tail >> (8 * (16 - length)), length};
        }
        std::uint64_t low = 0;
        if (length >= 4) {
            low = std::uint64_t{load_half(text)} | (std::uint64_t{load_half(text + length - 4)} << (8 * (length - 4)));
        } else if (length > 0) {
            const auto byte = [&](std::uint32_t at) { return std::uint64_t{static_cast<unsigned char>(text[at])} << (8 * at); };
            low = byte(0) | byte(length / 2) | byte(length - 1);
        }
        return ShortKey{low, 0, length};
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
    static std::uint64_t load_word(const char* at) noexcept {
        std::uint64_t word;
        std::memcpy(&word, at, 8);
        return word;
    }
    static std::uint32_t load_half(const char* at) noexcept {
        std::uint32_t half;
        std::memcpy(&half, at, 4);
        return half;
    }

    // The first `bytes` bytes of a little-endian word.
    static std::uint64_t word_mask(std::uint32_t bytes) noexcept {
        return bytes >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * bytes)) - 1;
    }
};

}  // namespace orven::keys
