#include "pool/piece_tally.hpp"

#include <string>

#include "fatal/fatal_error.hpp"

namespace orven::pool {

void require_every_slot_written(const PieceTally& tally, std::size_t count) {
    if (tally.begin != 0 || tally.written != count) {
        fatal::raise("expected " + std::to_string(count) + " total writes but got " +
                     std::to_string(tally.written));
    }
}

}  // namespace orven::pool
