// group_features(call), top to bottom: read the call, code the keys, group
// the rows, refuse or drop NaN, compute, lay the result out.

#include "frames/group_features.hpp"

#include <cmath>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

#include "call/held_array.hpp"
#include "call/signal_poll.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "frames/compute_features.hpp"
#include "frames/feature_table.hpp"
#include "frames/frame_call.hpp"
#include "frames/grouping.hpp"
#include "frames/row_keys.hpp"
#include "frames/series_table.hpp"
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

// ------------------------------------------------------------- grouping

// Every value column gathered into one call-owned buffer in group order
// (column c's rows at [c * rows, (c + 1) * rows)), and the groups.
struct GroupedValues {
    std::size_t width = 0;
    std::size_t rows = 0;
    memory::RowBuffer<double> gathered;
    GroupedRows grouping;
    SeriesTable table;

    SeriesLayout layout(bool has_kind) const noexcept { return SeriesLayout{table, width, has_kind}; }
};

Result<GroupedValues> group_values(const FrameCall& call, RowKeys& keys, pool::Interruption& interruption) {
    GroupedValues grouped;
    grouped.width = call.values.size();
    grouped.rows = call.rows;
    grouped.gathered = memory::row_buffer<double>(grouped.rows * grouped.width);
    std::vector<const double*> sources;
    std::vector<double*> targets;
    for (std::size_t c = 0; c < grouped.width; ++c) {
        sources.push_back(reinterpret_cast<const double*>(call.values[c].array.data()));
        targets.push_back(grouped.gathered.get() + c * grouped.rows);
    }
    const TimeColumn time = call.time ? call.time->column() : TimeColumn{};
    grouped.grouping = group_rows(*keys.key, time, sources, targets, interruption);
    switch (grouped.grouping.time_problem) {
        case GroupedRows::TimeProblem::null: return ErrorValue::with_message(PyExc_ValueError, call.time->texts.null);
        case GroupedRows::TimeProblem::nan: return ErrorValue::with_message(PyExc_ValueError, call.time->texts.nan);
        case GroupedRows::TimeProblem::none: break;
    }
    grouped.table = tabulate(*keys.key, grouped.grouping, keys.kind_range, call.has_kind);
    return grouped;
}

// --------------------------------------------------------------- series

struct SeriesList {
    std::unique_ptr<SeriesView[]> views;
    std::size_t count = 0;

    std::span<SeriesView> span() noexcept { return {views.get(), count}; }
};

// Series g * width + c: column c's readings of group g.
SeriesList series_of(const GroupedValues& grouped) {
    SeriesList series;
    series.count = grouped.table.groups * grouped.width;
    series.views = memory::uninitialized_buffer<SeriesView>(series.count);
    for (std::size_t g = 0; g < grouped.table.groups; ++g) {
        const std::uint64_t bucket = grouped.table.buckets[g];
        for (std::size_t c = 0; c < grouped.width; ++c) {
            const double* begin = grouped.gathered.get() + c * grouped.rows + grouped.grouping.start[bucket];
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
    const std::int64_t id_row = layout.table.id_rows[layout.id_of(series)];
    const std::int64_t kind_row = call.has_kind ? layout.table.kind_rows[layout.kind_of(series)] : -1;
    const auto value = static_cast<Py_ssize_t>(series % layout.width);
    Result<PyRef> text = errors::checked(PyObject_CallFunction(call.nan_message.get(), "LLn",
                                                               static_cast<long long>(id_row),
                                                               static_cast<long long>(kind_row), value));
    if (!text.ok()) return std::move(text).error();
    if (!PyUnicode_Check(text.value().get())) {
        return ErrorValue::with_message(PyExc_TypeError, "group_features: nan_message must return a str");
    }
    auto message = std::make_shared<const PyRef>(std::move(text).value());
    return ErrorValue::deferred(PyRef::borrow(PyExc_ValueError), [message] { return message->clone(); });
}

errors::Status refuse_or_drop_nan(const FrameCall& call, GroupedValues& grouped, std::span<SeriesView> series) {
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
    Result<GroupedValues> grouped = group_values(call, keys.value(), signals.interruption());
    if (!grouped.ok()) return std::move(grouped).error();
    // From here on the call reads only buffers of its own.
    keys.value().key.reset();
    call.release_arrays();

    SeriesList series = series_of(grouped.value());
    errors::Status nan = refuse_or_drop_nan(call, grouped.value(), series.span());
    if (!nan.ok()) return std::move(nan).error();
    auto values = memory::row_buffer<FeatureValues>(series.count);
    const std::span<FeatureValues> slots(values.get(), series.count);
    errors::Status computed = compute_features(series.span(), slots, signals, call.progress.get());
    if (!computed.ok()) return std::move(computed).error();
    return feature_table(grouped.value().layout(call.has_kind), call.wide, slots);
}

Result<PyRef> run(PyObject* described) {
    call::CallBorrows borrows;
    call::SignalPoll signals;
    try {
        return group_features(described, borrows, signals);
    } catch (const pool::Interrupted&) {
        return signals.take_raised();
    }
}

}  // namespace

PyObject* group_features_entry(PyObject* /*module*/, PyObject* call) noexcept {
    return errors::entry_point([&] { return run(call); });
}

}  // namespace orven::bindings::frames
