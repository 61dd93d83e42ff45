// The module `orven_frames._native`: the native part of the frame path,
// built into the same shared object as `orven` so that both share one
// pool and one set of process-wide values.  Single-phase initialisation,
// like orven's: one module object per process.  The package loads it from
// orven's file after importing orven, whose initialiser has registered the
// fork handlers that keep that shared state sound.

#include <Python.h>

#include "frames/group_features.hpp"
#include "frames/key_timing.hpp"
#include "python/entry_point.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::frames {
namespace {

using errors::Result;
using python::PyRef;

PyMethodDef methods[] = {
    {"group_features", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&group_features_entry)),
     METH_FASTCALL, "group_features(keys, has_kind, values, time, drop_nan, progress)\n--\n\n"},
    {"time_key_codes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&time_key_codes_entry)),
     METH_FASTCALL, "time_key_codes(keys, rows)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// Computation runs on the pool's threads; the boundary code expects the
// global lock, as orven's does.
constexpr bool needs_gil = true;
constexpr int python_api_version = 1013;

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT,
    "orven_frames._native",
    "The native part of orven_frames: grouping and features of whole frames.",
    0,
    methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

python::OnceValue<PyObject*> module_slot;

Result<PyObject*> create_module() {
    Result<PyRef> module = errors::checked(PyModule_Create2(&definition, python_api_version));
    if (!module.ok()) return std::move(module).error();
    if (python::declare_gil_requirement(module.value().get(), needs_gil) < 0) return errors::fetch();
    return std::move(module).value().release();
}

Result<PyRef> initialise() {
    // Process-wide state (the module object among it) serves the main
    // interpreter only.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        return errors::ErrorValue::with_message(PyExc_ImportError,
                                                "orven_frames serves only the main interpreter of a process");
    }
    Result<PyObject* const*> module = module_slot.get_or_try_fill(create_module);
    if (!module.ok()) return std::move(module).error();
    return PyRef::borrow(*module.value());
}

}  // namespace
}  // namespace orven::bindings::frames

PyMODINIT_FUNC PyInit__native(void) {
    return orven::bindings::errors::entry_point(orven::bindings::frames::initialise);
}
