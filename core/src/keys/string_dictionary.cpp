#include "keys/string_dictionary.hpp"

#include <bit>

#include "keys/ranks.hpp"
#include "keys/value_order.hpp"

namespace orven::keys {

StringDictionary::StringDictionary() {
    rehash_short(256);
    rehash_long(256);
}

std::uint64_t StringDictionary::long_hash(std::string_view text) noexcept {
    std::uint64_t state = text.size();
    std::size_t at = 0;
    for (; at + 8 <= text.size(); at += 8) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, 8);
        state = mix(state, word);
    }
    std::uint64_t tail = 0;
    std::memcpy(&tail, text.data() + at, text.size() - at);
    return mix(state, tail);
}

std::uint32_t StringDictionary::append(std::string_view text) {
    const auto code = static_cast<std::uint32_t>(ends_.size());
    bytes_.append(text);
    ends_.push_back(bytes_.size());
    return code;
}

std::uint32_t StringDictionary::add_short(const ShortKey& key, std::size_t slot) {
    char bytes[16];
    std::memcpy(bytes, &key.low, 8);
    std::memcpy(bytes + 8, &key.high, 8);
    const std::uint32_t code = append(std::string_view(bytes, key.length));
    short_slots_[slot] = ShortSlot{key, code};
    if (++short_count_ * 2 > short_slots_.size()) rehash_short(short_slots_.size() * 2);
    return code;
}

std::uint32_t StringDictionary::code_of(std::string_view text) {
    if (text.size() <= 16) {
        return code_of(ShortKey::copy(text.data(), static_cast<std::uint32_t>(text.size())));
    }
    const std::uint64_t h = long_hash(text);
    std::size_t slot = h & long_mask_;
    while (true) {
        const LongSlot& entry = long_slots_[slot];
        if (entry.code == empty) break;
        if (entry.hash == h && this->text(entry.code) == text) return entry.code;
        slot = (slot + 1) & long_mask_;
    }
    const std::uint32_t code = append(text);
    long_slots_[slot] = LongSlot{h, code};
    if (++long_count_ * 2 > long_slots_.size()) rehash_long(long_slots_.size() * 2);
    return code;
}

void StringDictionary::rehash_short(std::size_t capacity) {
    std::vector<ShortSlot> old = std::move(short_slots_);
    short_slots_.assign(capacity, ShortSlot{});
    short_mask_ = capacity - 1;
    for (const ShortSlot& entry : old) {
        if (entry.code == empty) continue;
        std::size_t slot = short_slot(entry.key);
        while (short_slots_[slot].code != empty) slot = (slot + 1) & short_mask_;
        short_slots_[slot] = entry;
    }
}

void StringDictionary::rehash_long(std::size_t capacity) {
    std::vector<LongSlot> old = std::move(long_slots_);
    long_slots_.assign(capacity, LongSlot{});
    long_mask_ = capacity - 1;
    for (const LongSlot& entry : old) {
        if (entry.code == empty) continue;
        std::size_t slot = entry.hash & long_mask_;
        while (long_slots_[slot].code != empty) slot = (slot + 1) & long_mask_;
        long_slots_[slot] = entry;
    }
}

std::vector<std::uint32_t> StringDictionary::order_of(std::span<const std::string_view> texts) {
    return text_order(texts);
}

std::vector<std::uint32_t> StringDictionary::ranks() const {
    std::vector<std::string_view> texts(size());
    for (std::uint32_t code = 0; code < texts.size(); ++code) texts[code] = text(code);
    return ranks_from_order(order_of(texts));
}

}  // namespace orven::keys
