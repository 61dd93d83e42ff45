#include "call/output_conversion.hpp"

#include "call/feature_name_keys.hpp"
#include "python/failure.hpp"

namespace orven::bindings::call {
namespace {

using errors::Result;
using python::PyRef;

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

}  // namespace orven::bindings::call
