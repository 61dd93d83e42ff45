#pragma once

// The features of a call's series laid out as its result needs them, with
// the rows that key them: the dict that group_features returns
// (group_features.hpp documents its entries).  This is the one place the
// features change layout, from one record per series (what the pool
// computes) to one contiguous run per result column.

#include <cstddef>
#include <span>

#include "features/minimal/feature_values.hpp"
#include "frames/series_table.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

// Where the series of a call come from: `width` value columns per group
// (series g * width + c is column c of group g), the groups those of
// `table`, a kind column or not.
struct SeriesLayout {
    const SeriesTable& table;
    std::size_t width;
    bool has_kind;

    std::size_t series() const noexcept { return table.groups * width; }
    // The kinds of the result: those of the kind column, else the value
    // columns (one when the input is long without a kind).
    std::size_t kinds() const noexcept { return has_kind ? table.kinds : width; }
    std::size_t id_of(std::size_t series) const noexcept {
        return static_cast<std::size_t>(table.id_of_group[series / width]);
    }
    std::size_t kind_of(std::size_t series) const noexcept {
        return has_kind ? static_cast<std::size_t>(table.kind_of_group[series / width]) : series % width;
    }
};

// wide: one row per id, each kind's features in columns of their own;
// else one row per series.
errors::Result<python::PyRef> feature_table(const SeriesLayout& layout, bool wide,
                                            std::span<const features::minimal::FeatureValues> values);

}  // namespace orven::bindings::frames
