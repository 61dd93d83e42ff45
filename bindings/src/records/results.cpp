// The driver's result as Python objects.

#include "records/results.hpp"

#include <array>

#include "fatal/fatal_error.hpp"
#include "features/minimal/feature_values.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::records {
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

// ------------------------------------------------------ feature dicts

// A dict of the ten feature names, in order, each mapped to None.  A feature
// dict starts as a copy of it: the copy takes the keys table as a whole,
// already sized for ten entries, and each value is then replaced in place,
// instead of ten inserts into an empty dict that grows on the way.
python::OnceValue<PyObject*> template_cache;

errors::Result<PyObject*> make_template() {
    const FeatureNameKeys& keys = feature_name_keys();
    PyRef features = errors::infallible(PyDict_New());
    for (PyObject* key : keys) {
        if (PyDict_SetItem(features.get(), key, Py_None) < 0) {
            return errors::fetch();
        }
    }
    // Kept for the rest of the process, like the keys.
    return features.release();
}

Result<PyObject*> feature_template() {
    Result<PyObject* const*> features = template_cache.get_or_try_fill(make_template);
    if (!features.ok()) return std::move(features).error();
    return *features.value();
}

}  // namespace

errors::Status prepare_shared_objects() {
    Result<PyObject*> prototype = feature_template();
    if (!prototype.ok()) return std::move(prototype).error();
    return errors::success();
}

// ------------------------------------------------------------ conversion

namespace {

Result<PyRef> feature_dict(PyObject* feature_template, const features::minimal::FeatureValues& values) {
    const FeatureNameKeys& keys = feature_name_keys();
    Result<PyRef> features = errors::checked(PyDict_Copy(feature_template));
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

Result<PyRef> record_dict(PyObject* feature_template,
                          std::span<const features::minimal::FeatureValues> values,
                          std::span<const PyRef> column_keys) {
    Result<PyRef> columns = errors::checked(PyDict_New());
    if (!columns.ok()) return columns;
    for (std::size_t c = 0; c < values.size(); ++c) {
        Result<PyRef> features = feature_dict(feature_template, values[c]);
        if (!features.ok()) return std::move(features).error();
        if (PyDict_SetItem(columns.value().get(), column_keys[c].get(), features.value().get()) < 0) {
            return errors::fetch();
        }
    }
    return columns;
}

}  // namespace

Result<PyRef> convert_results(std::span<const features::minimal::FeatureValues> values,
                              const ResultLayout& layout,
                              extractor::ExtractionInProgress& extraction) {
    Result<PyObject*> prototype = feature_template();
    if (!prototype.ok()) return std::move(prototype).error();
    const std::span<const PyRef> keys(layout.column_keys);
    // Every object made here is in proportion to the input, so failing to
    // make one (MemoryError) ends the call like any other error.
    Result<PyRef> list = errors::checked(PyList_New(static_cast<Py_ssize_t>(layout.record_ends.size())));
    if (!list.ok()) return list;
    std::size_t first_column = 0;
    bool complete = true;
    for (std::size_t i = 0; i < layout.record_ends.size(); ++i) {
        if (!extraction.wait_for(layout.record_ends[i])) {
            complete = false;  // a series failed or the call was interrupted: finish() raises it
            break;
        }
        const std::size_t count = layout.record_ends[i] - first_column;
        Result<PyRef> record = record_dict(prototype.value(), values.subspan(first_column, count),
                                           keys.subspan(first_column, count));
        if (!record.ok()) return std::move(record).error();
        first_column = layout.record_ends[i];
        // The list was made at its final length; each slot is filled once.
        PyList_SET_ITEM(list.value().get(), static_cast<Py_ssize_t>(i), std::move(record).value().release());
    }
    extraction.finish();
    if (!complete) {
        fatal::raise("the computation ended without every value and without a failure");
    }
    return list;
}

}  // namespace orven::bindings::records
