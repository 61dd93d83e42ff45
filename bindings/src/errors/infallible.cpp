#include "errors/translation.hpp"
#include "fatal/fatal_error.hpp"

namespace orven::bindings::errors {

python::PyRef infallible(PyObject* result, std::source_location where) {
    if (result == nullptr) {
        // Only running out of memory gets here; the interpreter's own
        // account of it is the most useful thing to show.
        PyErr_Print();
        fatal::raise("Python API call failed", where);
    }
    return python::PyRef::steal(result);
}

}  // namespace orven::bindings::errors
