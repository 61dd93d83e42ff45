// group_features(call), top to bottom: read the call, code the keys, group
// the rows (grouped_columns), refuse or drop NaN, compute, lay the result out.

#include "frames/group_features.hpp"

#include <cmath>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "call/held_array.hpp"
#include "call/signal_poll.hpp"
#include "extractor/extraction_in_progress.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "frames/feature_table.hpp"
#include "frames/frame_call.hpp"
#include "frames/frame_entry.hpp"
#include "frames/grouped_columns.hpp"
#include "frames/grouping.hpp"
#include "frames/row_keys.hpp"
#include "frames/series_table.hpp"
#include "frames/work_with_progress.hpp"
#include "memory/buffer.hpp"
#include "memory/row_buffer.hpp"
#include "python/entry_point.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;
using features::common::SeriesView;
using features::minimal::FeatureValues;
using python::PyRef;

// --------------------------------------------------------------- series

struct SeriesList {
    std::unique_ptr<SeriesView[]> views;
    std::size_t count = 0;

    std::span<SeriesView> span() noexcept { return {views.get(), count}; }
};

// Series g * width + c: column c's readings of group g.
SeriesList series_of(const GroupedColumns& grouped) {
    SeriesList series;
    series.count = grouped.table.groups * grouped.width;
    series.views = memory::uninitialized_buffer<SeriesView>(series.count);
    for (std::size_t g = 0; g < grouped.table.groups; ++g) {
        const std::uint64_t bucket = grouped.table.buckets[g];
        for (std::size_t c = 0; c < grouped.width; ++c) {
            const double* begin = grouped.column(c) + grouped.grouping.start[bucket];
            series.views[g * grouped.width + c] = SeriesView(begin, grouped.grouping.size(bucket));
        }
    }
    return series;
}

// ------------------------------------------------------------------ NaN

// The first series holding NaN among those of two or more readings, or -1.
std::ptrdiff_t first_nan_series(std::span<const SeriesView> series) {
    for (std::size_t s = 0; s < series.size(); ++s) {
        if (series[s].size() < 2) continue;
        for (double v : series[s]) {
            if (std::isnan(v)) return static_cast<std::ptrdiff_t>(s);
        }
    }
    return -1;
}

// Removes NaN from every series, in place in `gathered`, which they view.
void drop_nan(std::span<SeriesView> series, double* gathered) {
    for (SeriesView& view : series) {
        double* begin = gathered + (view.data() - gathered);
        std::size_t kept = 0;
        for (double v : view) {
            if (!std::isnan(v)) begin[kept++] = v;
        }
        view = SeriesView(begin, kept);
    }
}

// ValueError, its text worded by the package from the frame's own values.
ErrorValue nan_refusal(const FrameCall& call, const SeriesLayout& layout, std::size_t series) {
    const SeriesKeys keys = keys_of(call, layout, series);
    return worded_refusal(errors::checked(PyObject_CallFunction(call.nan_message.get(), "LLn", keys.id_row,
                                                                keys.kind_row, keys.value)),
                          "group_features: nan_message must return a str");
}

errors::Status refuse_or_drop_nan(const FrameCall& call, GroupedColumns& grouped, std::span<SeriesView> series) {
    if (!grouped.grouping.any_nan) return errors::success();
    if (call.drop_nan) {
        drop_nan(series, grouped.gathered.get());
        return errors::success();
    }
    const std::ptrdiff_t refused = first_nan_series(series);
    if (refused < 0) return errors::success();
    return nan_refusal(call, grouped.layout(call.has_kind), static_cast<std::size_t>(refused));
}

// ------------------------------------------------------------- the call

Result<PyRef> group_features(PyObject* described, call::CallBorrows& borrows, call::SignalPoll& signals) {
    Result<FrameCall> read = read_frame_call(described, borrows);
    if (!read.ok()) return std::move(read).error();
    FrameCall& call = read.value();
    Result<RowKeys> keys = row_keys(call, signals.interruption());
    if (!keys.ok()) return std::move(keys).error();
    errors::Status unchanged = call.check_columns_unchanged();
    if (!unchanged.ok()) return std::move(unchanged).error();
    Result<GroupedColumns> grouped = group_columns(call, keys.value(), nullptr, nullptr, signals.interruption());
    if (!grouped.ok()) return std::move(grouped).error();
    // From here on the call reads only buffers of its own.
    keys.value().key.reset();
    call.release_arrays();

    SeriesList series = series_of(grouped.value());
    errors::Status nan = refuse_or_drop_nan(call, grouped.value(), series.span());
    if (!nan.ok()) return std::move(nan).error();
    auto values = memory::row_buffer<FeatureValues>(series.count);
    const std::span<FeatureValues> slots(values.get(), series.count);
    errors::Status computed = work_with_progress(series.count, signals, call.progress.get(), [&] {
        return extractor::ExtractionInProgress(series.span(), slots, &signals.interruption());
    });
    if (!computed.ok()) return std::move(computed).error();
    return feature_table(grouped.value().layout(call.has_kind), call.wide, slots);
}

}  // namespace

PyObject* group_features_entry(PyObject* /*module*/, PyObject* call) noexcept {
    return errors::entry_point([&] {
        return with_call_state([&](call::CallBorrows& borrows, call::SignalPoll& signals) {
            return group_features(call, borrows, signals);
        });
    });
}

}  // namespace orven::bindings::frames
