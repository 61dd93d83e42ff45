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
    PyRef features = errors::infallible(PyDict_New());
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyRef value = errors::infallible(PyFloat_FromDouble(values[i]));
        if (PyDict_SetItem(features.get(), keys[i], value.get()) < 0) {
            return errors::fetch();
        }
    }
    return features;
}

Result<PyRef> record_dict(const extractor::RecordResult& record) {
    PyRef columns = errors::infallible(PyDict_New());
    for (const extractor::ColumnFeatures& column : record) {
        PyRef name = errors::infallible(PyUnicode_FromStringAndSize(
            column.name.data(), static_cast<Py_ssize_t>(column.name.size())));
        Result<PyRef> features = feature_dict(column.values);
        if (!features.ok()) return std::move(features).error();
        if (PyDict_SetItem(columns.get(), name.get(), features.value().get()) < 0) {
            return errors::fetch();
        }
    }
    return columns;
}

}  // namespace

Result<PyRef> convert_results(const extractor::ResultList& results) {
    PyRef list = errors::infallible(PyList_New(static_cast<Py_ssize_t>(results.size())));
    for (std::size_t i = 0; i < results.size(); ++i) {
        Result<PyRef> record = record_dict(results[i]);
        if (!record.ok()) return std::move(record).error();
        // The list was made at its final length; each slot is filled once.
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), std::move(record).value().release());
    }
    return list;
}

}  // namespace orven::bindings::results
