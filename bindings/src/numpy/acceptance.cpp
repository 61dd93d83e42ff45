#include "numpy/acceptance.hpp"

#include "python/failure.hpp"
#include "numpy/array_api.hpp"
#include "numpy/array_object.hpp"
#include "python/handles.hpp"

namespace orven::bindings::numpy {

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
