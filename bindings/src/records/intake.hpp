#pragma once

// Intake: the argument `data` (a sequence of dicts of column name -> 1-D
// float64 ndarray) turned into the driver's input.  Each accepted array
// holds a shared borrow in the borrow registry for as long as the call
// holds it; the driver reads the arrays' own buffers, nothing is copied.

#include <Python.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "borrow/in_flight_calls.hpp"
#include "borrow/registry.hpp"
#include "features/common/series_view.hpp"
#include "python/failure.hpp"

namespace orven::bindings::records {

// ------------------------------------------------------ admitted arrays

// A NumPy array accepted for one call, holding one shared borrow in the
// borrow registry for as long as it lives.  What the array is (its data,
// length, contiguity and place in the registry) is taken once, at
// admission: caller code that runs later in the call may change the array
// object (its dtype, strides or shape), and the release of the borrow does
// not follow it there.  Such code may even free the memory (a resize
// without the reference check, of the array or of the array owning its
// memory), so before anything reads the data the array is checked against
// what was taken.
class AdmittedArray {
public:
    // Accepts a one-dimensional native float64 ndarray (or subclass) and
    // takes a shared borrow of it.  Refusals are the cast error with target
    // ndarray; an unreachable NumPy, an unusable borrow registry or an
    // exclusively borrowed array are fatal errors.  The borrow is taken
    // and released through `call`, which must outlive the admitted array.
    static errors::Result<AdmittedArray> admit(PyObject* value, borrow::InFlightCall& call);

    AdmittedArray(AdmittedArray&& other) noexcept = default;
    AdmittedArray& operator=(AdmittedArray&& other) noexcept;
    AdmittedArray(const AdmittedArray&) = delete;
    AdmittedArray& operator=(const AdmittedArray&) = delete;
    // Releases the borrow, then drops the reference.
    ~AdmittedArray();

    // Whether the array still has the data pointer, length, stride and
    // element type it was admitted with, and the memory the same owner at
    // the same extent.
    bool unchanged() const;

    // The admitted data in place; TypeError "The given array is not
    // contiguous" unless it was C- or Fortran-contiguous with non-null data
    // when admitted.
    errors::Result<features::common::SeriesView> series_view() const;

private:
    // The array as admitted.
    struct Snapshot {
        const char* data;
        std::size_t count;
        bool contiguous;
        borrow::Place place;
        Py_ssize_t stride;
        const PyObject* descr;
        // The array that owns the memory, when it is another one (else
        // null), and its extent: resizing it frees the memory under the
        // view without touching the view.
        const PyObject* owner;
        borrow::BorrowKey owner_key;
    };

    AdmittedArray(python::PyRef array, const borrow::RegistryHeader& registry,
                  borrow::InFlightCall& call, std::size_t slot, const Snapshot& snapshot) noexcept
        : array_(std::move(array)), registry_(&registry), call_(&call), slot_(slot), snapshot_(snapshot) {}
    void release_borrow() noexcept;

    python::PyRef array_;
    const borrow::RegistryHeader* registry_ = nullptr;
    borrow::InFlightCall* call_ = nullptr;
    std::size_t slot_ = 0;
    Snapshot snapshot_{};
};

// ---------------------------------------------------------- array maps

// The columns of one record, in the caller's order.  (Their keys are kept
// apart, in the result layout: the driver never needs the names.)
using ArrayMap = std::vector<AdmittedArray>;

// The shape of a call's result: the output key of every column of every
// record, in order (the caller's key itself when it is an exact str, else an
// exact str of the same text), and where each record's columns end in it.
struct ResultLayout {
    std::vector<python::PyRef> column_keys;
    std::vector<std::size_t> record_ends;
};

// The records of one call, in the caller's order.  Releasing happens in a
// fixed order, records first to last and within each its columns first to
// last, on every path out of the call.
class ArrayMapList {
public:
    ArrayMapList() = default;
    ArrayMapList(ArrayMapList&&) noexcept = default;
    ArrayMapList& operator=(ArrayMapList&& other) noexcept {
        if (this != &other) {
            release();
            maps_ = std::move(other.maps_);
        }
        return *this;
    }
    ArrayMapList(const ArrayMapList&) = delete;
    ArrayMapList& operator=(const ArrayMapList&) = delete;
    ~ArrayMapList() { release(); }

    void reserve(std::size_t count) {
        maps_.reserve(count);
        layout_.column_keys.reserve(count);
        layout_.record_ends.reserve(count);
    }
    void push_back(ArrayMap map) {
        maps_.push_back(std::move(map));
        layout_.record_ends.push_back(layout_.column_keys.size());
    }
    const std::vector<ArrayMap>& maps() const noexcept { return maps_; }
    // The output keys of the columns converted so far, in order.
    const std::vector<python::PyRef>& column_keys() const noexcept { return layout_.column_keys; }

    // A column's output key, pushed with each column as it is converted.
    void push_column_key(python::PyRef key) { layout_.column_keys.push_back(std::move(key)); }
    // The keys and record boundaries of the result.  They borrow nothing,
    // so they may be taken and kept past release().
    ResultLayout take_layout() && noexcept { return std::move(layout_); }

    // Drops every entry, in order; the list is empty afterwards.
    void release() noexcept {
        for (ArrayMap& map : maps_) {
            for (AdmittedArray& array : map) {
                // Moving the array out ends its life right here, whatever
                // order the containers would destroy their elements in.
                AdmittedArray released = std::move(array);
            }
        }
        maps_.clear();
    }

private:
    std::vector<ArrayMap> maps_;
    ResultLayout layout_;
};

// ------------------------------------------------------------ conversion

// The argument `data` (a sequence of dicts, not a str) as the call's array
// maps, in its order, every borrow taken through `call`.  Failures carry
// the "argument 'data': " wrapping.
errors::Result<ArrayMapList> convert_data(PyObject* data, borrow::InFlightCall& call);

// The driver's input: views into the admitted arrays' own buffers (nothing
// copied), every column of every record in order, in one buffer made at its
// full size (MemoryError if it cannot be had).  TypeError "The given array
// is not contiguous" for the first array that cannot be viewed as one run,
// or a TypeError naming the column of the first array that changed since
// its admission.  Nothing that can run caller code may come between this
// and the computation.
struct SeriesList {
    std::unique_ptr<features::common::SeriesView[]> views;
    std::size_t count = 0;

    std::span<const features::common::SeriesView> span() const noexcept {
        return {views.get(), count};
    }
};
errors::Result<SeriesList> build_series_list(const ArrayMapList& arrays);

}  // namespace orven::bindings::records
