// Error values and their way into the interpreter: raising, fetching,
// the cast error, calls that may not fail, and the PanicException type.

#include "python/failure.hpp"

#include <memory>
#include <string>
#include <string_view>

#include "fatal/fatal_error.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::errors {

// ---------------------------------------------------------- error values

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

// ------------------------------------------------------------- fetching

namespace {

// A PanicException that this process raised earlier came back from Python
// code.  It is the same failure continuing, so it goes on as a fatal error
// (its report was written when it first arose); its Python traceback is
// printed first, as it is about to be lost.
[[noreturn]] void resume_panic(PyRef exception) {
    fatal::write_stderr(
        "--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
        "Python stack trace below:\n");
    std::string message;
    if (PyRef text = PyRef::steal(PyObject_Str(exception.get()))) {
        message = lossy_utf8(text.get());
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

// ------------------------------------------------ calls that cannot fail

PyRef infallible(PyObject* result, std::source_location where) {
    if (result == nullptr) {
        // Only running out of memory gets here; the interpreter's own
        // account of it is the most useful thing to show.
        PyErr_Print();
        fatal::raise("Python API call failed", where);
    }
    return PyRef::steal(result);
}

void fatal_with_error(std::string_view prefix, ErrorValue error, std::source_location where) {
    std::string message(prefix);
    message += ": ";
    message += render(std::move(error));
    fatal::raise(std::move(message), where);
}

// ------------------------------------------------------------ cast error

namespace {

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

// ------------------------------------------------------- PanicException

namespace {

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
