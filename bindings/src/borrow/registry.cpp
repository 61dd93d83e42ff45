// The borrow registry this process uses: the four operations of the one we
// publish, its publication, and the lookup that finds another module's
// registry or publishes ours.

#include "borrow/registry.hpp"

#include <atomic>
#include <memory>
#include <string>
#include <utility>

#include "borrow/borrow_state.hpp"
#include "fatal/fatal_error.hpp"
#include "numpy/abi.hpp"
#include "python/failure.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::borrow {

// ------------------------------------------------------ the four operations

// The four operations of the borrow registry that we publish.  Other
// extension modules call them through the registry header, so they keep C
// linkage and the platform's standard calling convention.  `flags` is the
// header's state pointer (a RegistryState).  Called attached to the
// interpreter, with an ndarray (or subclass instance).

Place place_of(PyObject* array) {
    // Our registry is published only after an array passed intake, which
    // loaded the array API, so this does not reach NumPy again.
    const numpy::ArrayApi& api = numpy::array_api();
    return Place{base_address(array, api.ndarray_type), borrow_key(array, api.feature_version)};
}

namespace {

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

// 0 granted, -1 when an exclusive borrow of a conflicting view is held.
extern "C" int acquire_shared(void* flags, PyObject* array) noexcept {
    return without_unwinding([&] {
        const Place place = place_of(array);
        return state_of(flags).acquire_shared(place.base, place.key);
    });
}

// 0 granted, -1 when any borrow of a conflicting view is held, -2 when the
// array is not writeable.
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

// ------------------------------------------------------------ publication

namespace {

// The header and the state it points at, owned together by the capsule.
struct PublishedRegistry {
    RegistryState state;
    RegistryHeader header{
        .version = 1,
        .flags = &state,
        .acquire = acquire_shared,
        .acquire_mut = acquire_mut_shared,
        .release = release_shared,
        .release_mut = release_mut_shared,
    };
};

// The capsule's destructor: frees the registry (its context).
void destroy_registry(PyObject* capsule) {
    std::unique_ptr<PublishedRegistry> owned(
        static_cast<PublishedRegistry*>(PyCapsule_GetContext(capsule)));
}

}  // namespace

namespace {

// Set once our registry is published for good; never cleared, as the
// capsule that owns it is never released.
std::atomic<RegistryState*> published{nullptr};

// Creates an empty registry, wraps its header in a capsule (which frees the
// registry when it goes) and sets that capsule as the registry attribute of
// `multiarray`.  The returned header lives for the rest of the process: a
// reference to the capsule is kept and never dropped.
errors::Result<const RegistryHeader*> publish_registry(PyObject* multiarray);
errors::Result<const RegistryHeader*> publish_registry(PyObject* multiarray) {
    auto registry = std::make_unique<PublishedRegistry>();
    python::PyRef capsule = python::PyRef::steal(
        PyCapsule_New(&registry->header, registry_capsule_name, destroy_registry));
    if (!capsule) {
        return errors::fetch();
    }
    if (PyCapsule_SetContext(capsule.get(), registry.get()) != 0) {
        return errors::fetch();
    }
    // From here on the capsule owns the registry.
    const RegistryHeader* header = &registry.release()->header;
    if (PyObject_SetAttrString(multiarray, registry_capsule_name, capsule.get()) != 0) {
        return errors::fetch();
    }
    // Kept for the rest of the process, like a registry found on the module.
    static_cast<void>(capsule.release());
    published.store(static_cast<RegistryState*>(header->flags), std::memory_order_release);
    return header;
}

}  // namespace

// ----------------------------------------------------------------- lookup

namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

Result<const RegistryHeader*> find_or_publish_registry() {
    Result<PyRef> multiarray = numpy::import_multiarray_module();
    if (!multiarray.ok()) return std::move(multiarray).error();

    PyObject* attribute = PyObject_GetAttrString(multiarray.value().get(), registry_capsule_name);
    if (attribute == nullptr) {
        // Whatever kept the attribute from being read, no usable registry is
        // there: the error is dropped and we publish our own.
        static_cast<void>(errors::fetch());
        return publish_registry(multiarray.value().get());
    }
    PyRef capsule = PyRef::steal(attribute);
    if (!Py_IS_TYPE(capsule.get(), &PyCapsule_Type)) {
        return errors::cast_error(capsule.get(), reinterpret_cast<PyObject*>(&PyCapsule_Type));
    }
    auto* header = static_cast<const RegistryHeader*>(
        PyCapsule_GetPointer(capsule.get(), registry_capsule_name));
    if (header == nullptr) {
        return errors::fetch();
    }
    if (header->version == 0) {
        return ErrorValue::with_message(
            PyExc_TypeError, "Version " + std::to_string(header->version) +
                                 " of the borrow checking API is not supported by this module.");
    }
    // The header lives as long as its capsule, which is kept for the rest of
    // the process: this reference is deliberately never dropped.
    static_cast<void>(capsule.release());
    return header;
}

python::OnceValue<const RegistryHeader*> header_cache;

}  // namespace

const RegistryHeader& registry_header() {
    Result<const RegistryHeader* const*> header =
        header_cache.get_or_try_fill([]() -> Result<const RegistryHeader*> {
            Result<const RegistryHeader*> found = find_or_publish_registry();
            if (!found.ok()) {
                errors::fatal_with_error("Interal borrow checking API error", std::move(found).error());
            }
            return found;
        });
    return **header.value();
}

// ------------------------------------------------- borrows of admitted arrays

RegistryState* published_state() noexcept { return published.load(std::memory_order_acquire); }

bool is_ours(const RegistryHeader& registry) noexcept {
    // Our operations exist once per process, so they tell our header apart
    // from any other module's.
    return registry.release == &release_shared;
}

int acquire_shared_at(const RegistryHeader& registry, PyObject* array, const Place& place) {
    if (is_ours(registry)) {
        return state_of(registry.flags).acquire_shared(place.base, place.key);
    }
    return registry.acquire(registry.flags, array);
}

bool release_shared_at(const RegistryHeader& registry, PyObject* array, const Place& place) {
    if (is_ours(registry)) {
        state_of(registry.flags).release_shared(place.base, place.key);
        return true;
    }
    if (place_of(array) != place) {
        return false;
    }
    registry.release(registry.flags, array);
    return true;
}

}  // namespace orven::bindings::borrow
