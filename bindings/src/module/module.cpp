// The module `orven`: its definition and the initialiser the interpreter
// calls on import.  Single-phase initialisation: one module object per
// process, created on the first import and returned again on later ones.

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "module/extract_features.hpp"
#include "module/fork_handlers.hpp"
#include "python/entry_point.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::module {
namespace {

using errors::Result;
using python::PyRef;

// ----------------------------------------------------- owner interpreter

constexpr std::int64_t no_owner = -1;

// Set once, never reset, not even when the owner's initialisation fails.
std::atomic<std::int64_t> owner_interpreter{no_owner};

// Makes the current interpreter the module's owner if none is yet, and
// refuses every other interpreter of the process with an ImportError: the
// module keeps process-wide state (the module object among it) that cannot
// be shared between interpreters.
errors::Status claim_for_current_interpreter() {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) {
        return errors::fetch();
    }
    std::int64_t expected = no_owner;
    if (!owner_interpreter.compare_exchange_strong(expected, current, std::memory_order_seq_cst) &&
        expected != current) {
        return errors::ErrorValue::with_message(
            PyExc_ImportError,
            "PyO3 modules do not yet support subinterpreters, see "
            "https://github.com/PyO3/pyo3/issues/576");
    }
    return errors::success();
}

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

// The statistics run on our own worker threads while the calling thread
// keeps the interpreter, and nothing in the boundary code has been made
// safe for running without the global lock.
constexpr bool needs_gil = true;

// The API version the module is built against (PYTHON_API_VERSION).
constexpr int python_api_version = 1013;

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

// Holds its reference for the life of the process: the definition has no
// free function and the module object is never released.
python::OnceValue<PyObject*> module_slot;

Result<PyObject*> create_module() {
    Result<PyRef> module = errors::checked(PyModule_Create2(&definition, python_api_version));
    if (!module.ok()) return std::move(module).error();
    if (python::declare_gil_requirement(module.value().get(), needs_gil) < 0) {
        return errors::fetch();
    }
    errors::Status body = run_module_body(module.value().get());
    if (!body.ok()) return std::move(body).error();
    return std::move(module).value().release();
}

Result<PyRef> initialise() {
    errors::Status handlers = install_fork_handlers();
    if (!handlers.ok()) return std::move(handlers).error();
    errors::Status claimed = claim_for_current_interpreter();
    if (!claimed.ok()) return std::move(claimed).error();
    Result<PyObject* const*> module = module_slot.get_or_try_fill(create_module);
    if (!module.ok()) return std::move(module).error();
    return PyRef::borrow(*module.value());
}


}  // namespace
}  // namespace orven::bindings::module

PyMODINIT_FUNC PyInit_orven(void) {
    return orven::bindings::errors::entry_point(orven::bindings::module::initialise);
}
