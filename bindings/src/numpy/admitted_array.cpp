#include "numpy/admitted_array.hpp"

#include <string>
#include <utility>

#include "borrow/registry_lookup.hpp"
#include "python/failure.hpp"
#include "fatal/fatal_error.hpp"
#include "numpy/acceptance.hpp"
#include "numpy/array_api.hpp"
#include "numpy/array_object.hpp"

namespace orven::bindings::numpy {

errors::Result<AdmittedArray> AdmittedArray::admit(PyObject* value) {
    if (!is_float64_vector(value)) {
        return errors::cast_error(value, reinterpret_cast<PyObject*>(array_api().ndarray_type));
    }
    const borrow::RegistryHeader& registry = borrow::registry_header();
    python::PyRef array = python::PyRef::borrow(value);
    const int code = registry.acquire(registry.flags, array.get());
    if (code == borrow::borrow_conflicts) {
        fatal::raise("called `Result::unwrap()` on an `Err` value: AlreadyBorrowed");
    }
    if (code != borrow::borrow_granted) {
        fatal::raise("Unexpected return code " + std::to_string(code) + " from borrow checking API");
    }
    return AdmittedArray(std::move(array));
}

AdmittedArray& AdmittedArray::operator=(AdmittedArray&& other) noexcept {
    if (this != &other) {
        release_borrow();
        array_ = std::move(other.array_);
    }
    return *this;
}

AdmittedArray::~AdmittedArray() { release_borrow(); }

void AdmittedArray::release_borrow() noexcept {
    if (!array_) {
        return;  // moved from
    }
    // Holding a borrow means the registry was found when it was taken.
    const borrow::RegistryHeader* registry = borrow::registry_header_if_ready();
    if (registry == nullptr) {
        fatal::abort_with("an admitted array outlived the borrow registry; aborting\n");
    }
    registry->release(registry->flags, array_.get());
    array_.reset();
}

errors::Result<features::common::SeriesView> AdmittedArray::series_view() const {
    const ArrayObject* array = as_array(array_.get());
    if ((array->flags & (c_contiguous_flag | fortran_contiguous_flag)) == 0 || array->data == nullptr) {
        return errors::ErrorValue::with_message(PyExc_TypeError, "The given array is not contiguous");
    }
    Py_ssize_t count = 1;
    for (int i = 0; i < array->nd; ++i) {
        count *= array->dimensions[i];
    }
    return features::common::SeriesView(reinterpret_cast<const double*>(array->data),
                                         static_cast<std::size_t>(count));
}

}  // namespace orven::bindings::numpy
