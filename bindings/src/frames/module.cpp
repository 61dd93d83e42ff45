// The module `orven_frames._native`: the native part of the frame path,
// built into the same shared object as `orven` so that both share one
// pool and one set of process-wide values, and made under the same rule
// (call/module_setup.hpp).  The package loads it from orven's file after
// importing orven.

#include <Python.h>

#include "call/module_setup.hpp"
#include "features/minimal/feature_values.hpp"
#include "frames/group_features.hpp"
#include "frames/key_timing.hpp"
#include "frames/rolling_features.hpp"
#include "memory/block_cache.hpp"
#include "python/entry_point.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {
namespace {

using errors::Result;
using python::PyRef;

// Gives back the blocks kept between calls for the next call's buffers;
// the bytes so released.
PyObject* release_memory_entry(PyObject*, PyObject*) noexcept {
    return PyLong_FromSize_t(memory::block_cache::release_all());
}

PyMethodDef methods[] = {
    {"group_features", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&group_features_entry)),
     METH_O, "group_features(call)\n--\n\n"},
    {"rolling_features", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&rolling_features_entry)),
     METH_O, "rolling_features(call)\n--\n\n"},
    {"time_key_codes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&time_key_codes_entry)),
     METH_O, "time_key_codes(call)\n--\n\n"},
    {"release_memory", &release_memory_entry, METH_NOARGS, "release_memory()\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

// The names of the ten features, in the order the core computes them: the
// one source the package, its result columns and the tests read them from.
PyRef feature_names() {
    const auto& names = features::minimal::feature_names;
    PyRef tuple = errors::infallible(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
    for (std::size_t i = 0; i < names.size(); ++i) {
        PyObject* name = errors::infallible(PyUnicode_FromStringAndSize(
                                                names[i].data(), static_cast<Py_ssize_t>(names[i].size())))
                             .release();
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), name);
    }
    return tuple;
}

errors::Status fill_module(PyObject* module) {
    if (PyModule_AddObjectRef(module, "FEATURES", feature_names().get()) < 0) return errors::fetch();
    return errors::success();
}

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

call::ModuleOfProcess module_of_process(definition, fill_module);

}  // namespace
}  // namespace orven::bindings::frames

PyMODINIT_FUNC PyInit__native(void) {
    return orven::bindings::errors::entry_point(
        [] { return orven::bindings::frames::module_of_process.initialise(); });
}
