#include "numpy/array_api.hpp"

#include <utility>

#include "python/failure.hpp"
#include "numpy/module_names.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::numpy {
namespace {

using errors::Result;
using python::PyRef;

// Positions in NumPy's published numbering of its API table.
constexpr int ndarray_type_entry = 2;
constexpr int descr_from_type_entry = 45;
constexpr int equiv_types_entry = 182;
constexpr int feature_version_entry = 211;

Result<ArrayApi> load_array_api() {
    Result<PyRef> multiarray = import_multiarray_module();
    if (!multiarray.ok()) return std::move(multiarray).error();
    Result<PyRef> capsule = errors::checked(PyObject_GetAttrString(multiarray.value().get(), "_ARRAY_API"));
    if (!capsule.ok()) return std::move(capsule).error();
    // Exactly a capsule: a subclass could hand out any pointer at all.
    if (!Py_IS_TYPE(capsule.value().get(), &PyCapsule_Type)) {
        return errors::cast_error(capsule.value().get(), reinterpret_cast<PyObject*>(&PyCapsule_Type));
    }
    void* pointer = PyCapsule_GetPointer(capsule.value().get(), nullptr);
    if (pointer == nullptr) {
        return errors::fetch();
    }
    // The table lives as long as its capsule, which is kept for the rest of
    // the process: this reference is deliberately never dropped.
    static_cast<void>(std::move(capsule).value().release());

    void* const* table = static_cast<void* const*>(pointer);
    auto feature_version = reinterpret_cast<unsigned (*)()>(table[feature_version_entry]);
    return ArrayApi{
        .ndarray_type = static_cast<PyTypeObject*>(table[ndarray_type_entry]),
        .descr_from_type = reinterpret_cast<PyObject* (*)(int)>(table[descr_from_type_entry]),
        .equiv_types =
            reinterpret_cast<unsigned char (*)(PyObject*, PyObject*)>(table[equiv_types_entry]),
        .feature_version = feature_version(),
    };
}

python::OnceValue<ArrayApi> api_cache;

}  // namespace

const ArrayApi& array_api() {
    Result<const ArrayApi*> api = api_cache.get_or_try_fill([]() -> Result<ArrayApi> {
        Result<ArrayApi> loaded = load_array_api();
        if (!loaded.ok()) {
            errors::fatal_with_error("Failed to access NumPy array API capsule", std::move(loaded).error());
        }
        return loaded;
    });
    return *api.value();
}

bool is_ndarray(PyObject* object) {
    return PyObject_TypeCheck(object, array_api().ndarray_type) != 0;
}

}  // namespace orven::bindings::numpy
