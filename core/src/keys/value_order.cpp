// Sorting a dictionary's distinct values by radix, since a comparison sort
// of a million of them costs as much as coding a column of many millions
// of rows.
//
// Algorithm: least-significant-digit radix sort (H. H. Seward, "Information
// sorting in the application of electronic digital computers to business
// operations", MIT, 1954) of (word, tail, code) items on 8-bit digits.  One
// read of the items counts every digit; a digit on which all items agree
// takes no pass.  An integer is one word.  Byte strings are sorted a word
// of 8 bytes (big-endian, so that integer order is byte order) at a time,
// most significant first: the items of a run that ties on a word and its
// tail go on to the next word, as in multikey quicksort (J. L. Bentley and
// R. Sedgewick, "Fast algorithms for sorting and searching strings", SODA
// 1997), with words in place of characters.  The tail tells strings that
// end within the word (by how many bytes remain, 0 to 8, shorter first)
// from those that go on (9).
//
// Cost: one counting read plus one scatter per digit that varies, at most
// 8 (9 with a tail) for n items; strings pay that per word of the longest
// common prefix within a tied run.  Runs of up to `short_run` items are
// sorted by comparison instead.  Memory: two arrays of n 16-byte items.

#include "keys/value_order.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "keys/short_key.hpp"

namespace orven::keys {
namespace {

struct Item {
    std::uint64_t word;
    std::uint32_t code;
    std::uint32_t tail;
};

constexpr std::size_t short_run = 32;
constexpr unsigned digit_bits = 8;
constexpr std::size_t digit_values = std::size_t{1} << digit_bits;

bool item_less(const Item& a, const Item& b) noexcept {
    return a.word != b.word ? a.word < b.word : a.tail < b.tail;
}

// Digits 0-7 are the word's bytes, least significant first; digit 8 is the
// tail (below 256).
unsigned digit_of(const Item& item, unsigned digit) noexcept {
    if (digit == 8) return item.tail & (digit_values - 1);
    return static_cast<unsigned>(item.word >> (digit * digit_bits)) & (digit_values - 1);
}

// Sorts `items` by (word, tail), `scratch` being as long.
void sort_items(std::span<Item> items, std::span<Item> scratch) {
    if (items.size() <= short_run) {
        std::sort(items.begin(), items.end(), item_less);
        return;
    }
    std::array<std::array<std::size_t, digit_values>, 9> counts{};
    const Item first = items[0];
    std::uint64_t word_varies = 0;
    std::uint32_t tail_varies = 0;
    for (const Item& item : items) {
        word_varies |= item.word ^ first.word;
        tail_varies |= item.tail ^ first.tail;
        for (unsigned d = 0; d < 8; ++d) ++counts[d][digit_of(item, d)];
        ++counts[8][digit_of(item, 8)];
    }
    Item* from = items.data();
    Item* to = scratch.data();
    // The tail is the least significant part of the key: its pass comes first.
    const std::array<unsigned, 9> digits{8, 0, 1, 2, 3, 4, 5, 6, 7};
    for (const unsigned d : digits) {
        const bool varies = d == 8 ? tail_varies != 0 : ((word_varies >> (d * digit_bits)) & (digit_values - 1)) != 0;
        if (!varies) continue;
        std::array<std::size_t, digit_values>& next = counts[d];
        std::size_t sum = 0;
        for (std::size_t& count : next) sum += std::exchange(count, sum);
        for (std::size_t i = 0; i < items.size(); ++i) to[next[digit_of(from[i], d)]++] = from[i];
        std::swap(from, to);
    }
    if (from != items.data()) std::memcpy(items.data(), from, items.size() * sizeof(Item));
}

// Up to 8 bytes of `text` from `at`, big-endian, zero beyond its end.
std::uint64_t word_at(std::string_view text, std::size_t at) noexcept {
    if (at >= text.size()) return 0;
    const std::size_t left = text.size() - at;
    std::uint64_t word;
    if (left >= 8) {
        std::memcpy(&word, text.data() + at, 8);
    } else {
        // The bytes in their little-endian places, by the overlapping loads
        // of a short key (no call to memcpy for a handful of bytes).
        word = ShortKey::copy(text.data() + at, static_cast<std::uint32_t>(left)).low;
    }
    if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
    return word;
}

// How `text` goes on past the word at `at`: 0-8 bytes left (it ends
// within the word), or 9 (more than the word).
std::uint32_t tail_at(std::string_view text, std::size_t at) noexcept {
    return static_cast<std::uint32_t>(std::min<std::size_t>(text.size() - at, 9));
}

}  // namespace

std::vector<std::uint32_t> integer_order(std::span<const std::uint64_t> values) {
    std::vector<Item> items(values.size());
    std::vector<Item> scratch(values.size());
    for (std::uint32_t code = 0; code < values.size(); ++code) items[code] = Item{values[code], code, 0};
    sort_items(items, scratch);
    std::vector<std::uint32_t> order(values.size());
    for (std::size_t i = 0; i < items.size(); ++i) order[i] = items[i].code;
    return order;
}

std::vector<std::uint32_t> text_order(std::span<const std::string_view> texts) {
    std::vector<std::uint32_t> order(texts.size());
    for (std::uint32_t code = 0; code < texts.size(); ++code) order[code] = code;
    std::vector<Item> items(texts.size());
    std::vector<Item> scratch(texts.size());
    // Runs of the order still to sort, each from the byte all its texts
    // share a prefix up to.
    struct Run {
        std::size_t begin;
        std::size_t end;
        std::size_t at;
    };
    std::vector<Run> pending{Run{0, texts.size(), 0}};
    while (!pending.empty()) {
        const Run run = pending.back();
        pending.pop_back();
        const std::size_t length = run.end - run.begin;
        const std::span<Item> part(items.data(), length);
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint32_t code = order[run.begin + i];
            part[i] = Item{word_at(texts[code], run.at), code, tail_at(texts[code], run.at)};
        }
        sort_items(part, std::span(scratch.data(), length));
        for (std::size_t i = 0; i < length; ++i) order[run.begin + i] = part[i].code;
        // Texts tied on this word that go on beyond it: on to the next.
        for (std::size_t i = 0; i < length;) {
            std::size_t j = i + 1;
            while (j < length && part[j].word == part[i].word && part[j].tail == part[i].tail) ++j;
            if (j - i > 1 && part[i].tail == 9) pending.push_back(Run{run.begin + i, run.begin + j, run.at + 8});
            i = j;
        }
    }
    return order;
}

}  // namespace orven::keys
