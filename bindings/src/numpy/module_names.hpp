#pragma once

// Where NumPy keeps its array API: "numpy._core" since NumPy 2, "numpy.core"
// before.  Decided once per process from the running NumPy's version.

#include <string>

#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::numpy {

struct ModuleNames {
    std::string core;        // "numpy._core" or "numpy.core"
    std::string multiarray;  // core + ".multiarray"
};

// The names, found on first need; a failure is returned and nothing cached.
errors::Result<const ModuleNames*> module_names();

// Imports NumPy's multiarray module (a new reference).
errors::Result<python::PyRef> import_multiarray_module();

}  // namespace orven::bindings::numpy
