#include "borrow/registry_operations.hpp"

#include "borrow/base_address.hpp"
#include "borrow/borrow_key.hpp"
#include "borrow/registry_header.hpp"
#include "borrow/registry_state.hpp"
#include "fatal/fatal_error.hpp"
#include "numpy/array_api.hpp"
#include "numpy/array_object.hpp"

namespace orven::bindings::borrow {
namespace {

// Where a view lives in the registry.
struct Place {
    const void* base;
    BorrowKey key;
};

Place place_of(PyObject* array) {
    // Our registry is published only after an array passed intake, which
    // loaded the array API, so this does not reach NumPy again.
    const numpy::ArrayApi& api = numpy::array_api();
    return Place{base_address(array, api.ndarray_type), borrow_key(array, api.feature_version)};
}

// No failure may unwind into a foreign caller: the only failures here are
// internal faults (a release of a borrow that is not held, memory
// exhaustion), whose report is already written, so the process stops.
template <class Operation>
auto without_unwinding(Operation&& operation) noexcept {
    try {
        return operation();
    } catch (...) {
        fatal::abort_with("fatal error inside the borrow registry; aborting\n");
    }
}

RegistryState& state_of(void* flags) noexcept { return *static_cast<RegistryState*>(flags); }

}  // namespace

extern "C" int acquire_shared(void* flags, PyObject* array) noexcept {
    return without_unwinding([&] {
        const Place place = place_of(array);
        return state_of(flags).acquire_shared(place.base, place.key);
    });
}

extern "C" int acquire_mut_shared(void* flags, PyObject* array) noexcept {
    return without_unwinding([&] {
        if ((numpy::as_array(array)->flags & numpy::writeable_flag) == 0) {
            return borrow_not_writeable;
        }
        const Place place = place_of(array);
        return state_of(flags).acquire_exclusive(place.base, place.key);
    });
}

extern "C" void release_shared(void* flags, PyObject* array) noexcept {
    without_unwinding([&] {
        const Place place = place_of(array);
        state_of(flags).release_shared(place.base, place.key);
    });
}

extern "C" void release_mut_shared(void* flags, PyObject* array) noexcept {
    without_unwinding([&] {
        const Place place = place_of(array);
        state_of(flags).release_exclusive(place.base, place.key);
    });
}

}  // namespace orven::bindings::borrow
