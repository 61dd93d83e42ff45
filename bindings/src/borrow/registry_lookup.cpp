#include "borrow/registry_lookup.hpp"

#include <string>
#include <utility>

#include "borrow/published_registry.hpp"
#include "python/failure.hpp"
#include "numpy/module_names.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::borrow {
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

const RegistryHeader* registry_header_if_ready() noexcept {
    const RegistryHeader* const* header = header_cache.get();
    return header != nullptr ? *header : nullptr;
}

}  // namespace orven::bindings::borrow
