#pragma once

#include <cstddef>
#include <type_traits>
#include <vector>

#include "pool/current_num_threads.hpp"
#include "pool/join.hpp"
#include "pool/piece_tally.hpp"
#include "pool/splitter.hpp"

namespace orven::pool {
namespace detail {

// Maps indices [begin, end) into `slots`: divided in two with a join while
// the splitter says so, otherwise one index after the other, in ascending
// order, each result into its own slot.  Pieces touch disjoint slots, and
// the join publishes a piece's writes to the thread that continues.
template <class R, class F>
PieceTally map_piece(std::size_t begin, std::size_t end, Splitter splitter,
                     std::vector<R>& slots, F& map_one, bool migrated) {
    if (splitter.try_split(end - begin, migrated)) {
        const std::size_t middle = begin + (end - begin) / 2;
        auto [left, right] = join_context(
            [&](bool moved) { return map_piece(begin, middle, splitter, slots, map_one, moved); },
            [&](bool moved) { return map_piece(middle, end, splitter, slots, map_one, moved); });
        return left.followed_by(right);
    }
    PieceTally tally{begin, 0};
    for (std::size_t i = begin; i < end; ++i) {
        slots[i] = map_one(i);
        ++tally.written;
    }
    return tally;
}

}  // namespace detail

// Computes map_one(i) for every i in [0, count), in parallel on the current
// pool, and returns the results in index order whatever the scheduling.
// The result storage is made once, at its full size, before any work; then
// each result is moved into its own slot.  Asks for the worker count on
// every call, which creates the process-wide pool if needed, even when
// `count` is 0.  If any map_one fails, every other piece still runs to its
// end, the partial results are destroyed, and one failure is raised here.
template <class F>
auto parallel_map(std::size_t count, F&& map_one)
    -> std::vector<std::invoke_result_t<F&, std::size_t>> {
    using R = std::invoke_result_t<F&, std::size_t>;
    static_assert(std::is_default_constructible_v<R> && std::is_move_assignable_v<R>,
                  "results are moved into slots made up front");

    const Splitter splitter(current_num_threads());
    std::vector<R> slots(count);
    const PieceTally tally = detail::map_piece(0, count, splitter, slots, map_one, false);
    require_every_slot_written(tally, count);
    return slots;
}

}  // namespace orven::pool
