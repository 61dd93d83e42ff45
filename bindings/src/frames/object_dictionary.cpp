#include "frames/object_dictionary.hpp"

#include <algorithm>
#include <numeric>

#include "keys/hashing.hpp"
#include "keys/ranks.hpp"

namespace orven::bindings::frames {

using errors::Result;
using python::PyRef;

Result<std::uint32_t> ObjectDictionary::code_of(PyObject* object) {
    const Py_hash_t hash = PyObject_Hash(object);
    if (hash == -1 && PyErr_Occurred()) return errors::fetch();
    std::size_t slot = keys::mix(static_cast<std::uint64_t>(hash)) & mask_;
    while (true) {
        const std::uint32_t code = slots_[slot];
        if (code == empty) break;
        if (hashes_[code] == hash) {
            const int equal = PyObject_RichCompareBool(values_[code].get(), object, Py_EQ);
            if (equal < 0) return errors::fetch();
            if (equal) return code;
        }
        slot = (slot + 1) & mask_;
    }
    const auto code = static_cast<std::uint32_t>(values_.size());
    values_.push_back(PyRef::borrow(object));
    hashes_.push_back(hash);
    slots_[slot] = code;
    if (values_.size() * 2 > slots_.size()) rehash();
    return code;
}

Result<std::vector<std::uint32_t>> ObjectDictionary::ranks() const {
    std::vector<std::uint32_t> order(values_.size());
    std::iota(order.begin(), order.end(), 0u);
    bool failed = false;
    // A merge sort stays within bounds whatever the comparisons say.
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (failed) return false;
        const int less = PyObject_RichCompareBool(values_[a].get(), values_[b].get(), Py_LT);
        if (less < 0) {
            failed = true;
            return false;
        }
        return less == 1;
    });
    if (failed) return errors::fetch();
    return keys::ranks_from_order(order);
}

void ObjectDictionary::rehash() {
    slots_.assign(slots_.size() * 2, empty);
    mask_ = slots_.size() - 1;
    for (std::uint32_t code = 0; code < values_.size(); ++code) {
        std::size_t slot = keys::mix(static_cast<std::uint64_t>(hashes_[code])) & mask_;
        while (slots_[slot] != empty) slot = (slot + 1) & mask_;
        slots_[slot] = code;
    }
}

}  // namespace orven::bindings::frames
