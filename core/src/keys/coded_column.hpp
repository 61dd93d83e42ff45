#pragma once

// What a reader made of a key column: its codes, or why it has none.

#include "keys/key_codes.hpp"

namespace orven::keys {

enum class CodingOutcome {
    coded,
    // A row holds the column's null (NaN, NaT, a category code of -1).
    null_found,
    // A category number beyond the categories given.
    category_out_of_range,
};

struct CodedColumn {
    CodingOutcome outcome = CodingOutcome::coded;
    KeyCodes codes;
};

}  // namespace orven::keys
