// The driver's result as Python objects.

#include "convert/results.hpp"

#include <array>

#include "features/minimal/feature_values.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::results {
namespace {

using errors::Result;
using python::PyRef;

// ----------------------------------------------------- feature-name keys

// One str per feature name, in the order of feature_names, made once per
// process and shared by every feature dict (borrowed references).
using FeatureNameKeys = std::array<PyObject*, features::minimal::feature_count>;

// Holds references that are never dropped: they are shared by results the
// caller keeps, and nothing may be released after the interpreter finalises.
python::OnceValue<FeatureNameKeys> keys_cache;

errors::Result<FeatureNameKeys> make_keys() {
    std::array<PyRef, features::minimal::feature_count> owned;
    for (std::size_t i = 0; i < owned.size(); ++i) {
        const std::string_view name = features::minimal::feature_names[i];
        PyObject* key = errors::infallible(PyUnicode_FromStringAndSize(
                                               name.data(), static_cast<Py_ssize_t>(name.size())))
                            .release();
        // Interned like the literals callers look features up with.
        PyUnicode_InternInPlace(&key);
        owned[i] = PyRef::steal(key);
    }
    FeatureNameKeys keys{};
    for (std::size_t i = 0; i < owned.size(); ++i) {
        keys[i] = owned[i].release();
    }
    return keys;
}

const FeatureNameKeys& feature_name_keys() {
    // The fill cannot return an error value: creating a str either works or
    // fails fatally.
    return *keys_cache.get_or_try_fill(make_keys).value();
}

}  // namespace

// ------------------------------------------------------------ conversion

namespace {

Result<PyRef> feature_dict(const features::minimal::FeatureValues& values) {
    const FeatureNameKeys& keys = feature_name_keys();
    Result<PyRef> features = errors::checked(PyDict_New());
    if (!features.ok()) return features;
    for (std::size_t i = 0; i < values.size(); ++i) {
        Result<PyRef> value = errors::checked(PyFloat_FromDouble(values[i]));
        if (!value.ok()) return value;
        if (PyDict_SetItem(features.value().get(), keys[i], value.value().get()) < 0) {
            return errors::fetch();
        }
    }
    return features;
}

Result<PyRef> record_dict(const extractor::RecordResult& record) {
    Result<PyRef> columns = errors::checked(PyDict_New());
    if (!columns.ok()) return columns;
    for (const extractor::ColumnFeatures& column : record) {
        Result<PyRef> name = errors::checked(PyUnicode_FromStringAndSize(
            column.name.data(), static_cast<Py_ssize_t>(column.name.size())));
        if (!name.ok()) return name;
        Result<PyRef> features = feature_dict(column.values);
        if (!features.ok()) return std::move(features).error();
        if (PyDict_SetItem(columns.value().get(), name.value().get(), features.value().get()) < 0) {
            return errors::fetch();
        }
    }
    return columns;
}

}  // namespace

Result<PyRef> convert_results(const extractor::ResultList& results) {
    // Every object made here is in proportion to the input, so failing to
    // make one (MemoryError) ends the call like any other error.
    Result<PyRef> list = errors::checked(PyList_New(static_cast<Py_ssize_t>(results.size())));
    if (!list.ok()) return list;
    for (std::size_t i = 0; i < results.size(); ++i) {
        Result<PyRef> record = record_dict(results[i]);
        if (!record.ok()) return std::move(record).error();
        // The list was made at its final length; each slot is filled once.
        PyList_SET_ITEM(list.value().get(), static_cast<Py_ssize_t>(i), std::move(record).value().release());
    }
    return list;
}

}  // namespace orven::bindings::results
