#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "fatal/fatal_error.hpp"
#include "pool/global_pool.hpp"
#include "pool/interruption.hpp"
#include "pool/join.hpp"

namespace orven::pool {
namespace detail {

// Decides when a parallel map divides a piece of its index range in two.
// It starts with a budget of one split per worker, which yields one to two
// pieces per worker; each split halves the budget of both halves.  A piece
// that was stolen shows that some worker ran out of work, so it gets a
// fresh budget and divides further.  A piece of one element never divides.
class Splitter {
public:
    explicit Splitter(std::size_t workers) noexcept : workers_(workers), budget_(workers) {}

    bool try_split(std::size_t length, bool migrated) noexcept {
        if (length < 2) {
            return false;
        }
        if (migrated) {
            budget_ = std::max(workers_, budget_ / 2);
            return true;
        }
        if (budget_ == 0) {
            return false;
        }
        budget_ /= 2;
        return true;
    }

private:
    std::size_t workers_;
    std::size_t budget_;
};

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
inline void require_every_slot_written(const PieceTally& tally, std::size_t count) {
    if (tally.begin != 0 || tally.written != count) {
        fatal::raise("expected " + std::to_string(count) + " total writes but got " +
                     std::to_string(tally.written));
    }
}

// Maps indices [begin, end) into `slots`: divided in two with a join while
// the splitter says so, otherwise one index after the other, in ascending
// order, each result into its own slot.  Pieces touch disjoint slots, and
// the join publishes a piece's writes to the thread that continues.  A
// cancelled interruption stops a piece before its next element.
template <class R, class F>
PieceTally map_piece(std::size_t begin, std::size_t end, Splitter splitter, R* slots,
                     F& map_one, bool migrated, Interruption* interruption) {
    if (splitter.try_split(end - begin, migrated)) {
        const std::size_t middle = begin + (end - begin) / 2;
        auto [left, right] = join_context(
            [&](bool moved) {
                return map_piece(begin, middle, splitter, slots, map_one, moved, interruption);
            },
            [&](bool moved) {
                return map_piece(middle, end, splitter, slots, map_one, moved, interruption);
            },
            interruption);
        return left.followed_by(right);
    }
    PieceTally tally{begin, 0};
    for (std::size_t i = begin; i < end; ++i) {
        if (interruption != nullptr && interruption->cancelled()) {
            break;
        }
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
//
// With an interruption, a thread outside the pool polls it while it waits
// for the workers.  Once it is cancelled no piece starts another element;
// when the running ones have ended, Interrupted is raised here (a failure
// of some element, if there was one, instead).  A map that never waits for
// the pool (one element, on a thread outside it) is never polled.
template <class F>
auto parallel_map(std::size_t count, F&& map_one, Interruption* interruption = nullptr)
    -> std::vector<std::invoke_result_t<F&, std::size_t>> {
    using R = std::invoke_result_t<F&, std::size_t>;
    static_assert(std::is_default_constructible_v<R> && std::is_move_assignable_v<R>,
                  "results are moved into slots made up front");

    const detail::Splitter splitter(current_num_threads());
    std::vector<R> slots(count);
    const detail::PieceTally tally =
        detail::map_piece(0, count, splitter, slots.data(), map_one, false, interruption);
    if (interruption != nullptr && interruption->cancelled()) {
        throw Interrupted{};
    }
    detail::require_every_slot_written(tally, count);
    return slots;
}

// The same, into storage the caller provides: slots[i] = map_one(i) for
// every i, the slots made (and, if it fails, left) by the caller.  For a
// caller that keeps one flat buffer for a whole call instead of a vector
// per map.  An interruption works as for parallel_map.
template <class R, class F>
void parallel_map_into(std::span<R> slots, F&& map_one, Interruption* interruption = nullptr) {
    static_assert(std::is_move_assignable_v<R>, "results are moved into the caller's slots");
    const detail::Splitter splitter(current_num_threads());
    const detail::PieceTally tally =
        detail::map_piece(0, slots.size(), splitter, slots.data(), map_one, false, interruption);
    if (interruption != nullptr && interruption->cancelled()) {
        throw Interrupted{};
    }
    detail::require_every_slot_written(tally, slots.size());
}

}  // namespace orven::pool
