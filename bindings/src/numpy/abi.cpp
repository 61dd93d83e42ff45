#include "numpy/abi.hpp"

#include <cstdint>
#include <string>
#include <utility>

#include "python/once_value.hpp"

namespace orven::bindings::numpy {

// ------------------------------------------------- which NumPy is running

namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

// A Python int from 0 to 255, as an unsigned 8-bit integer.
Result<std::uint8_t> to_u8(PyObject* value) {
    long number = PyLong_AsLong(value);
    if (number == -1 && PyErr_Occurred() != nullptr) {
        return errors::fetch();
    }
    if (number < 0 || number > UINT8_MAX) {
        return ErrorValue::with_message(PyExc_OverflowError,
                                        "out of range integral type conversion attempted");
    }
    return static_cast<std::uint8_t>(number);
}

// The major version of the running NumPy, as numpy.lib.NumpyVersion reads it.
Result<std::uint8_t> numpy_major_version() {
    Result<PyRef> numpy = errors::checked(PyImport_ImportModule("numpy"));
    if (!numpy.ok()) return std::move(numpy).error();
    Result<PyRef> version = errors::checked(PyObject_GetAttrString(numpy.value().get(), "__version__"));
    if (!version.ok()) return std::move(version).error();
    Result<PyRef> numpy_lib = errors::checked(PyImport_ImportModule("numpy.lib"));
    if (!numpy_lib.ok()) return std::move(numpy_lib).error();
    Result<PyRef> numpy_version_type =
        errors::checked(PyObject_GetAttrString(numpy_lib.value().get(), "NumpyVersion"));
    if (!numpy_version_type.ok()) return std::move(numpy_version_type).error();
    Result<PyRef> parsed =
        errors::checked(PyObject_CallOneArg(numpy_version_type.value().get(), version.value().get()));
    if (!parsed.ok()) return std::move(parsed).error();
    Result<PyRef> major = errors::checked(PyObject_GetAttrString(parsed.value().get(), "major"));
    if (!major.ok()) return std::move(major).error();
    return to_u8(major.value().get());
}

// The multiarray module's name, decided by the running NumPy's major version.
python::OnceValue<std::string> multiarray_name_cache;

}  // namespace

Result<PyRef> import_multiarray_module() {
    Result<const std::string*> name =
        multiarray_name_cache.get_or_try_fill([]() -> Result<std::string> {
            Result<std::uint8_t> major = numpy_major_version();
            if (!major.ok()) return std::move(major).error();
            return std::string(major.value() >= 2 ? "numpy._core.multiarray" : "numpy.core.multiarray");
        });
    if (!name.ok()) return std::move(name).error();
    return errors::checked(PyImport_ImportModule(name.value()->c_str()));
}

// ------------------------------------------------------ the array API

namespace {

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

// -------------------------------------------------------- admission

bool is_float64_vector(PyObject* value) {
    const ArrayApi& api = array_api();
    if (!PyObject_TypeCheck(value, api.ndarray_type)) {
        return false;
    }
    const ArrayObject* array = as_array(value);
    if (array->nd != 1) {
        return false;
    }
    // Builtin descriptors are usually shared, so identity settles most
    // cases; otherwise NumPy judges equivalence (which refuses a float64 of
    // the other byte order).
    python::PyRef float64 = errors::infallible(api.descr_from_type(npy_double));
    return array->descr == float64.get() || api.equiv_types(array->descr, float64.get()) != 0;
}

}  // namespace orven::bindings::numpy
