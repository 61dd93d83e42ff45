#include "frames/key_timing.hpp"

#include <chrono>
#include <span>
#include <string>

#include "frames/call_signals.hpp"
#include "frames/column_buffer.hpp"
#include "frames/composite_key.hpp"
#include "frames/key_readers.hpp"
#include "keys/direct_range.hpp"
#include "python/entry_point.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

ErrorValue misuse() {
    return ErrorValue::with_message(PyExc_TypeError, "time_key_codes: bad key description");
}

bool tag_is(PyObject* described, const char* tag) {
    return PyUnicode_Check(PyTuple_GET_ITEM(described, 0)) &&
           PyUnicode_CompareWithASCIIString(PyTuple_GET_ITEM(described, 0), tag) == 0;
}

// One described column through its reader; the texts of errors are left
// out, the benchmark's columns having none.
Result<KeyCodes> code_described(PyObject* described, std::size_t rows, pool::Interruption& interruption) {
    if (!PyTuple_Check(described) || PyTuple_GET_SIZE(described) < 4) return misuse();
    const KeyRules rules;
    if (tag_is(described, "arrow")) return arrow_string_codes(PyTuple_GET_ITEM(described, 1), rows, rules, interruption);
    Result<ColumnBuffer> column = ColumnBuffer::view(PyTuple_GET_ITEM(described, 1), "time_key_codes: no buffer");
    if (!column.ok()) return std::move(column).error();
    if (column.value().size() != rows) return misuse();
    if (tag_is(described, "object")) return object_codes(column.value(), PyTuple_GET_ITEM(described, 2), rules, interruption);
    if (!tag_is(described, "int")) return misuse();
    KeyRules int_rules;
    if (PyTuple_GET_ITEM(described, 2) != Py_None) {
        const long long null_value = PyLong_AsLongLong(PyTuple_GET_ITEM(described, 2));
        if (null_value == -1 && PyErr_Occurred()) return errors::fetch();
        int_rules.null_value = null_value;
    }
    ColumnBuffer ranks;
    std::span<const std::uint32_t> rank_span;
    if (PyTuple_GET_ITEM(described, 3) != Py_None) {
        Result<ColumnBuffer> viewed = ColumnBuffer::view(PyTuple_GET_ITEM(described, 3), "time_key_codes: no buffer");
        if (!viewed.ok()) return std::move(viewed).error();
        ranks = std::move(viewed).value();
        if (ranks.format() != 'I' || ranks.item_size() != 4) return misuse();
        rank_span = std::span(ranks.as<std::uint32_t>(), ranks.size());
    }
    return integer_codes(column.value(), rank_span, int_rules, interruption);
}

Result<PyRef> timed(PyObject* const* args, Py_ssize_t count, CallSignals& signals) {
    if (count != 2 || !PyTuple_Check(args[0])) return misuse();
    const Py_ssize_t rows = PyLong_AsSsize_t(args[1]);
    if (rows < 0) return PyErr_Occurred() ? errors::fetch() : misuse();
    const auto start = std::chrono::steady_clock::now();
    CompositeKey key(static_cast<std::size_t>(rows));
    for (Py_ssize_t k = 0; k < PyTuple_GET_SIZE(args[0]); ++k) {
        Result<KeyCodes> codes = code_described(PyTuple_GET_ITEM(args[0], k), static_cast<std::size_t>(rows),
                                                signals.interruption());
        if (!codes.ok()) return std::move(codes).error();
        key.fold(std::move(codes).value(), signals.interruption());
    }
    key.finish(keys::direct_range_limit(static_cast<std::size_t>(rows)), signals.interruption());
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    return errors::checked(Py_BuildValue("(Kd)", static_cast<unsigned long long>(key.bucket_count()), seconds.count()));
}

}  // namespace

PyObject* time_key_codes_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf) noexcept {
    return errors::entry_point([&]() -> Result<PyRef> {
        CallSignals signals;
        try {
            return timed(args, PyVectorcall_NARGS(nargsf), signals);
        } catch (const pool::Interrupted&) {
            return signals.take_raised();
        }
    });
}

}  // namespace orven::bindings::frames
