#pragma once

// A NumPy array accepted for one call, holding one shared borrow in the
// borrow registry for as long as it lives.

#include <Python.h>

#include "python/failure.hpp"
#include "features/common/series_view.hpp"
#include "python/handles.hpp"

namespace orven::bindings::numpy {

class AdmittedArray {
public:
    // Accepts a one-dimensional native float64 ndarray (or subclass) and
    // takes a shared borrow of it.  Refusals are the cast error with target
    // ndarray; an unreachable NumPy, an unusable borrow registry or an
    // exclusively borrowed array are fatal errors.
    static errors::Result<AdmittedArray> admit(PyObject* value);

    AdmittedArray(AdmittedArray&& other) noexcept = default;
    AdmittedArray& operator=(AdmittedArray&& other) noexcept;
    AdmittedArray(const AdmittedArray&) = delete;
    AdmittedArray& operator=(const AdmittedArray&) = delete;
    // Releases the borrow, then drops the reference.
    ~AdmittedArray();

    // The array's data in place; TypeError "The given array is not
    // contiguous" unless it is C- or Fortran-contiguous with non-null data.
    errors::Result<features::common::SeriesView> series_view() const;

    PyObject* get() const noexcept { return array_.get(); }

private:
    explicit AdmittedArray(python::PyRef array) noexcept : array_(std::move(array)) {}
    void release_borrow() noexcept;

    python::PyRef array_;
};

}  // namespace orven::bindings::numpy
