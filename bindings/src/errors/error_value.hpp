#pragma once

// Recoverable failures of the boundary, carried as values up to the entry
// point, where they become the pending Python exception.

#include <Python.h>

#include <functional>
#include <string>
#include <utility>
#include <variant>

#include "python/py_ref.hpp"

namespace orven::bindings::errors {

class ErrorValue {
public:
    // Builds the constructor arguments when the error is raised, so that
    // texts are formatted at that moment.  Returns a new reference.
    using ArgumentsBuilder = std::function<python::PyRef()>;

    // Deferred form: an exception type (any object; restore checks it) and
    // the builder of its arguments.
    static ErrorValue deferred(python::PyRef type, ArgumentsBuilder build_arguments);
    // Deferred form with a single message text (TypeError, SystemError, ...).
    static ErrorValue with_message(PyObject* type, std::string message);
    // Object form: an exception instance fetched from the interpreter.
    static ErrorValue from_object(python::PyRef exception);

    ErrorValue(ErrorValue&&) noexcept = default;
    ErrorValue& operator=(ErrorValue&&) noexcept = default;

    // Makes this error the interpreter's pending exception (consumes it).
    void restore() &&;

    // The exception instance this error stands for, creating it if the
    // error is still deferred (consumes it).  Never null.
    python::PyRef into_object() &&;

private:
    struct Deferred {
        python::PyRef type;
        ArgumentsBuilder build_arguments;
    };
    explicit ErrorValue(std::variant<Deferred, python::PyRef> form) : form_(std::move(form)) {}

    std::variant<Deferred, python::PyRef> form_;
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

}  // namespace orven::bindings::errors
