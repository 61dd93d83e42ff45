// The module `orven`: its definition and the initialiser the interpreter
// calls on import (call/module_setup.hpp says how every module of the
// library comes to be).

#include <Python.h>

#include "call/module_setup.hpp"
#include "python/entry_point.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"
#include "records/extract_features.hpp"

namespace orven::bindings::records {
namespace {

using errors::Result;
using python::PyRef;

// ---------------------------------------------------------- method table

// The doc follows the interpreter's convention for built-in functions: the
// signature, "\n--\n\n", then the (here empty) docstring, so that Python
// reports __text_signature__ "(data)" and __doc__ None.
PyMethodDef method = {
    "extract_features",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&extract_features_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "extract_features(data)\n--\n\n",
};

// ----------------------------------------------------------- module body

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

// Fills a freshly created module object: the function extract_features and
// its name in __all__.
errors::Status run_module_body(PyObject* module) {
    Result<PyRef> function = [&]() -> Result<PyRef> {
        Result<PyRef> name = errors::checked(PyModule_GetNameObject(module));
        if (!name.ok()) return std::move(name).error();
        return errors::checked(PyCMethod_New(&method, module, name.value().get(), nullptr));
    }();
    if (!function.ok()) return std::move(function).error();

    Result<PyRef> function_name = errors::checked(PyObject_GetAttrString(function.value().get(), "__name__"));
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

// ------------------------------------------- definition and initialiser

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "orven",
    "Summary features of numeric time series, computed natively and in parallel.",
    0,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

call::ModuleOfProcess module_of_process(definition, run_module_body);

}  // namespace
}  // namespace orven::bindings::records

PyMODINIT_FUNC PyInit_orven(void) {
    return orven::bindings::errors::entry_point(
        [] { return orven::bindings::records::module_of_process.initialise(); });
}
