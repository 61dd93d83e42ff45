#pragma once

// Distinct Python objects by value (their own hash and equality), each held
// by a strong reference, numbered in the order they first appear, and
// their ranks by their own `<`.  Called under the interpreter: hashing and
// comparing run the objects' code.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

class ObjectDictionary {
public:
    ObjectDictionary() : slots_(1024, empty), mask_(1023) {}

    // The number of `object`'s value, added if new; an error if its hash
    // or an equality test raises.
    errors::Result<std::uint32_t> code_of(PyObject* object);

    std::size_t size() const noexcept { return values_.size(); }

    // rank[code], ordering the values by `<`; an error if a comparison
    // raises or gives no answer.
    errors::Result<std::vector<std::uint32_t>> ranks() const;

private:
    static constexpr std::uint32_t empty = 0xffffffffu;
    void rehash();

    std::vector<python::PyRef> values_;
    std::vector<Py_hash_t> hashes_;
    std::vector<std::uint32_t> slots_;
    std::size_t mask_;
};

}  // namespace orven::bindings::frames
