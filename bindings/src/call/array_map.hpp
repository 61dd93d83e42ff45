#pragma once

#include <string>
#include <vector>

#include "numpy/admitted_array.hpp"

namespace orven::bindings::call {

// One column of a record under conversion.  The name is declared last so
// that it goes first: name, then the array's borrow, then its reference.
struct ArrayEntry {
    numpy::AdmittedArray array;
    std::string name;
};

// The columns of one record, in the caller's order.
using ArrayMap = std::vector<ArrayEntry>;

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

    void reserve(std::size_t count) { maps_.reserve(count); }
    void push_back(ArrayMap map) { maps_.push_back(std::move(map)); }
    const std::vector<ArrayMap>& maps() const noexcept { return maps_; }

    // Drops every entry, in order; the list is empty afterwards.
    void release() noexcept {
        for (ArrayMap& map : maps_) {
            for (ArrayEntry& entry : map) {
                // Moving the entry out ends its life right here, whatever
                // order the containers would destroy their elements in.
                ArrayEntry released = std::move(entry);
            }
        }
        maps_.clear();
    }

private:
    std::vector<ArrayMap> maps_;
};

}  // namespace orven::bindings::call
