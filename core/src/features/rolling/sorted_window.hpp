#pragma once

// The readings of a window in the stable ascending order, slid along the
// series: what gives a window's median, lowest and highest value without
// sorting the window.
//
// The stable order is the one the median is defined by: equal readings in
// series order, +0.0 and -0.0 counting as equal.  It is kept as readings
// come and go in index order: a reading that enters is the youngest of the
// window and goes after every reading equal to it (upper bound); the one
// that leaves is the oldest and stands first among its equals (lower
// bound).  NaN readings never enter: a window holding one is left to
// minimal::compute (a single NaN is its own median; two or more readings
// with a NaN are refused there).
//
// Cost: a reading that enters or leaves costs a binary search, log2(w)
// steps, and a move of the readings between its place and the place of its
// partner (the reading that leaves as it enters), a third of the window on
// average: w / 3 doubles, at memory-copy speed a small part of the w
// additions each of the window's sums costs anyway.  A window that does not
// overlap the last one, or that would cost more to slide to than to sort,
// is sorted afresh: O(w log w).  Memory: one double per reading of the
// longest window.

#include <cmath>
#include <cstddef>
#include <memory>

#include "features/rolling/window.hpp"

namespace orven::features::rolling {

class SortedWindow {
public:
    // Holds the readings of `window` of `series` (and forgets its last one).
    void sort_afresh(const double* series, Window window);

    // Forgets the window held: the next slide sorts afresh.
    void forget() noexcept { holding_ = false; }

    // Moves on from the window held to `window` (begin and end both at or
    // after the held ones).
    void slide(const double* series, Window window);

    // Readings held: those of the window that are not NaN.
    std::size_t size() const noexcept { return size_; }
    double lowest() const noexcept { return values_[0]; }
    double highest() const noexcept { return values_[size_ - 1]; }
    // Whether zeros of both signs are held: then which zero a maximum or
    // minimum of zero is depends on where the zeros stand.
    bool holds_both_zeros() const noexcept { return negative_zeros_ > 0 && positive_zeros_ > 0; }
    // The median of the held readings (at least one), with the bits of the
    // definition: the middle one, or (lower + upper) * 0.5 of the middle two.
    double median() const noexcept;

private:
    void reserve(std::size_t count);
    // Counts a zero that enters (+1) or leaves (-1), without a jump.
    void count_zero(double value, std::size_t change) noexcept {
        const std::size_t zero = change & (std::size_t{0} - static_cast<std::size_t>(value == 0.0));
        const std::size_t negative = std::size_t{0} - static_cast<std::size_t>(std::signbit(value));
        negative_zeros_ += zero & negative;
        positive_zeros_ += zero & ~negative;
    }
    void insert(double value) noexcept;
    void erase(double value) noexcept;
    void replace(double leaving, double entering) noexcept;

    std::unique_ptr<double[]> values_;
    std::size_t capacity_ = 0;
    std::size_t size_ = 0;
    Window window_{0, 0};
    bool holding_ = false;
    std::size_t negative_zeros_ = 0;
    std::size_t positive_zeros_ = 0;
};

}  // namespace orven::features::rolling
