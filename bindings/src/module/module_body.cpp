#include "module/module_body.hpp"

#include "python/failure.hpp"
#include "module/extract_features_method.hpp"
#include "python/handles.hpp"

namespace orven::bindings::module {
namespace {

using errors::Result;
using errors::checked;
using python::PyRef;

// The module's __all__, created empty when the module has none yet.
Result<PyRef> all_list(PyObject* module) {
    if (PyObject* existing = PyObject_GetAttrString(module, "__all__")) {
        PyRef all = PyRef::steal(existing);
        if (!PyList_Check(all.get())) {
            return errors::cast_error(all.get(), reinterpret_cast<PyObject*>(&PyList_Type));
        }
        return all;
    }
    PyRef error = errors::fetch().into_object();
    if (!PyErr_GivenExceptionMatches(error.get(), PyExc_AttributeError)) {
        return errors::ErrorValue::from_object(std::move(error));
    }
    PyRef all = errors::infallible(PyList_New(0));
    if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
        return errors::fetch();
    }
    return all;
}

}  // namespace

errors::Status run_module_body(PyObject* module) {
    Result<PyRef> function = [&]() -> Result<PyRef> {
        Result<PyRef> name = checked(PyModule_GetNameObject(module));
        if (!name.ok()) return std::move(name).error();
        return checked(PyCMethod_New(extract_features_method(), module, name.value().get(), nullptr));
    }();
    if (!function.ok()) return std::move(function).error();

    Result<PyRef> function_name = checked(PyObject_GetAttrString(function.value().get(), "__name__"));
    if (!function_name.ok()) return std::move(function_name).error();
    if (!PyUnicode_Check(function_name.value().get())) {
        return errors::cast_error(function_name.value().get(),
                                  reinterpret_cast<PyObject*>(&PyUnicode_Type));
    }

    Result<PyRef> all = all_list(module);
    if (!all.ok()) return std::move(all).error();
    if (PyList_Append(all.value().get(), function_name.value().get()) < 0) {
        errors::fatal_with_error("could not append __name__ to __all__", errors::fetch());
    }
    if (PyObject_SetAttr(module, function_name.value().get(), function.value().get()) < 0) {
        return errors::fetch();
    }
    return errors::success();
}

}  // namespace orven::bindings::module
