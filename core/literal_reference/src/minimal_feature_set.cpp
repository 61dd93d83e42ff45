// The statistics exactly as defined, with nothing shared between them but
// the arithmetic: plain loops that take the elements one at a time in index
// order, no fused passes, no vector lanes, the median by a stable sort.
// Slow on purpose, so that each can be checked against its definition by
// reading it.

#include "literal_reference/minimal_feature_set.hpp"

#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <string>

#include "features/common/element_read.hpp"
#include "literal_reference/feature_function.hpp"
#include "features/minimal/functional.hpp"
#include "features/minimal/kernels/moments.hpp"
#include "features/minimal/kernels/two_lanes.hpp"

namespace orven::features::minimal::oop {
namespace {

// Only for its scalar arithmetic: each IEEE 754 operation by itself, with
// the NaNs that x86-64 makes from numbers (see two_lanes.hpp).
using kernels::lanes;

constexpr double inf = std::numeric_limits<double>::infinity();

common::FeatureRecordList one_record(std::string_view name, double value) {
    common::FeatureRecordList records;
    records.push_back(common::FeatureFunctionReturn{std::string(name), value});
    return records;
}

double count(common::SeriesView x) { return kernels::count_of(x); }

// One accumulator from -0.0, adding term(x_i) for i = 0, 1, ... in order.
template <typename Term>
double sequential_sum(common::SeriesView x, Term term) {
    double accumulator = -0.0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        accumulator = lanes::add(accumulator, term(common::element_at(x, i)));
    }
    return accumulator;
}

double sum(common::SeriesView x) {
    return sequential_sum(x, [](double v) { return v; });
}

double mean(common::SeriesView x) { return lanes::divide(sum(x), count(x)); }

// Both passes, as Variance and StandardDeviation each form it.
double variance(common::SeriesView x) {
    if (x.empty()) {
        return kernels::positive_quiet_nan;
    }
    const double m = mean(x);
    const double q = sequential_sum(x, [m](double v) {
        const double d = lanes::subtract(v, m);
        return lanes::multiply(d, d);
    });
    return lanes::divide(q, count(x));
}

// The four-block fold of the extrema: `value` is what an element
// contributes, `beats(a, b)` is a > b for a maximum and a < b for a
// minimum, and a block holding a NaN element ends the block phase.
template <typename Value, typename Beats>
double block_fold(common::SeriesView x, double start, Value value, Beats beats) {
    auto step = [&](double accumulator, double v) {
        if (std::isnan(accumulator)) return v;
        return beats(v, accumulator) ? v : accumulator;
    };
    auto join = [&](double p, double q) {
        if (std::isnan(q)) return p;
        return beats(p, q) ? p : q;
    };
    auto at = [&](std::size_t i) { return common::element_at(x, i); };
    const std::size_t n = x.size();
    if (n < 4) {
        double accumulator = start;
        for (std::size_t i = 0; i < n; ++i) accumulator = step(accumulator, value(at(i)));
        return accumulator;
    }
    double partial[4] = {start, start, start, start};
    std::size_t next = 0;  // the first element not folded in the block phase
    for (std::size_t b = 0; b + 3 < n; b += 4) {
        if (std::isnan(at(b)) || std::isnan(at(b + 1)) || std::isnan(at(b + 2)) ||
            std::isnan(at(b + 3))) {
            break;
        }
        for (std::size_t j = 0; j < 4; ++j) partial[j] = step(partial[j], value(at(b + j)));
        next = b + 4;
    }
    const double a = join(partial[2], partial[0]);
    const double b = join(partial[3], partial[1]);
    double accumulator = join(b, a);
    for (std::size_t i = next; i < n; ++i) accumulator = step(accumulator, value(at(i)));
    return accumulator;
}

double itself(double v) { return v; }
double magnitude(double v) { return std::fabs(v); }
bool greater(double a, double b) { return a > b; }
bool less(double a, double b) { return a < b; }

template <common::FeatureFunction... Statistic>
common::FeatureRecordList apply_in_order(common::SeriesView series) {
    common::FeatureRecordList records;
    auto append = [&](common::FeatureRecordList&& more) {
        records.insert(records.end(), std::make_move_iterator(more.begin()),
                       std::make_move_iterator(more.end()));
    };
    (append(Statistic{}.apply(series)), ...);
    return records;
}

}  // namespace

common::FeatureRecordList AbsoluteMaximum::apply(common::SeriesView x) const {
    return one_record(name, block_fold(x, -inf, magnitude, greater));
}

common::FeatureRecordList Mean::apply(common::SeriesView x) const {
    return one_record(name, mean(x));
}

common::FeatureRecordList Median::apply(common::SeriesView x) const {
    return one_record(name, functional::median(x));
}

common::FeatureRecordList Variance::apply(common::SeriesView x) const {
    return one_record(name, variance(x));
}

common::FeatureRecordList StandardDeviation::apply(common::SeriesView x) const {
    return one_record(name, std::sqrt(variance(x)));
}

common::FeatureRecordList Length::apply(common::SeriesView x) const {
    return one_record(name, count(x));
}

common::FeatureRecordList Maximum::apply(common::SeriesView x) const {
    return one_record(name, block_fold(x, -inf, itself, greater));
}

common::FeatureRecordList Minimum::apply(common::SeriesView x) const {
    return one_record(name, block_fold(x, inf, itself, less));
}

common::FeatureRecordList RootMeanSquare::apply(common::SeriesView x) const {
    const double r = sequential_sum(x, [](double v) { return lanes::multiply(v, v); });
    return one_record(name, std::sqrt(lanes::divide(r, count(x))));
}

common::FeatureRecordList SumValues::apply(common::SeriesView x) const {
    return one_record(name, sum(x));
}

common::FeatureRecordList MinimalFeatureSet::apply(common::SeriesView series) const {
    return apply_in_order<AbsoluteMaximum, Mean, Median, Variance, StandardDeviation, Length,
                          Maximum, Minimum, RootMeanSquare, SumValues>(series);
}

static_assert(common::FeatureFunction<MinimalFeatureSet>);

}  // namespace orven::features::minimal::oop
