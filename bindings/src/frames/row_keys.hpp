#pragma once

// The one place that calls the key readers (key_readers.hpp) and the
// composite key (composite_key.hpp): every key column of a call coded by
// the reader its description calls for and folded into the rows' key.

#include <cstdint>
#include <memory>

#include "frames/composite_key.hpp"
#include "frames/frame_call.hpp"
#include "pool/interruption.hpp"
#include "python/failure.hpp"

namespace orven::bindings::frames {

struct RowKeys {
    std::unique_ptr<CompositeKey> key;
    // The range of the kind's codes (its code is the combined value modulo
    // the range), or 1 without a kind.
    std::uint64_t kind_range = 1;
};

// Runs caller code for object keys (their hashing and comparisons).
errors::Result<RowKeys> row_keys(const FrameCall& call, pool::Interruption& interruption);

}  // namespace orven::bindings::frames
