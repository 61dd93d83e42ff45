#include "errors/panic_exception.hpp"

#include "errors/translation.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::errors {
namespace {

using python::PyRef;

constexpr const char* panic_exception_doc =
    "\n"
    "The exception raised when native code called from Python fails fatally.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Holds a reference that is never dropped: the type outlives every use,
// including static destruction after the interpreter has finalised.
python::OnceValue<PyObject*> panic_type;

}  // namespace

PyObject* panic_exception_type() {
    Result<PyObject* const*> type = panic_type.get_or_try_fill([]() -> Result<PyObject*> {
        PyObject* created = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException",
                                                      panic_exception_doc, PyExc_BaseException,
                                                      nullptr);
        if (created == nullptr) {
            fatal_with_error("Failed to initialize new exception type.", fetch());
        }
        return created;
    });
    // The fill never returns an error value: it fails fatally instead.
    return *type.value();
}

bool is_panic_exception_type(PyObject* type) noexcept {
    PyObject* const* created = panic_type.get();
    return created != nullptr && *created == type;
}

ErrorValue panic_exception(std::string message) {
    return ErrorValue::deferred(PyRef::borrow(panic_exception_type()),
                                [message = std::move(message)] {
                                    PyRef text = infallible(PyUnicode_DecodeUTF8(
                                        message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
                                    return infallible(PyTuple_Pack(1, text.get()));
                                });
}

}  // namespace orven::bindings::errors
