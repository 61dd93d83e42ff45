#include <string>

#include "errors/debug_quoted.hpp"
#include "errors/object_text.hpp"
#include "errors/checked.hpp"
#include "errors/translation.hpp"
#include "python/lossy_text.hpp"

namespace orven::bindings::errors {
namespace {

using python::PyRef;

// "Traceback (most recent call last):" and the frames, as Python prints them.
Result<std::string> format_traceback(PyObject* traceback) {
    Result<PyRef> module = checked(PyImport_ImportModule("traceback"));
    if (!module.ok()) return std::move(module).error();
    Result<PyRef> format_tb = checked(PyObject_GetAttrString(module.value().get(), "format_tb"));
    if (!format_tb.ok()) return std::move(format_tb).error();
    Result<PyRef> lines = checked(PyObject_CallOneArg(format_tb.value().get(), traceback));
    if (!lines.ok()) return std::move(lines).error();
    PyRef empty = infallible(PyUnicode_FromStringAndSize("", 0));
    Result<PyRef> joined = checked(PyUnicode_Join(empty.get(), lines.value().get()));
    if (!joined.ok()) return std::move(joined).error();
    return "Traceback (most recent call last):\n" + python::lossy_utf8(joined.value().get());
}

std::string traceback_field(PyObject* traceback) {
    if (traceback == nullptr) {
        return "None";
    }
    Result<std::string> formatted = format_traceback(traceback);
    if (formatted.ok()) {
        return "Some(" + debug_quoted(formatted.value()) + ")";
    }
    std::move(formatted).error().restore();
    PyErr_WriteUnraisable(traceback);
    return "Some(" + debug_quoted("<unformattable " + repr_text(traceback) + ">") + ")";
}

}  // namespace

std::string render(ErrorValue error) {
    PyRef exception = std::move(error).into_object();
    PyRef traceback = PyRef::steal(PyException_GetTraceback(exception.get()));
    return "PyErr { type: " + repr_text(reinterpret_cast<PyObject*>(Py_TYPE(exception.get()))) +
           ", value: " + repr_text(exception.get()) +
           ", traceback: " + traceback_field(traceback.get()) + " }";
}

}  // namespace orven::bindings::errors
