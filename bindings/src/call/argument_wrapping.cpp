#include "call/argument_wrapping.hpp"

#include <memory>
#include <string>

#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::call {

using errors::ErrorValue;
using python::PyRef;

ErrorValue wrap_argument_error(ErrorValue error, std::string_view argument_name) {
    PyRef caught = std::move(error).into_object();
    if (Py_TYPE(caught.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        return ErrorValue::from_object(std::move(caught));
    }
    // The caught text is kept as the str it is (lone surrogates included).
    std::string prefix = "argument '";
    prefix += argument_name;
    prefix += "': ";
    auto message = std::make_shared<const PyRef>(errors::infallible(
        PyUnicode_FromFormat("%s%U", prefix.c_str(), errors::str_object(caught.get()).get())));
    PyRef wrapped = ErrorValue::deferred(PyRef::borrow(PyExc_TypeError), [message] {
                        return message->clone();
                    }).into_object();
    // Takes over the reference; a null cause still marks the context as
    // suppressed, so only the cause is shown, as for `raise ... from`.
    PyException_SetCause(wrapped.get(), PyException_GetCause(caught.get()));
    return ErrorValue::from_object(std::move(wrapped));
}

}  // namespace orven::bindings::call
