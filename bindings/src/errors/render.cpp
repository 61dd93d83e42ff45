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
    std::string text = "Traceback (most recent call last):\n";
    text += python::lossy_utf8(joined.value().get());
    return text;
}

// The formatted traceback, or a stand-in if even that fails.
std::string traceback_text(PyObject* traceback) {
    Result<std::string> formatted = format_traceback(traceback);
    if (formatted.ok()) {
        return std::move(formatted).value();
    }
    std::move(formatted).error().restore();
    PyErr_WriteUnraisable(traceback);
    std::string text = "<unformattable ";
    text += repr_text(traceback);
    text += ">";
    return text;
}

std::string traceback_field(PyObject* traceback) {
    if (traceback == nullptr) {
        return "None";
    }
    std::string field = "Some(";
    field += debug_quoted(traceback_text(traceback));
    field += ")";
    return field;
}

}  // namespace

std::string render(ErrorValue error) {
    PyRef exception = std::move(error).into_object();
    PyRef traceback = PyRef::steal(PyException_GetTraceback(exception.get()));
    std::string text = "PyErr { type: ";
    text += repr_text(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())));
    text += ", value: ";
    text += repr_text(exception.get());
    text += ", traceback: ";
    text += traceback_field(traceback.get());
    text += " }";
    return text;
}

}  // namespace orven::bindings::errors
