// The module `orven`: its definition and the initialiser the interpreter
// calls on import.  Single-phase initialisation: one module object per
// process, created on the first import and returned again on later ones.

#include <Python.h>

#include "python/failure.hpp"
#include "python/entry_point.hpp"
#include "module/module_body.hpp"
#include "module/owner_interpreter.hpp"
#include "python/handles.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::module {
namespace {

using errors::Result;
using python::PyRef;

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
