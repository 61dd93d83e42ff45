#pragma once

// Failures at the boundary with the interpreter.  A recoverable failure is
// an ErrorValue, carried up to the entry point where it becomes the pending
// Python exception; a failure that ends the call is a fatal error
// (fatal/fatal_error.hpp), which the entry point turns into a
// PanicException.  This header also gives the texts that go into failure
// messages: formatting one must never fail because an object misbehaves.

#include <Python.h>

#include <functional>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "python/handles.hpp"

namespace orven::bindings::errors {

using python::PyRef;

// ---------------------------------------------------------- error values

class ErrorValue {
public:
    // Builds the constructor arguments when the error is raised, so that
    // texts are formatted at that moment.  Returns a new reference.
    using ArgumentsBuilder = std::function<PyRef()>;

    // Deferred form: an exception type (any object; restore checks it) and
    // the builder of its arguments.
    static ErrorValue deferred(PyRef type, ArgumentsBuilder build_arguments);
    // Deferred form with a single message text (TypeError, SystemError, ...).
    static ErrorValue with_message(PyObject* type, std::string message);
    // Object form: an exception instance fetched from the interpreter.
    static ErrorValue from_object(PyRef exception);

    ErrorValue(ErrorValue&&) noexcept = default;
    ErrorValue& operator=(ErrorValue&&) noexcept = default;

    // Makes this error the interpreter's pending exception (consumes it).
    void restore() &&;

    // The exception instance this error stands for, creating it if the
    // error is still deferred (consumes it).  Never null.
    PyRef into_object() &&;

private:
    struct Deferred {
        PyRef type;
        ArgumentsBuilder build_arguments;
    };
    explicit ErrorValue(std::variant<Deferred, PyRef> form) : form_(std::move(form)) {}

    std::variant<Deferred, PyRef> form_;
};

// The outcome of a fallible step of the boundary: a value or an ErrorValue.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(ErrorValue error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const noexcept { return state_.index() == 0; }
    T& value() & { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }
    ErrorValue&& error() && { return std::get<1>(std::move(state_)); }

private:
    std::variant<T, ErrorValue> state_;
};

// A step that yields nothing but may fail.
using Status = Result<std::monostate>;
inline Status success() { return Status(std::monostate{}); }

// ------------------------------------------------- fetching and raising

// Takes the pending exception after an interpreter call has signalled
// failure.  SystemError "attempted to fetch exception but none was set" when
// nothing is pending.  A PanicException of this process, raised again from
// Python, does not come back: it continues as a fatal error.
ErrorValue fetch();

// Owns the new reference an interpreter call returned, or fetches the
// error it raised when it returned null.
inline Result<PyRef> checked(PyObject* result) {
    if (result == nullptr) {
        return fetch();
    }
    return PyRef::steal(result);
}

// For interpreter calls treated as unable to fail (creating str, float,
// list, dict): passes a non-null result through as an owned reference;
// on null prints the pending error and raises "Python API call failed".
PyRef infallible(PyObject* result, std::source_location where = std::source_location::current());

// TypeError "'<qualname of value's type>' object cannot be cast as '<target>'",
// its text formed when it is raised.
ErrorValue cast_error(PyObject* value, PyObject* target);

// Fatal error with the message `prefix` + ": " + the rendering of `error`.
[[noreturn]] void fatal_with_error(std::string_view prefix, ErrorValue error,
                                   std::source_location where = std::source_location::current());

// ------------------------------------------------------- PanicException

// pyo3_runtime.PanicException: what a fatal error becomes at an entry point.
// Derived from BaseException, so that `except Exception` does not swallow it.
// The name, and the texts that go with it (the rendering of a Python error
// inside a fatal one, the notes written when a fatal error resumes), are
// those of the extension modules built with PyO3: a process that loads
// such modules beside this one sees one kind of fatal native failure,
// named alike and worded alike, whichever module it came from.

// The process-wide PanicException type (borrowed; created on first use).
PyObject* panic_exception_type();

// PanicException(message), the type created now if this is its first use.
ErrorValue panic_exception(std::string message);

// Whether `type` is this process's PanicException (not a like-named type of
// another module).  Never creates the type: before it exists, nothing can be
// an instance of it.
bool is_panic_exception_type(PyObject* type) noexcept;

// ------------------------------------------------------- message texts
// A failing str()/repr() is handed to the interpreter's unraisable-exception
// hook and a placeholder stands in.

// The UTF-8 text of a str (or subclass) that may hold lone surrogates,
// which have no UTF-8 form: each such code point becomes three U+FFFD, the
// same as decoding its surrogate-escaped bytes with replacement.  Used for
// texts that only go into messages, where a readable approximation beats a
// second failure.  Never fails.
std::string lossy_utf8(PyObject* text);

// `text` (UTF-8) as a double-quoted string with backslash escapes, the way
// error renderings have always shown tracebacks: \" \\ \n \r \t \0 and
// \u{hex} for other control characters; everything else as it is.
std::string debug_quoted(std::string_view text);

// str(object) as a str object, or the placeholder if str() fails.
PyRef str_object(PyObject* object);

// str(object), lossily UTF-8; "<unprintable T object>" if str() fails.
std::string str_text(PyObject* object);

// repr(object), lossily UTF-8; "<unprintable T object>" if repr() fails.
std::string repr_text(PyObject* object);

// The type's __qualname__, lossily UTF-8; "<failed to extract type name>"
// when it cannot be had.
std::string qualified_name_text(PyTypeObject* type);

// "PyErr { type: ..., value: ..., traceback: ... }" for the given error.
std::string render(ErrorValue error);

}  // namespace orven::bindings::errors
