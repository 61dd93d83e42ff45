#include "errors/error_value.hpp"

#include "python/compat.hpp"
#include "errors/translation.hpp"

namespace orven::bindings::errors {

using python::PyRef;

ErrorValue ErrorValue::deferred(PyRef type, ArgumentsBuilder build_arguments) {
    return ErrorValue(Deferred{std::move(type), std::move(build_arguments)});
}

ErrorValue ErrorValue::with_message(PyObject* type, std::string message) {
    return deferred(PyRef::borrow(type), [message = std::move(message)] {
        return infallible(
            PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    });
}

ErrorValue ErrorValue::from_object(PyRef exception) {
    return ErrorValue(std::move(exception));
}

void ErrorValue::restore() && {
    if (PyRef* exception = std::get_if<PyRef>(&form_)) {
        python::set_raised_exception(exception->release());
        return;
    }
    Deferred& deferred = std::get<Deferred>(form_);
    // The arguments are built first, so that their texts are formed now.
    PyRef arguments = deferred.build_arguments ? deferred.build_arguments() : PyRef();
    if (PyExceptionClass_Check(deferred.type.get())) {
        // The interpreter makes the instance; a tuple is spread over the
        // constructor's parameters, anything else is its one argument.
        PyErr_SetObject(deferred.type.get(), arguments.get());
    } else {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
    }
}

PyRef ErrorValue::into_object() && {
    std::move(*this).restore();
    return PyRef::steal(python::get_raised_exception());
}

}  // namespace orven::bindings::errors
