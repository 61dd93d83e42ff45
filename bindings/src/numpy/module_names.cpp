#include "numpy/module_names.hpp"

#include <Python.h>

#include <cstdint>

#include "python/failure.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::numpy {
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

python::OnceValue<ModuleNames> names_cache;

}  // namespace

Result<const ModuleNames*> module_names() {
    return names_cache.get_or_try_fill([]() -> Result<ModuleNames> {
        Result<std::uint8_t> major = numpy_major_version();
        if (!major.ok()) return std::move(major).error();
        std::string core = major.value() >= 2 ? "numpy._core" : "numpy.core";
        std::string multiarray = core + ".multiarray";
        return ModuleNames{std::move(core), std::move(multiarray)};
    });
}

Result<PyRef> import_multiarray_module() {
    Result<const ModuleNames*> names = module_names();
    if (!names.ok()) return std::move(names).error();
    return errors::checked(PyImport_ImportModule(names.value()->multiarray.c_str()));
}

}  // namespace orven::bindings::numpy
