#include "call/sequence_type.hpp"

#include "python/failure.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::call {
namespace {

using errors::Result;
using python::PyRef;

// Holds a reference that is never dropped (see OnceValue users elsewhere:
// nothing may be released after the interpreter has finalised).
python::OnceValue<PyObject*> sequence_type_cache;

Result<PyObject*> import_sequence_type() {
    Result<PyRef> module = errors::checked(PyImport_ImportModule("collections.abc"));
    if (!module.ok()) return std::move(module).error();
    Result<PyRef> type = errors::checked(PyObject_GetAttrString(module.value().get(), "Sequence"));
    if (!type.ok()) return std::move(type).error();
    return std::move(type).value().release();
}

}  // namespace

Result<PyObject*> sequence_type() {
    Result<PyObject* const*> type = sequence_type_cache.get_or_try_fill(import_sequence_type);
    if (!type.ok()) return std::move(type).error();
    return *type.value();
}

}  // namespace orven::bindings::call
