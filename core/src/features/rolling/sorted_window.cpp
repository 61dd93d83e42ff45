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
// every comparison of a binary search is a coin toss, which a predicted
// branch loses half the time.
std::size_t taken(bool take, std::size_t half) {
    return half & (std::size_t{0} - static_cast<std::size_t>(take));
}

// The first of values[0, count) that is not below `value`: where the
// oldest reading equal to it stands.
std::size_t lower_bound(const double* values, std::size_t count, double value) {
    if (count == 0) return 0;
    std::size_t base = 0;
    while (count > 1) {
        const std::size_t half = count / 2;
        base += taken(values[base + half - 1] < value, half);
        count -= half;
    }
    return base + (values[base] < value ? 1 : 0);
}

// The first of values[0, count) above `value`: where a reading equal to it
// goes after all its equals.
std::size_t upper_bound(const double* values, std::size_t count, double value) {
    if (count == 0) return 0;
    std::size_t base = 0;
    while (count > 1) {
        const std::size_t half = count / 2;
        base += taken(!(value < values[base + half - 1]), half);
        count -= half;
    }
    return base + (value < values[base] ? 0 : 1);
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
    // Sliding costs a search and a move per reading that enters or leaves;
    // past the cost of a sort, sort.
    const std::size_t leaving = window.begin - held.begin;
    const std::size_t entering = window.end - held.end;
    const std::size_t length = std::max<std::size_t>(window.size(), 2);
    const std::size_t log_length = static_cast<std::size_t>(std::bit_width(length));
    if ((leaving + entering) * (log_length + length / 16) > 2 * length * log_length) {
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
