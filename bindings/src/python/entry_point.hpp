#pragma once

// The wrapper around every function that the interpreter calls: the body
// either gives a new reference or an error value, or fails fatally; the
// interpreter always gets a new reference, or null with exactly one
// exception pending.

#include <Python.h>

#include <exception>
#include <new>
#include <optional>
#include <source_location>
#include <string>
#include <utility>

#include "fatal/fatal_error.hpp"
#include "python/failure.hpp"

namespace orven::bindings::errors {

// Armed for the whole of an entry point.  If it is still armed when it goes
// out of scope, a failure escaped the translation into a Python exception:
// there is no sound way to hand it to the interpreter, so it writes the
// report for that and aborts the process.
class BoundaryGuard {
public:
    BoundaryGuard(const char* message, std::source_location where) noexcept
        : message_(message), where_(where) {}
    BoundaryGuard(const BoundaryGuard&) = delete;
    BoundaryGuard& operator=(const BoundaryGuard&) = delete;
    ~BoundaryGuard() {
        if (armed_) {
            fail();
        }
    }

    void disarm() noexcept { armed_ = false; }

    [[noreturn]] void fail() const noexcept {
        fatal::write_report(fatal::Location::from(where_), message_);
        fatal::abort_with("");
    }

private:
    const char* message_;
    std::source_location where_;
    bool armed_ = true;
};

// The message of a PanicException whose failure carried no text of its own.
inline constexpr const char* textless_failure_message = "native code failed without a message";

// Runs `body` (() -> Result<python::PyRef>) and translates its outcome.
// std::bad_alloc becomes MemoryError.  A fatal error has unwound through the body, releasing everything the body
// owned, before it becomes a PanicException here.
template <class Body>
PyObject* entry_point(Body&& body,
                      std::source_location where = std::source_location::current()) noexcept {
    BoundaryGuard guard("uncaught panic at ffi boundary", where);
    try {
        std::optional<Result<python::PyRef>> outcome;
        std::optional<std::string> failure;
        bool out_of_memory = false;
        try {
            outcome.emplace(std::forward<Body>(body)());
        } catch (const fatal::FatalError& error) {
            failure = error.message();
        } catch (const std::bad_alloc&) {
            // Memory could not be had (in an ordinary call, that of a
            // buffer in proportion to the input; see memory/buffer.hpp): an
            // ordinary MemoryError, which the caller can handle; there is
            // nothing to report.
            out_of_memory = true;
        } catch (const std::exception& error) {
            // Not one of ours, so nobody has reported it yet.
            fatal::write_report(fatal::Location::from(where), error.what());
            failure = textless_failure_message;
        } catch (...) {
            fatal::write_report(fatal::Location::from(where), textless_failure_message);
            failure = textless_failure_message;
        }
        // Translation: a fatal error from here on escapes to the guard.
        PyObject* result = nullptr;
        if (failure) {
            panic_exception(std::move(*failure)).restore();
        } else if (out_of_memory) {
            PyErr_NoMemory();
        } else if (outcome->ok()) {
            result = std::move(*outcome).value().release();
        } else {
            std::move(*outcome).error().restore();
        }
        outcome.reset();
        guard.disarm();
        return result;
    } catch (...) {
        guard.fail();
    }
}

}  // namespace orven::bindings::errors
