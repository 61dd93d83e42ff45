#pragma once

// A column's texts copied into blocks of consecutive rows, each block's
// bytes in one string, so that a reader whose own texts cannot be read
// without an interpreter (Python objects) can hand them to the partitioned
// numbering (partitioned_numbering.hpp), which reads each text twice and
// in any order.  Each block is filled by one task; a row's text is found
// by its block number, no search.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orven::keys {

class TextBlocks {
public:
    static constexpr unsigned block_bits = 16;
    static constexpr std::size_t block_rows = std::size_t{1} << block_bits;

    struct Block {
        std::string bytes;
        std::vector<std::uint32_t> ends;

        void append(std::string_view text) {
            bytes.append(text);
            ends.push_back(static_cast<std::uint32_t>(bytes.size()));
        }
    };

    explicit TextBlocks(std::size_t rows) : blocks_((rows + block_rows - 1) / block_rows) {}

    std::size_t block_count() const noexcept { return blocks_.size(); }
    // Block b holds rows [b * block_rows, (b + 1) * block_rows).
    Block& block(std::size_t b) noexcept { return blocks_[b]; }

    std::string_view operator()(std::size_t row) const noexcept {
        const Block& block = blocks_[row >> block_bits];
        const std::size_t i = row & (block_rows - 1);
        const std::uint32_t begin = i == 0 ? 0 : block.ends[i - 1];
        return std::string_view(block.bytes).substr(begin, block.ends[i] - begin);
    }

private:
    std::vector<Block> blocks_;
};

}  // namespace orven::keys
