#include <memory>
#include <string>

#include "errors/object_text.hpp"
#include "errors/translation.hpp"

namespace orven::bindings::errors {
namespace {

using python::PyRef;

// How a cast target reads in the message: a type by its qualified name,
// a tuple as its members' displays joined by " | ", anything else by str().
std::string target_display(PyObject* target) {
    if (PyType_Check(target)) {
        return qualified_name_text(reinterpret_cast<PyTypeObject*>(target));
    }
    if (PyTuple_Check(target)) {
        std::string display;
        const Py_ssize_t count = PyTuple_GET_SIZE(target);
        for (Py_ssize_t i = 0; i < count; ++i) {
            if (i > 0) {
                display += " | ";
            }
            display += target_display(PyTuple_GET_ITEM(target, i));
        }
        return display;
    }
    return str_text(target);
}

}  // namespace

ErrorValue cast_error(PyObject* value, PyObject* target) {
    // The builder may be copied (std::function), so the two objects it needs
    // are shared rather than owned by it alone.
    auto value_type = std::make_shared<const PyRef>(
        PyRef::borrow(reinterpret_cast<PyObject*>(Py_TYPE(value))));
    auto target_ref = std::make_shared<const PyRef>(PyRef::borrow(target));
    return ErrorValue::deferred(PyRef::borrow(PyExc_TypeError), [value_type, target_ref] {
        std::string message = "'";
        message += qualified_name_text(reinterpret_cast<PyTypeObject*>(value_type->get()));
        message += "' object cannot be cast as '";
        message += target_display(target_ref->get());
        message += "'";
        return infallible(
            PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    });
}

}  // namespace orven::bindings::errors
