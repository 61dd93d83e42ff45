#pragma once

#include <cstddef>

namespace orven::pool {

// The slots that a piece of a parallel map has written: `written` slots
// from `begin` on.  Tallies of neighbouring pieces combine; anything else
// means some slot was skipped, which the final check reports.
struct PieceTally {
    std::size_t begin = 0;
    std::size_t written = 0;

    // This piece's tally extended by the piece that follows it.  A gap
    // between them (a piece that stopped short) is not bridged: the slots
    // after it no longer count.
    PieceTally followed_by(const PieceTally& next) const noexcept {
        if (begin + written != next.begin) {
            return *this;
        }
        return PieceTally{begin, written + next.written};
    }
};

// Fails fatally unless `tally` covers exactly slots [0, count): a parallel
// map that lost a result has a bug, and returning its output would hide it.
void require_every_slot_written(const PieceTally& tally, std::size_t count);

}  // namespace orven::pool
