#pragma once

// Intake: the argument `data` (a sequence of dicts of column name -> 1-D
// float64 ndarray) turned into the driver's input.  Each accepted array is
// held (call/held_array.hpp, unpinned) for as long as the call reads it;
// the driver reads the arrays' own buffers, nothing is copied.

#include <Python.h>

#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "call/held_array.hpp"
#include "features/common/series_view.hpp"
#include "python/failure.hpp"

namespace orven::bindings::records {

// ---------------------------------------------------------- array maps

// The columns of one record, in the caller's order.  (Their keys are kept
// apart, in the result layout: the driver never needs the names.)
using ArrayMap = std::vector<call::HeldArray>;

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
            for (call::HeldArray& array : map) {
                // Moving the array out ends its life right here, whatever
                // order the containers would destroy their elements in.
                call::HeldArray released = std::move(array);
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
// maps, in its order, every borrow taken through `borrows`, which must
// outlive them.  Failures carry the "argument 'data': " wrapping; an array
// that another module holds for writing is a fatal error (PanicException
// "called `Result::unwrap()` on an `Err` value: AlreadyBorrowed"), as in
// the modules of the registry's convention.
errors::Result<ArrayMapList> convert_data(PyObject* data, call::CallBorrows& borrows);

// The driver's input: views into the admitted arrays' own buffers (nothing
// copied), every column of every record in order, in one buffer made at its
// full size (MemoryError if it cannot be had).  TypeError "The given array
// is not contiguous" for the first array that cannot be viewed as one run,
// or a TypeError naming the column of the first array that changed since
// it was held.  Nothing that can run caller code may come between this
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
