#include "errors/object_text.hpp"

#include "errors/translation.hpp"
#include "python/lossy_text.hpp"
#include "python/py_ref.hpp"

namespace orven::bindings::errors {
namespace {

using python::PyRef;

// "<unprintable T object>" for an object whose str() or repr() failed with
// the error now pending; the failure goes to the unraisable hook.
std::string unprintable(PyObject* object) {
    // Taken through fetch like every failure, then handed on as it was.
    fetch().restore();
    PyErr_WriteUnraisable(object);
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(object)));
    if (!name) {
        fetch();
        return "<unprintable object>";
    }
    std::string text = "<unprintable ";
    text += python::lossy_utf8(name.get());
    text += " object>";
    return text;
}

std::string text_of(PyObject* object, PyObject* (*convert)(PyObject*)) {
    PyRef text = PyRef::steal(convert(object));
    if (!text) {
        return unprintable(object);
    }
    return python::lossy_utf8(text.get());
}

}  // namespace

PyRef str_object(PyObject* object) {
    if (PyRef text = PyRef::steal(PyObject_Str(object))) {
        return text;
    }
    const std::string placeholder = unprintable(object);
    return infallible(PyUnicode_FromStringAndSize(placeholder.data(),
                                                  static_cast<Py_ssize_t>(placeholder.size())));
}

std::string str_text(PyObject* object) { return text_of(object, PyObject_Str); }

std::string repr_text(PyObject* object) { return text_of(object, PyObject_Repr); }

std::string qualified_name_text(PyTypeObject* type) {
    PyRef name = PyRef::steal(PyType_GetQualName(type));
    if (!name) {
        fetch();
        return "<failed to extract type name>";
    }
    return python::lossy_utf8(name.get());
}

}  // namespace orven::bindings::errors
