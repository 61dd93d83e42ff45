#include "call/feature_name_keys.hpp"

#include "python/failure.hpp"
#include "python/once_value.hpp"
#include "python/handles.hpp"

namespace orven::bindings::call {
namespace {

using python::PyRef;

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

}  // namespace

const FeatureNameKeys& feature_name_keys() {
    // The fill cannot return an error value: creating a str either works or
    // fails fatally.
    return *keys_cache.get_or_try_fill(make_keys).value();
}

}  // namespace orven::bindings::call
