#include <unistd.h>

#include <string>
#include <string_view>

#include "errors/object_text.hpp"
#include "errors/panic_exception.hpp"
#include "errors/translation.hpp"
#include "fatal/fatal_error.hpp"
#include "python/compat.hpp"
#include "python/lossy_text.hpp"

namespace orven::bindings::errors {
namespace {

using python::PyRef;

void write_to_stderr(std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(STDERR_FILENO, text.data(), text.size());
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

// A PanicException that this process raised earlier came back from Python
// code.  It is the same failure continuing, so it goes on as a fatal error
// (its report was written when it first arose); its Python traceback is
// printed first, as it is about to be lost.
[[noreturn]] void resume_panic(PyRef exception) {
    write_to_stderr(
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n");
    std::string message;
    if (PyRef text = PyRef::steal(PyObject_Str(exception.get()))) {
        message = python::lossy_utf8(text.get());
    } else {
        PyErr_Clear();
        message = "Unwrapped panic from Python code";
    }
    python::set_raised_exception(exception.release());
    PyErr_PrintEx(0);
    fatal::resume(std::move(message));
}

}  // namespace

ErrorValue fetch() {
    PyRef exception = PyRef::steal(python::get_raised_exception());
    if (!exception) {
        return ErrorValue::with_message(PyExc_SystemError,
                                        "attempted to fetch exception but none was set");
    }
    if (is_panic_exception_type(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())))) {
        resume_panic(std::move(exception));
    }
    return ErrorValue::from_object(std::move(exception));
}

}  // namespace orven::bindings::errors
