#include "features/rolling/sorted_window.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "features/common/element_read.hpp"
#include "features/minimal/kernels/two_lanes.hpp"
#include "memory/buffer.hpp"

namespace orven::features::rolling {
namespace {

using minimal::kernels::lanes;

// Half of `half` or nothing, as a mask rather than a jump: on real data
// every comparison of a search is a coin toss, which a predicted branch
// loses half the time.
std::size_t taken(bool take, std::size_t half) {
    return half & (std::size_t{0} - static_cast<std::size_t>(take));
}

// Whether a held reading stands before a reading `value` that is being
// placed: below it (inclusive = false, where the oldest of its equals
// stands) or at most at it (inclusive = true, after all its equals).
template <bool inclusive>
bool before(double held, double value) {
    return inclusive ? !(value < held) : held < value;
}

// How many of the sorted values[0, count) stand before `value`: its place.
// In two levels, since a binary search is a chain of dependent loads and
// compares: the blocks of eight whose last element stands before it are
// counted (side by side, none waiting for another), or for more than 64
// blocks searched for eight ways at a time; then the elements of the one
// block that holds the place are counted.  Measured against a plain binary search over the
// whole array: about half the time up to a few hundred readings.
template <bool inclusive>
std::size_t place(const double* values, std::size_t count, double value) {
    constexpr std::size_t block = 8;
    constexpr std::size_t counted_blocks = 64;
    const std::size_t blocks = count / block;
    const auto last_of = [&](std::size_t b) { return values[b * block + block - 1]; };
    std::size_t full = 0;
    if (blocks <= counted_blocks) {
        const lanes::Pair bound = lanes::splat(value);
        lanes::Tally tally = lanes::zero_tally();
        std::size_t b = 0;
        for (; b + 2 <= blocks; b += 2) {
            const lanes::Pair lasts = lanes::pair(last_of(b), last_of(b + 1));
            tally = lanes::count(tally, inclusive ? lanes::less_equal(lasts, bound)
                                                  : lanes::less(lasts, bound));
        }
        full = lanes::total(tally);
        if (b < blocks) full += before<inclusive>(last_of(b), value) ? 1 : 0;
    } else {
        // The place lies in blocks [full, full + left].  Seven pivots a
        // round, compared side by side, narrow it eightfold: a third of
        // the rounds of halving, each hardly longer.
        std::size_t left = blocks;
        while (left >= 16) {
            const std::size_t eighth = left / 8;
            std::size_t passed = 0;
            for (std::size_t j = 1; j < 8; ++j) {
                passed += before<inclusive>(last_of(full + j * eighth - 1), value) ? 1 : 0;
            }
            full += passed * eighth;
            left = passed == 7 ? left - 7 * eighth : eighth;
        }
        while (left > 1) {
            const std::size_t half = left / 2;
            full += taken(before<inclusive>(last_of(full + half - 1), value), half);
            left -= half;
        }
        full += before<inclusive>(last_of(full), value) ? 1 : 0;
    }
    const std::size_t start = full * block;
    const std::size_t end = std::min(count, start + block);
    std::size_t at = start;
    for (std::size_t i = start; i < end; ++i) at += before<inclusive>(values[i], value) ? 1 : 0;
    return at;
}

// Where the oldest reading equal to `value` stands.
std::size_t lower_bound(const double* values, std::size_t count, double value) {
    return place<false>(values, count, value);
}

// Where a reading equal to `value` goes, after all its equals.
std::size_t upper_bound(const double* values, std::size_t count, double value) {
    return place<true>(values, count, value);
}

bool is_nan(double value) { return value != value; }

}  // namespace

void SortedWindow::reserve(std::size_t count) {
    if (count > capacity_) {
        const std::size_t grown = std::max(count, capacity_ + capacity_ / 2);
        auto larger = memory::uninitialized_buffer<double>(grown);
        if (size_ > 0) std::memcpy(larger.get(), values_.get(), size_ * sizeof(double));
        values_ = std::move(larger);
        capacity_ = grown;
    }
}


void SortedWindow::sort_afresh(const double* series, Window window) {
    reserve(window.size());
    double* values = values_.get();
    size_ = 0;
    negative_zeros_ = 0;
    positive_zeros_ = 0;
    for (std::size_t i = window.begin; i < window.end; ++i) {
        const double value = common::element_at(series, i);
        values[size_] = value;
        size_ += is_nan(value) ? 0 : 1;
        count_zero(value, 1);
    }
    // The library's sort does not keep equal values in order, which matters
    // only for the zeros: they are written again, in series order, over the
    // run where they stand together.
    std::sort(values, values + size_);
    if (negative_zeros_ > 0 && positive_zeros_ > 0) {
        std::size_t at = lower_bound(values, size_, 0.0);
        for (std::size_t i = window.begin; i < window.end; ++i) {
            const double value = common::element_at(series, i);
            if (value == 0.0) values[at++] = value;
        }
    }
    window_ = window;
    holding_ = true;
}

void SortedWindow::insert(double value) noexcept {
    double* values = values_.get();
    const std::size_t at = upper_bound(values, size_, value);
    std::memmove(values + at + 1, values + at, (size_ - at) * sizeof(double));
    values[at] = value;
    ++size_;
    count_zero(value, 1);
}

void SortedWindow::erase(double value) noexcept {
    double* values = values_.get();
    const std::size_t at = lower_bound(values, size_, value);
    std::memmove(values + at, values + at + 1, (size_ - at - 1) * sizeof(double));
    --size_;
    count_zero(value, std::size_t{0} - 1);
}

// One move for a reading that leaves and one that enters: only the
// readings between their places shift, by one.
void SortedWindow::replace(double leaving, double entering) noexcept {
    double* values = values_.get();
    const std::size_t out = lower_bound(values, size_, leaving);
    const std::size_t in = upper_bound(values, size_, entering);
    if (in > out) {
        std::memmove(values + out, values + out + 1, (in - out - 1) * sizeof(double));
        values[in - 1] = entering;
    } else {
        std::memmove(values + in + 1, values + in, (out - in) * sizeof(double));
        values[in] = entering;
    }
    count_zero(leaving, std::size_t{0} - 1);
    count_zero(entering, 1);
}

void SortedWindow::slide(const double* series, Window window) {
    const Window held = window_;
    if (!holding_ || window.begin >= held.end) {
        sort_afresh(series, window);
        return;
    }
    // Sliding costs a search and a move per reading that enters or leaves,
    // about log2(w) + w / 64 each; past about twice a selection's cost (a
    // sort costs more), sort.
    const std::size_t leaving = window.begin - held.begin;
    const std::size_t entering = window.end - held.end;
    const std::size_t length = std::max<std::size_t>(window.size(), 2);
    const std::size_t log_length = static_cast<std::size_t>(std::bit_width(length));
    if ((leaving + entering) * (64 * log_length + length) > 2 * 2 * 64 * length) {
        sort_afresh(series, window);
        return;
    }
    reserve(size_ + entering);
    const std::size_t paired = std::min(leaving, entering);
    for (std::size_t i = 0; i < paired; ++i) {
        const double old_value = common::element_at(series, held.begin + i);
        const double new_value = common::element_at(series, held.end + i);
        if (is_nan(old_value)) {
            if (!is_nan(new_value)) insert(new_value);
        } else if (is_nan(new_value)) {
            erase(old_value);
        } else {
            replace(old_value, new_value);
        }
    }
    for (std::size_t i = held.begin + paired; i < window.begin; ++i) {
        const double value = common::element_at(series, i);
        if (!is_nan(value)) erase(value);
    }
    for (std::size_t i = held.end + paired; i < window.end; ++i) {
        const double value = common::element_at(series, i);
        if (!is_nan(value)) insert(value);
    }
    window_ = window;
}

double SortedWindow::median() const noexcept {
    const double* values = values_.get();
    const std::size_t half = size_ / 2;
    if (size_ % 2 == 1) return values[half];
    return lanes::multiply(lanes::add(values[half - 1], values[half]), 0.5);
}

}  // namespace orven::features::rolling
