#include "call/module_setup.hpp"

#include <atomic>
#include <cstdint>

#include "call/fork_handlers.hpp"

namespace orven::bindings::call {
namespace {

using errors::Result;
using python::PyRef;

// ------------------------------------------------------ the interpreter

constexpr std::int64_t no_owner = -1;

// Set once, never reset, not even when the owner's initialisation fails.
std::atomic<std::int64_t> owner_interpreter{no_owner};

// Makes the current interpreter the library's owner if none is yet, and
// refuses every other interpreter of the process.
errors::Status claim_for_current_interpreter() {
    const std::int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (current == -1) {
        return errors::fetch();
    }
    std::int64_t expected = no_owner;
    if (!owner_interpreter.compare_exchange_strong(expected, current, std::memory_order_seq_cst) &&
        expected != current) {
        return errors::ErrorValue::with_message(
            PyExc_ImportError,
            "PyO3 modules do not yet support subinterpreters, see "
            "https://github.com/PyO3/pyo3/issues/576");
    }
    return errors::success();
}

// ------------------------------------------------------ the module object

// The statistics run on our own worker threads while a calling thread is
// attached, and nothing in the boundary code has been made safe for
// running without the global lock.
constexpr bool needs_gil = true;

// The API version the modules are built against (PYTHON_API_VERSION).
constexpr int python_api_version = 1013;

}  // namespace

Result<PyObject*> ModuleOfProcess::create() const {
    Result<PyRef> module = errors::checked(PyModule_Create2(&definition_, python_api_version));
    if (!module.ok()) return std::move(module).error();
    if (python::declare_gil_requirement(module.value().get(), needs_gil) < 0) {
        return errors::fetch();
    }
    errors::Status filled = fill_(module.value().get());
    if (!filled.ok()) return std::move(filled).error();
    return std::move(module).value().release();
}

Result<PyRef> ModuleOfProcess::initialise() {
    errors::Status handlers = install_fork_handlers();
    if (!handlers.ok()) return std::move(handlers).error();
    errors::Status claimed = claim_for_current_interpreter();
    if (!claimed.ok()) return std::move(claimed).error();
    Result<PyObject* const*> module = module_.get_or_try_fill([this] { return create(); });
    if (!module.ok()) return std::move(module).error();
    return PyRef::borrow(*module.value());
}

}  // namespace orven::bindings::call
