#include "frames/group_features.hpp"

#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "frames/column_buffer.hpp"
#include "frames/composite_key.hpp"
#include "frames/compute_features.hpp"
#include "frames/grouping.hpp"
#include "frames/call_signals.hpp"
#include "frames/key_readers.hpp"
#include "frames/series_table.hpp"
#include "keys/direct_range.hpp"
#include "memory/row_buffer.hpp"
#include "python/entry_point.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

using memory::RowBuffer;
using memory::row_buffer;
namespace {

using errors::ErrorValue;
using errors::Result;
using features::common::SeriesView;
using features::minimal::FeatureValues;
using features::minimal::feature_count;
using python::PyRef;

ErrorValue misuse(const char* what) {
    return ErrorValue::with_message(PyExc_TypeError, std::string("group_features: ") + what);
}

Result<std::string> text_of(PyObject* object) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_Check(object) ? PyUnicode_AsUTF8AndSize(object, &size) : nullptr;
    if (text == nullptr) {
        if (PyErr_Occurred()) return errors::fetch();
        return misuse("expected a str");
    }
    return std::string(text, static_cast<std::size_t>(size));
}

Result<std::optional<std::int64_t>> optional_integer(PyObject* object) {
    if (object == Py_None) return std::optional<std::int64_t>();
    const long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred()) return errors::fetch();
    return std::optional<std::int64_t>(value);
}

// A bytearray of `count` elements of T, uninitialised.
template <class T>
Result<PyRef> new_bytes(std::size_t count) {
    return errors::checked(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * sizeof(T))));
}

template <class T>
T* bytes_of(const PyRef& array) noexcept {
    return reinterpret_cast<T*>(PyByteArray_AS_STRING(array.get()));
}

template <class T>
Result<PyRef> bytes_from(const std::vector<T>& values) {
    Result<PyRef> out = new_bytes<T>(values.size());
    if (out.ok() && !values.empty()) std::memcpy(bytes_of<T>(out.value()), values.data(), values.size() * sizeof(T));
    return out;
}

// One key column, encoded by the reader its tag names.
Result<KeyCodes> encode_key(PyObject* described, std::size_t rows, pool::Interruption& interruption) {
    if (!PyTuple_Check(described) || PyTuple_GET_SIZE(described) < 4) return misuse("bad key description");
    Result<std::string> tag = text_of(PyTuple_GET_ITEM(described, 0));
    if (!tag.ok()) return std::move(tag).error();
    const Py_ssize_t size = PyTuple_GET_SIZE(described);
    KeyRules rules;
    Result<std::string> null_text = text_of(PyTuple_GET_ITEM(described, size - 2));
    if (!null_text.ok()) return std::move(null_text).error();
    Result<std::string> order_text = text_of(PyTuple_GET_ITEM(described, size - 1));
    if (!order_text.ok()) return std::move(order_text).error();
    rules.null_message = std::move(null_text).value();
    rules.order_message = std::move(order_text).value();

    if (tag.value() == "arrow") {
        return arrow_string_codes(PyTuple_GET_ITEM(described, 1), rows, rules, interruption);
    }
    Result<ColumnBuffer> column = ColumnBuffer::view(PyTuple_GET_ITEM(described, 1), "group_features: a key column has no 1-D buffer");
    if (!column.ok()) return std::move(column).error();
    if (column.value().size() != rows) return misuse("key column of another length");
    if (tag.value() == "object") {
        if (size != 6 || column.value().format() != 'O') return misuse("bad object key description");
        Result<std::string> changed_text = text_of(PyTuple_GET_ITEM(described, 3));
        if (!changed_text.ok()) return std::move(changed_text).error();
        rules.changed_message = std::move(changed_text).value();
        return object_codes(column.value(), PyTuple_GET_ITEM(described, 2), rules, interruption);
    }
    if (tag.value() != "int" || size != 6) return misuse("unknown key tag");
    Result<std::optional<std::int64_t>> null_value = optional_integer(PyTuple_GET_ITEM(described, 2));
    if (!null_value.ok()) return std::move(null_value).error();
    rules.null_value = null_value.value();
    PyObject* ranks_object = PyTuple_GET_ITEM(described, 3);
    ColumnBuffer ranks;
    std::span<const std::uint32_t> rank_span;
    if (ranks_object != Py_None) {
        Result<ColumnBuffer> viewed = ColumnBuffer::view(ranks_object, "group_features: ranks have no buffer");
        if (!viewed.ok()) return std::move(viewed).error();
        ranks = std::move(viewed).value();
        if (ranks.item_size() != 4 || ranks.format() != 'I') return misuse("ranks must be uint32");
        rank_span = std::span(ranks.as<std::uint32_t>(), ranks.size());
        if (rank_span.empty()) rank_span = std::span<const std::uint32_t>();
    }
    return integer_codes(column.value(), rank_span, rules, interruption);
}

struct TimeColumnRead {
    TimeColumn column;
    ColumnBuffer buffer;
    std::string null_text;
    std::string nan_text;
    std::string changed_text;
};

Result<TimeColumnRead> read_time(PyObject* described, std::size_t rows) {
    TimeColumnRead time;
    if (described == Py_None) return time;
    if (!PyTuple_Check(described) || PyTuple_GET_SIZE(described) != 6) return misuse("bad time description");
    Result<std::string> tag = text_of(PyTuple_GET_ITEM(described, 0));
    if (!tag.ok()) return std::move(tag).error();
    Result<ColumnBuffer> buffer = ColumnBuffer::view(PyTuple_GET_ITEM(described, 1), "group_features: the time column has no 1-D buffer");
    if (!buffer.ok()) return std::move(buffer).error();
    time.buffer = std::move(buffer).value();
    if (time.buffer.size() != rows || time.buffer.item_size() != 8) return misuse("time column of another length or width");
    Result<std::optional<std::int64_t>> null_value = optional_integer(PyTuple_GET_ITEM(described, 2));
    if (!null_value.ok()) return std::move(null_value).error();
    Result<std::string> null_text = text_of(PyTuple_GET_ITEM(described, 3));
    if (!null_text.ok()) return std::move(null_text).error();
    Result<std::string> nan_text = text_of(PyTuple_GET_ITEM(described, 4));
    if (!nan_text.ok()) return std::move(nan_text).error();
    Result<std::string> changed_text = text_of(PyTuple_GET_ITEM(described, 5));
    if (!changed_text.ok()) return std::move(changed_text).error();
    time.null_text = std::move(null_text).value();
    time.nan_text = std::move(nan_text).value();
    time.changed_text = std::move(changed_text).value();
    if (tag.value() == "float" && time.buffer.format() == 'd') {
        time.column.kind = TimeColumn::Kind::floating;
        time.column.floats = time.buffer.as<double>();
    } else if (tag.value() == "int" && (time.buffer.format() == 'q' || time.buffer.format() == 'l')) {
        time.column.kind = TimeColumn::Kind::integer;
        time.column.integers = time.buffer.as<std::int64_t>();
        time.column.has_null_value = null_value.value().has_value();
        time.column.null_value = null_value.value().value_or(0);
    } else {
        return misuse("time column must be int64 or float64");
    }
    return time;
}

// The first series holding NaN among those of two or more readings.
std::ptrdiff_t first_nan_series(std::span<const SeriesView> series) {
    for (std::size_t s = 0; s < series.size(); ++s) {
        if (series[s].size() < 2) continue;
        for (double v : series[s]) {
            if (std::isnan(v)) return static_cast<std::ptrdiff_t>(s);
        }
    }
    return -1;
}

// Removes NaN from every series, in place; the views shrink.
void drop_nan(std::span<SeriesView> series, double* gathered, const double* base) {
    for (SeriesView& view : series) {
        double* begin = gathered + (view.data() - base);
        std::size_t kept = 0;
        for (double v : view) {
            if (!std::isnan(v)) begin[kept++] = v;
        }
        view = SeriesView(begin, kept);
    }
}

Result<PyRef> run_with(PyObject* const* args, Py_ssize_t count, CallSignals& signals) {
    if (count != 6) return misuse("takes 6 arguments");
    PyObject* keys = args[0];
    const int has_kind = PyObject_IsTrue(args[1]);
    PyObject* values = args[2];
    PyObject* time_described = args[3];
    const int drop = PyObject_IsTrue(args[4]);
    PyObject* progress = args[5] == Py_None ? nullptr : args[5];
    if (has_kind < 0 || drop < 0) return errors::fetch();
    if (!PyTuple_Check(keys) || !PyTuple_Check(values) || PyTuple_GET_SIZE(values) == 0) {
        return misuse("keys and values must be tuples, values not empty");
    }
    if (has_kind && PyTuple_GET_SIZE(keys) == 0) return misuse("a kind needs a key column");

    // The value and time columns, viewed (and so pinned) first, read once
    // the keys are coded.  Coding an object column runs the caller's
    // hashing and comparisons, which may change an array all the same
    // (NumPy 1.x lets code assign its `data`): each view is checked after.
    std::vector<ColumnBuffer> columns;
    std::vector<std::string> changed_texts;
    for (Py_ssize_t c = 0; c < PyTuple_GET_SIZE(values); ++c) {
        PyObject* described = PyTuple_GET_ITEM(values, c);
        if (!PyTuple_Check(described) || PyTuple_GET_SIZE(described) != 2) return misuse("bad value description");
        Result<ColumnBuffer> column = ColumnBuffer::view(PyTuple_GET_ITEM(described, 0), "group_features: a value column has no 1-D buffer");
        if (!column.ok()) return std::move(column).error();
        if (column.value().format() != 'd' || column.value().item_size() != 8) return misuse("values must be float64");
        Result<std::string> changed_text = text_of(PyTuple_GET_ITEM(described, 1));
        if (!changed_text.ok()) return std::move(changed_text).error();
        columns.push_back(std::move(column).value());
        changed_texts.push_back(std::move(changed_text).value());
    }
    const std::size_t rows = columns[0].size();
    for (const ColumnBuffer& column : columns) {
        if (column.size() != rows) return misuse("value columns of different lengths");
    }
    Result<TimeColumnRead> time = read_time(time_described, rows);
    if (!time.ok()) return std::move(time).error();

    // The rows' composite key, one column folded in at a time.
    auto key = std::make_unique<CompositeKey>(rows);
    std::uint64_t kind_range = 1;
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(keys); ++k) {
        Result<KeyCodes> codes = encode_key(PyTuple_GET_ITEM(keys, k), rows, signals.interruption());
        if (!codes.ok()) return std::move(codes).error();
        kind_range = codes.value().range;
        key->fold(std::move(codes).value(), signals.interruption());
    }
    if (!has_kind) kind_range = 1;
    key->finish(keys::direct_range_limit(rows), signals.interruption());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        if (!columns[c].still_as_viewed()) return ErrorValue::with_message(PyExc_ValueError, changed_texts[c]);
    }
    if (!time.value().buffer.still_as_viewed()) {
        return ErrorValue::with_message(PyExc_ValueError, time.value().changed_text);
    }

    // Every value column gathered into one call-owned buffer, in group order.
    const std::size_t width = columns.size();
    auto gathered = row_buffer<double>(rows * width);
    std::vector<const double*> sources;
    std::vector<double*> targets;
    for (std::size_t c = 0; c < width; ++c) {
        sources.push_back(columns[c].as<double>());
        targets.push_back(gathered.get() + c * rows);
    }
    const GroupedRows grouping = group_rows(*key, time.value().column, sources, targets, signals.interruption());
    switch (grouping.time_problem) {
        case GroupedRows::TimeProblem::null: return ErrorValue::with_message(PyExc_ValueError, time.value().null_text);
        case GroupedRows::TimeProblem::nan: return ErrorValue::with_message(PyExc_ValueError, time.value().nan_text);
        case GroupedRows::TimeProblem::none: break;
    }
    const SeriesTable table = tabulate(*key, grouping, kind_range, has_kind != 0);
    const bool any_nan = grouping.any_nan;
    columns.clear();
    time.value().buffer = ColumnBuffer();
    key.reset();

    const std::size_t groups = table.buckets.size();
    const std::size_t series_count = groups * width;
    std::vector<SeriesView> series(series_count);
    std::vector<std::int64_t> id_of_series(series_count);
    std::vector<std::int64_t> kind_of_series(series_count);
    for (std::size_t g = 0; g < groups; ++g) {
        const std::uint64_t bucket = table.buckets[g];
        for (std::size_t c = 0; c < width; ++c) {
            const std::size_t s = g * width + c;
            series[s] = SeriesView(gathered.get() + c * rows + grouping.start[bucket], grouping.size(bucket));
            id_of_series[s] = table.id_of_group[g];
            kind_of_series[s] = width > 1 ? static_cast<std::int64_t>(c) : table.kind_of_group[g];
        }
    }

    std::ptrdiff_t nan_series = -1;
    if (any_nan) {
        if (drop) {
            drop_nan(series, gathered.get(), gathered.get());
        } else {
            nan_series = first_nan_series(series);
        }
    }

    Result<PyRef> features = new_bytes<double>(nan_series < 0 ? series_count * feature_count : 0);
    if (!features.ok()) return std::move(features).error();
    if (nan_series < 0) {
        auto slots = row_buffer<FeatureValues>(series_count);
        errors::Status computed = compute_features(series, std::span(slots.get(), series_count), progress);
        if (!computed.ok()) return std::move(computed).error();
        // One contiguous column per feature.
        double* out = bytes_of<double>(features.value());
        for (std::size_t s = 0; s < series_count; ++s) {
            for (std::size_t f = 0; f < feature_count; ++f) out[f * series_count + s] = slots[s][f];
        }
    }

    Result<PyRef> id_rows = bytes_from(table.id_rows);
    if (!id_rows.ok()) return std::move(id_rows).error();
    Result<PyRef> ids = bytes_from(id_of_series);
    if (!ids.ok()) return std::move(ids).error();
    Result<PyRef> kind_rows = bytes_from(table.kind_rows);
    if (!kind_rows.ok()) return std::move(kind_rows).error();
    Result<PyRef> kinds = bytes_from(kind_of_series);
    if (!kinds.ok()) return std::move(kinds).error();
    const std::ptrdiff_t nan_column = nan_series < 0 ? -1 : nan_series % static_cast<std::ptrdiff_t>(width);
    return errors::checked(Py_BuildValue("(OOOOOnn)", id_rows.value().get(), ids.value().get(),
                                         kind_rows.value().get(), kinds.value().get(),
                                         features.value().get(), static_cast<Py_ssize_t>(nan_series),
                                         static_cast<Py_ssize_t>(nan_column)));
}

Result<PyRef> run(PyObject* const* args, Py_ssize_t count) {
    CallSignals signals;
    try {
        return run_with(args, count, signals);
    } catch (const pool::Interrupted&) {
        return signals.take_raised();
    }
}

}  // namespace

PyObject* group_features_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf) noexcept {
    return errors::entry_point([&] { return run(args, PyVectorcall_NARGS(nargsf)); });
}

}  // namespace orven::bindings::frames
