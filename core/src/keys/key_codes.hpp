#pragma once

// The codes of one key column: for every row a code in [0, range), equal
// values sharing a code, codes ordered as the values are.
//
// A reader that numbers values as it meets them learns their order only at
// the end.  Rather than a pass of its own to renumber the rows, it may leave
// the codes provisional and say how to read them: rows [begin, end) of
// each part stand for tables[table][code].  The pass that folds the column
// into the composite key applies the tables on its way.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "memory/row_buffer.hpp"

namespace orven::keys {

struct KeyCodes {
    struct Part {
        std::size_t begin;
        std::size_t end;
        std::size_t table;
    };

    memory::RowBuffer<std::uint32_t> codes;
    std::uint64_t range = 0;
    std::vector<std::vector<std::uint32_t>> tables;
    std::vector<Part> parts;

    // Every row read through one table.
    void renumber_all(std::size_t rows, std::vector<std::uint32_t> table) {
        tables.push_back(std::move(table));
        parts.push_back(Part{0, rows, tables.size() - 1});
    }
};

}  // namespace orven::keys
