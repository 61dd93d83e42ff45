#include "borrow/base_address.hpp"

#include "numpy/array_object.hpp"

namespace orven::bindings::borrow {

const void* base_address(PyObject* array, PyTypeObject* ndarray_type) noexcept {
    for (;;) {
        PyObject* base = numpy::as_array(array)->base;
        if (base == nullptr) {
            return array;
        }
        if (!PyObject_TypeCheck(base, ndarray_type)) {
            return base;
        }
        array = base;
    }
}

}  // namespace orven::bindings::borrow
