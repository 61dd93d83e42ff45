#include "module/owner_interpreter.hpp"

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "python/failure.hpp"

namespace orven::bindings::module {
namespace {

constexpr std::int64_t no_owner = -1;

// Set once, never reset, not even when the owner's initialisation fails.
std::atomic<std::int64_t> owner_interpreter{no_owner};

}  // namespace

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

}  // namespace orven::bindings::module
