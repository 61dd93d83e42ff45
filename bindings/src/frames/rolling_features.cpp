// rolling_features(call), top to bottom: read the call and the windows'
// shape, code the keys, group the rows with their times, drop or find NaN,
// list the windows, compute them on the pool, lay the result out.

#include "frames/rolling_features.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "call/held_array.hpp"
#include "call/signal_poll.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "features/rolling/count_windows.hpp"
#include "features/rolling/refused_windows.hpp"
#include "features/rolling/rolling_in_progress.hpp"
#include "features/rolling/time_windows.hpp"
#include "features/rolling/window.hpp"
#include "frames/frame_call.hpp"
#include "frames/frame_entry.hpp"
#include "frames/grouped_columns.hpp"
#include "frames/grouping.hpp"
#include "frames/row_keys.hpp"
#include "frames/series_table.hpp"
#include "frames/work_with_progress.hpp"
#include "memory/block_cache.hpp"
#include "memory/row_buffer.hpp"
#include "python/entry_point.hpp"
#include "python/handles.hpp"
#include "python/released_interpreter.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;
using features::common::SeriesView;
using features::minimal::feature_count;
using features::rolling::FeatureColumns;
using features::rolling::CountWindowShape;
using features::rolling::SeriesWindows;
using features::rolling::TimeWindowShape;
using features::rolling::Window;
using python::PyRef;

ErrorValue misuse(const std::string& why) {
    return ErrorValue::with_message(PyExc_TypeError, "rolling_features: " + why);
}

// ---------------------------------------------------------------- shape

struct WindowShape {
    bool counted = false;
    CountWindowShape count{1, 1, 1};
    TimeWindowShape<std::int64_t> integer{1, std::nullopt, 1};
    TimeWindowShape<double> floating{1.0, std::nullopt, 1};
    // The time column's words are float64 (else int64).
    bool floating_times = false;
    // window_message(id_row, kind_row, value, why) for times that cannot be windowed.
    PyRef window_message;
};

Result<PyRef> attribute(PyObject* object, const char* name) {
    return errors::checked(PyObject_GetAttrString(object, name));
}

Result<std::size_t> count_attribute(PyObject* object, const char* name) {
    Result<PyRef> value = attribute(object, name);
    if (!value.ok()) return std::move(value).error();
    const std::size_t count = PyLong_AsSize_t(value.value().get());
    if (count == static_cast<std::size_t>(-1) && PyErr_Occurred() != nullptr) return errors::fetch();
    return count;
}

// None, or a number of the time column's type.
template <class Time>
Result<std::optional<Time>> time_attribute(PyObject* object, const char* name) {
    Result<PyRef> value = attribute(object, name);
    if (!value.ok()) return std::move(value).error();
    PyObject* number = value.value().get();
    if (number == Py_None) return std::optional<Time>();
    if constexpr (std::is_same_v<Time, double>) {
        const double read = PyFloat_AsDouble(number);
        if (read == -1.0 && PyErr_Occurred() != nullptr) return errors::fetch();
        return std::optional<Time>(read);
    } else {
        const long long read = PyLong_AsLongLong(number);
        if (read == -1 && PyErr_Occurred() != nullptr) return errors::fetch();
        return std::optional<Time>(read);
    }
}

template <class Time>
errors::Status read_time_shape(PyObject* described, TimeWindowShape<Time>& shape) {
    Result<std::optional<Time>> span = time_attribute<Time>(described, "span");
    if (!span.ok()) return std::move(span).error();
    Result<std::optional<Time>> every = time_attribute<Time>(described, "every");
    if (!every.ok()) return std::move(every).error();
    if (!span.value() || !(*span.value() > 0) || (every.value() && !(*every.value() > 0))) {
        return misuse("span (and every, if given) must be positive numbers");
    }
    shape.span = *span.value();
    shape.every = every.value();
    return errors::success();
}

Result<WindowShape> read_shape(PyObject* described, const FrameCall& call) {
    if (!call.time) return misuse("the time column is required");
    WindowShape shape;
    shape.floating_times = call.time->floating;
    Result<PyRef> window_message = attribute(described, "window_message");
    if (!window_message.ok()) return std::move(window_message).error();
    shape.window_message = std::move(window_message).value();
    Result<std::size_t> min_length = count_attribute(described, "min_length");
    if (!min_length.ok()) return std::move(min_length).error();
    Result<PyRef> size = attribute(described, "size");
    if (!size.ok()) return std::move(size).error();
    shape.counted = size.value().get() != Py_None;
    if (shape.counted) {
        Result<std::size_t> count = count_attribute(described, "size");
        if (!count.ok()) return std::move(count).error();
        Result<std::size_t> step = count_attribute(described, "step");
        if (!step.ok()) return std::move(step).error();
        if (count.value() == 0 || step.value() == 0) return misuse("size and step must be at least 1");
        shape.count = CountWindowShape{count.value(), step.value(), min_length.value()};
        return shape;
    }
    shape.integer.min_length = shape.floating.min_length = min_length.value();
    errors::Status read = call.time->floating ? read_time_shape(described, shape.floating)
                                              : read_time_shape(described, shape.integer);
    if (!read.ok()) return std::move(read).error();
    return shape;
}

// ------------------------------------------------------------- grouping

// The value columns and the time gathered in group order.  The time goes
// along as one more column; with several value columns and NaN to drop,
// each column gets its own copy of the times, since dropping compacts a
// column's values and times together.
struct GroupedReadings {
    GroupedColumns columns;
    memory::RowBuffer<double> times;
    bool times_per_column = false;

    double* times_of(std::size_t column) const noexcept {
        return times.get() + (times_per_column ? column * columns.rows : 0);
    }
    SeriesLayout layout(bool has_kind) const noexcept { return columns.layout(has_kind); }
};

Result<GroupedReadings> group_readings(const FrameCall& call, RowKeys& keys, pool::Interruption& interruption) {
    GroupedReadings grouped;
    const std::size_t width = call.values.size();
    grouped.times_per_column = call.drop_nan && width > 1;
    grouped.times = memory::row_buffer<double>(call.rows * (grouped.times_per_column ? width : 1));
    Result<GroupedColumns> columns =
        group_columns(call, keys, reinterpret_cast<const double*>(call.time->array.data()), grouped.times.get(),
                      interruption);
    if (!columns.ok()) return std::move(columns).error();
    grouped.columns = std::move(columns).value();
    for (std::size_t c = 1; grouped.times_per_column && c < width; ++c) {
        std::memcpy(grouped.times_of(c), grouped.times.get(), call.rows * sizeof(double));
    }
    return grouped;
}

// --------------------------------------------------------------- series

// One series' readings in the call's buffers: its values and its times
// (8-byte words of the time column's type).
struct Readings {
    double* values;
    double* times;
    std::size_t size;
};

// Series g * width + c: column c's readings of group g.
std::vector<Readings> readings_of(const GroupedReadings& grouped) {
    std::vector<Readings> series;
    const GroupedColumns& columns = grouped.columns;
    series.reserve(columns.table.groups * columns.width);
    for (std::size_t g = 0; g < columns.table.groups; ++g) {
        const std::uint64_t bucket = columns.table.buckets[g];
        const std::uint64_t start = columns.grouping.start[bucket];
        for (std::size_t c = 0; c < columns.width; ++c) {
            series.push_back(Readings{columns.column(c) + start, grouped.times_of(c) + start,
                                      columns.grouping.size(bucket)});
        }
    }
    return series;
}

// Removes the NaN readings of every series, values and times together.
void drop_nan(std::span<Readings> series) {
    for (Readings& readings : series) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < readings.size; ++i) {
            if (std::isnan(readings.values[i])) continue;
            readings.values[kept] = readings.values[i];
            readings.times[kept] = readings.times[i];
            ++kept;
        }
        readings.size = kept;
    }
}

// -------------------------------------------------------------- windows

// Every series' windows in one buffer, and each window's end as a word of
// the time column's type.
struct WindowList {
    memory::RowBuffer<Window> windows;
    memory::RowBuffer<double> ends;
    std::vector<std::size_t> first;  // series s's windows at [first[s], first[s + 1])
    std::size_t listing = 0;         // the series being listed
    std::size_t total() const noexcept { return first.back(); }
};

template <class Time>
std::span<const Time> times_as(const Readings& readings) {
    return {reinterpret_cast<const Time*>(readings.times), readings.size};
}

template <class Time>
void list_time_windows(std::span<const Readings> series, TimeWindowShape<Time> shape, WindowList& list) {
    for (std::size_t s = 0; s < series.size(); ++s) {
        list.listing = s;
        list.first.push_back(list.first.back() + time_window_total(times_as<Time>(series[s]), shape));
    }
    list.windows = memory::row_buffer<Window>(list.total());
    list.ends = memory::row_buffer<double>(list.total());
    for (std::size_t s = 0; s < series.size(); ++s) {
        const std::size_t count = list.first[s + 1] - list.first[s];
        time_windows(times_as<Time>(series[s]), shape, std::span<Window>(list.windows.get() + list.first[s], count),
                     std::span<Time>(reinterpret_cast<Time*>(list.ends.get() + list.first[s]), count));
    }
}

void list_count_windows(std::span<const Readings> series, CountWindowShape shape, WindowList& list) {
    for (const Readings& readings : series) {
        list.first.push_back(list.first.back() + count_window_total(readings.size, shape));
    }
    list.windows = memory::row_buffer<Window>(list.total());
    list.ends = memory::row_buffer<double>(list.total());
    for (std::size_t s = 0; s < series.size(); ++s) {
        const std::size_t first = list.first[s];
        const std::size_t count = list.first[s + 1] - first;
        count_windows(series[s].size, shape, std::span<Window>(list.windows.get() + first, count));
        // The end of a count window is the time of its last reading.
        for (std::size_t w = first; w < first + count; ++w) {
            list.ends[w] = series[s].times[list.windows[w].end - 1];
        }
    }
}

// ValueError(text), the text worded by the package's callback.
ErrorValue refusal(Result<PyRef> text) {
    return worded_refusal(std::move(text), "rolling_features: the message callbacks must return a str");
}

Result<WindowList> list_windows(const FrameCall& call, const GroupedReadings& grouped,
                                std::span<const Readings> series, const WindowShape& shape) {
    WindowList list;
    list.first.reserve(series.size() + 1);
    list.first.push_back(0);
    try {
        const python::ReleasedInterpreter released;
        if (shape.counted) {
            list_count_windows(series, shape.count, list);
        } else if (shape.floating_times) {
            list_time_windows(series, shape.floating, list);
        } else {
            list_time_windows(series, shape.integer, list);
        }
    } catch (const features::rolling::WindowError& error) {
        const SeriesKeys keys = keys_of(call, grouped.layout(call.has_kind), list.listing);
        return refusal(errors::checked(PyObject_CallFunction(shape.window_message.get(), "LLns", keys.id_row,
                                                             keys.kind_row, keys.value, error.what())));
    }
    return list;
}

// ------------------------------------------------------------------ NaN

Result<PyRef> end_object(double word, bool floating) {
    if (floating) return errors::checked(PyFloat_FromDouble(word));
    std::int64_t integer = 0;
    std::memcpy(&integer, &word, sizeof integer);
    return errors::checked(PyLong_FromLongLong(static_cast<long long>(integer)));
}

// ValueError for the first window holding NaN among two or more readings,
// its text worded by the package; success where there is none.
errors::Status refuse_nan(const FrameCall& call, const GroupedReadings& grouped, std::span<const Readings> series,
                          const WindowList& list, bool floating_times) {
    for (std::size_t s = 0; s < series.size(); ++s) {
        const std::span<const Window> windows(list.windows.get() + list.first[s], list.first[s + 1] - list.first[s]);
        const std::size_t refused = features::rolling::first_refused_window(
            SeriesView(series[s].values, series[s].size), windows);
        if (refused == windows.size()) continue;
        Result<PyRef> end = end_object(list.ends[list.first[s] + refused], floating_times);
        if (!end.ok()) return std::move(end).error();
        const SeriesKeys keys = keys_of(call, grouped.layout(call.has_kind), s);
        return refusal(errors::checked(PyObject_CallFunction(call.nan_message.get(), "LLnO", keys.id_row,
                                                             keys.kind_row, keys.value, end.value().get())));
    }
    return errors::success();
}

// --------------------------------------------------------------- result

template <class T>
Result<PyRef> bytes_from(std::size_t count, T** elements) {
    Result<PyRef> array =
        errors::checked(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * sizeof(T))));
    if (array.ok()) *elements = reinterpret_cast<T*>(PyByteArray_AS_STRING(array.value().get()));
    return array;
}

errors::Status set_item(PyObject* dict, const char* name, Result<PyRef> value) {
    if (!value.ok()) return std::move(value).error();
    if (PyDict_SetItemString(dict, name, value.value().get()) < 0) return errors::fetch();
    return errors::success();
}

// The rest of the result beside the features, whose bytearray the workers
// filled: by then the readings and the windows are let go of, so that the
// call's peak is the features and the buffers of the readings, not both
// and the result's other columns.
Result<PyRef> window_table(const FrameCall& call, const GroupedReadings& grouped, const WindowList& list,
                           PyRef features) {
    const std::size_t total = list.total();
    Result<PyRef> dict = errors::checked(PyDict_New());
    if (!dict.ok()) return dict;
    std::int64_t* id_rows = nullptr;
    std::int64_t* kinds = nullptr;
    double* ends = nullptr;
    Result<PyRef> id_bytes = bytes_from(total, &id_rows);
    Result<PyRef> kind_bytes = bytes_from(total, &kinds);
    Result<PyRef> end_bytes = bytes_from(total, &ends);
    if (!id_bytes.ok() || !kind_bytes.ok() || !end_bytes.ok()) return errors::fetch();
    for (std::size_t s = 0; s + 1 < list.first.size(); ++s) {
        const SeriesKeys keys = keys_of(call, grouped.layout(call.has_kind), s);
        const std::int64_t kind = call.has_kind ? keys.kind_row : static_cast<std::int64_t>(keys.value);
        for (std::size_t w = list.first[s]; w < list.first[s + 1]; ++w) {
            id_rows[w] = keys.id_row;
            kinds[w] = kind;
        }
    }
    if (total > 0) std::memcpy(ends, list.ends.get(), total * sizeof(double));
    Result<PyRef> feature_bytes(std::move(features));
    const std::pair<const char*, Result<PyRef>*> items[] = {
        {"id_rows", &id_bytes}, {"kinds", &kind_bytes}, {"ends", &end_bytes}, {"features", &feature_bytes}};
    for (auto& [name, value] : items) {
        errors::Status set = set_item(dict.value().get(), name, std::move(*value));
        if (!set.ok()) return std::move(set).error();
    }
    return dict;
}

// ------------------------------------------------------------- the call

Result<PyRef> rolling_features(PyObject* described, call::CallBorrows& borrows, call::SignalPoll& signals) {
    Result<FrameCall> read = read_frame_call(described, borrows);
    if (!read.ok()) return std::move(read).error();
    FrameCall& call = read.value();
    Result<WindowShape> shape = read_shape(described, call);
    if (!shape.ok()) return std::move(shape).error();
    Result<RowKeys> keys = row_keys(call, signals.interruption());
    if (!keys.ok()) return std::move(keys).error();
    errors::Status unchanged = call.check_columns_unchanged();
    if (!unchanged.ok()) return std::move(unchanged).error();
    Result<GroupedReadings> grouped = group_readings(call, keys.value(), signals.interruption());
    if (!grouped.ok()) return std::move(grouped).error();
    // From here on the call reads only buffers of its own.
    keys.value().key.reset();
    call.release_arrays();

    std::vector<Readings> series = readings_of(grouped.value());
    if (call.drop_nan && grouped.value().columns.grouping.any_nan) drop_nan(series);
    Result<WindowList> list = list_windows(call, grouped.value(), series, shape.value());
    if (!list.ok()) return std::move(list).error();
    if (!call.drop_nan) {
        errors::Status nan = refuse_nan(call, grouped.value(), series, list.value(), shape.value().floating_times);
        if (!nan.ok()) return std::move(nan).error();
    }
    std::vector<SeriesWindows> windows;
    windows.reserve(series.size());
    for (std::size_t s = 0; s < series.size(); ++s) {
        const std::size_t first = list.value().first[s];
        windows.push_back(SeriesWindows{SeriesView(series[s].values, series[s].size),
                                        std::span<const Window>(list.value().windows.get() + first,
                                                                list.value().first[s + 1] - first)});
    }
    // The result is new memory of about 100 bytes a window, more than the
    // readings' buffers: the blocks the keys took, held for the next call,
    // go back to the system first, and so do the readings' after the
    // windows are computed, so that the call's peak holds either the
    // readings or the result, not both.
    memory::block_cache::release_all();
    // The workers write each window's features straight into the result,
    // one contiguous column per feature, which the frame libraries adopt.
    const std::size_t total = list.value().total();
    double* columns = nullptr;
    Result<PyRef> features = bytes_from(total * feature_count, &columns);
    if (!features.ok()) return std::move(features).error();
    errors::Status computed = work_with_progress(total, signals, call.progress.get(), [&] {
        return features::rolling::RollingInProgress(windows, FeatureColumns{columns, total}, &signals.interruption());
    });
    if (!computed.ok()) return std::move(computed).error();
    windows = {};
    list.value().windows.reset();
    grouped.value().columns.gathered.reset();
    grouped.value().times.reset();
    memory::block_cache::release_all();
    return window_table(call, grouped.value(), list.value(), std::move(features).value());
}

}  // namespace

PyObject* rolling_features_entry(PyObject* /*module*/, PyObject* call) noexcept {
    return errors::entry_point([&] {
        return with_call_state([&](call::CallBorrows& borrows, call::SignalPoll& signals) {
            return rolling_features(call, borrows, signals);
        });
    });
}

}  // namespace orven::bindings::frames
