#include "frames/feature_table.hpp"

#include <cstdint>
#include <limits>

namespace orven::bindings::frames {
namespace {

using errors::Result;
using features::minimal::feature_count;
using features::minimal::FeatureValues;
using python::PyRef;

// A bytearray of `count` elements of T, uninitialised, and where they go.
template <class T>
struct Bytes {
    PyRef array;
    T* elements;
};

template <class T>
Result<Bytes<T>> new_bytes(std::size_t count) {
    Result<PyRef> array =
        errors::checked(PyByteArray_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(count * sizeof(T))));
    if (!array.ok()) return std::move(array).error();
    T* elements = reinterpret_cast<T*>(PyByteArray_AS_STRING(array.value().get()));
    return Bytes<T>{std::move(array).value(), elements};
}

template <class T>
Result<PyRef> bytes_of(std::span<const T> values) {
    Result<Bytes<T>> bytes = new_bytes<T>(values.size());
    if (!bytes.ok()) return std::move(bytes).error();
    for (std::size_t i = 0; i < values.size(); ++i) bytes.value().elements[i] = values[i];
    return std::move(bytes.value().array);
}

// ------------------------------------------------------- one row a series

// Feature f of series s at f * series + s.
Result<PyRef> features_by_series(const SeriesLayout& layout, std::span<const FeatureValues> values) {
    const std::size_t series = layout.series();
    Result<Bytes<double>> out = new_bytes<double>(series * feature_count);
    if (!out.ok()) return std::move(out).error();
    for (std::size_t s = 0; s < series; ++s) {
        for (std::size_t f = 0; f < feature_count; ++f) out.value().elements[f * series + s] = values[s][f];
    }
    return std::move(out.value().array);
}

// For each series, a row holding its id, and one holding its kind (with
// the kinds the value columns, the column's place instead).
Result<PyRef> id_row_of_each(const SeriesLayout& layout) {
    Result<Bytes<std::int64_t>> rows = new_bytes<std::int64_t>(layout.series());
    if (!rows.ok()) return std::move(rows).error();
    for (std::size_t s = 0; s < layout.series(); ++s) {
        rows.value().elements[s] = layout.table.id_rows[layout.id_of(s)];
    }
    return std::move(rows.value().array);
}

Result<PyRef> kind_of_each(const SeriesLayout& layout) {
    Result<Bytes<std::int64_t>> kinds = new_bytes<std::int64_t>(layout.series());
    if (!kinds.ok()) return std::move(kinds).error();
    for (std::size_t s = 0; s < layout.series(); ++s) {
        const std::size_t kind = layout.kind_of(s);
        kinds.value().elements[s] =
            layout.has_kind ? layout.table.kind_rows[kind] : static_cast<std::int64_t>(kind);
    }
    return std::move(kinds.value().array);
}

// ------------------------------------------------------- one row an id

// Feature f of kind k for id i at (k * feature_count + f) * ids + i, NaN
// where the id has no series of that kind.
Result<PyRef> features_by_id(const SeriesLayout& layout, std::span<const FeatureValues> values) {
    const std::size_t ids = layout.table.ids;
    const std::size_t cells = layout.kinds() * feature_count * ids;
    Result<Bytes<double>> out = new_bytes<double>(cells);
    if (!out.ok()) return std::move(out).error();
    double* features = out.value().elements;
    for (std::size_t i = 0; i < cells; ++i) features[i] = std::numeric_limits<double>::quiet_NaN();
    for (std::size_t s = 0; s < layout.series(); ++s) {
        double* column = features + layout.kind_of(s) * feature_count * ids + layout.id_of(s);
        for (std::size_t f = 0; f < feature_count; ++f) column[f * ids] = values[s][f];
    }
    return std::move(out.value().array);
}

// Whether id i has a series of kind k, at k * ids + i.
Result<PyRef> presence(const SeriesLayout& layout) {
    const std::size_t ids = layout.table.ids;
    Result<Bytes<std::uint8_t>> out = new_bytes<std::uint8_t>(layout.kinds() * ids);
    if (!out.ok()) return std::move(out).error();
    std::uint8_t* present = out.value().elements;
    for (std::size_t i = 0; i < layout.kinds() * ids; ++i) present[i] = 0;
    for (std::size_t s = 0; s < layout.series(); ++s) present[layout.kind_of(s) * ids + layout.id_of(s)] = 1;
    return std::move(out.value().array);
}

Result<PyRef> kinds_present(const SeriesLayout& layout) {
    if (layout.has_kind) return bytes_of(layout.table.kind_row_span());
    Result<Bytes<std::int64_t>> kinds = new_bytes<std::int64_t>(layout.width);
    if (!kinds.ok()) return std::move(kinds).error();
    for (std::size_t c = 0; c < layout.width; ++c) kinds.value().elements[c] = static_cast<std::int64_t>(c);
    return std::move(kinds.value().array);
}

// ---------------------------------------------------------------- the dict

// Sets dict[name] = value, or passes on value's failure.
errors::Status add(const PyRef& dict, const char* name, Result<PyRef> value) {
    if (!value.ok()) return std::move(value).error();
    if (PyDict_SetItemString(dict.get(), name, value.value().get()) < 0) return errors::fetch();
    return errors::success();
}

Result<PyRef> table_by_series(const SeriesLayout& layout, std::span<const FeatureValues> values) {
    PyRef dict = errors::infallible(PyDict_New());
    errors::Status added = add(dict, "id_rows", id_row_of_each(layout));
    if (added.ok()) added = add(dict, "kinds", kind_of_each(layout));
    if (added.ok()) added = add(dict, "features", features_by_series(layout, values));
    if (!added.ok()) return std::move(added).error();
    return dict;
}

Result<PyRef> table_by_id(const SeriesLayout& layout, std::span<const FeatureValues> values) {
    PyRef dict = errors::infallible(PyDict_New());
    errors::Status added = add(dict, "id_rows", bytes_of(layout.table.id_row_span()));
    if (added.ok()) added = add(dict, "kinds", kinds_present(layout));
    if (added.ok()) added = add(dict, "features", features_by_id(layout, values));
    if (added.ok()) added = add(dict, "present", presence(layout));
    if (!added.ok()) return std::move(added).error();
    return dict;
}

}  // namespace

Result<PyRef> feature_table(const SeriesLayout& layout, bool wide, std::span<const FeatureValues> values) {
    return wide ? table_by_id(layout, values) : table_by_series(layout, values);
}

}  // namespace orven::bindings::frames
