#include "borrow/published_registry.hpp"

#include <memory>

#include "borrow/registry_operations.hpp"
#include "borrow/registry_state.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::borrow {
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
    return header;
}

}  // namespace orven::bindings::borrow
