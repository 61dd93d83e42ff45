#pragma once

// Python objects already seen, by address, and the code each was given.
// Each is held by a strong reference, so no address can be freed and
// reused for another object during the call.  Bounded: past its capacity,
// new objects are looked up by value.

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "keys/hashing.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

class IdentityCache {
public:
    static constexpr std::size_t capacity = 4096;
    static constexpr std::uint32_t empty = 0xffffffffu;

    IdentityCache() : slots_(2 * capacity, Slot{}), mask_(2 * capacity - 1) {}

    // The code remembered for `object`, or empty.
    std::uint32_t find(PyObject* object) const noexcept {
        std::size_t slot = index(object);
        while (slots_[slot].object != nullptr) {
            if (slots_[slot].object == object) return slots_[slot].code;
            slot = (slot + 1) & mask_;
        }
        return empty;
    }

    void remember(PyObject* object, std::uint32_t code) {
        if (held_.size() >= capacity) return;
        std::size_t slot = index(object);
        while (slots_[slot].object != nullptr) slot = (slot + 1) & mask_;
        held_.push_back(python::PyRef::borrow(object));
        slots_[slot] = Slot{object, code};
    }

private:
    struct Slot {
        PyObject* object = nullptr;
        std::uint32_t code = empty;
    };
    std::size_t index(PyObject* object) const noexcept {
        return keys::mix(reinterpret_cast<std::uintptr_t>(object)) & mask_;
    }

    std::vector<Slot> slots_;
    std::size_t mask_;
    std::vector<python::PyRef> held_;
};

}  // namespace orven::bindings::frames
