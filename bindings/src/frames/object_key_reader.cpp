// Object key columns: exact str by the workers (str_key_reader.hpp), any
// other under the interpreter, by the objects' own hash, equality and `<`.

#include <cmath>
#include <optional>
#include <vector>

#include "frames/identity_cache.hpp"
#include "frames/key_readers.hpp"
#include "frames/object_dictionary.hpp"
#include "frames/str_key_reader.hpp"
#include "memory/row_buffer.hpp"
#include "pool/row_passes.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

ErrorValue value_error(const std::string& message) {
    return ErrorValue::with_message(PyExc_ValueError, message);
}

bool is_null_object(PyObject* object, PyObject* nulls) {
    if (object == Py_None) return true;
    if (PyFloat_Check(object) && std::isnan(PyFloat_AS_DOUBLE(object))) return true;
    if (nulls != nullptr) {
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(nulls); ++i) {
            if (PyTuple_GET_ITEM(nulls, i) == object) return true;
        }
    }
    return false;
}

// Row by row on the calling thread, which holds the interpreter: the
// objects' hashing and comparing may run the caller's code.
Result<KeyCodes> interpreted_object_codes(const ColumnBuffer& column, PyObject* nulls, const KeyRules& rules,
                                          pool::Interruption& interruption) {
    const std::size_t rows = column.size();
    KeyCodes out;
    out.codes = memory::row_buffer<std::uint32_t>(rows);
    PyObject* const* objects = column.as<PyObject*>();
    IdentityCache seen;
    ObjectDictionary dictionary;
    for (std::size_t r = 0; r < rows; ++r) {
        // This thread polls for itself here (pool::for_each_block only reads
        // the flag that a waiting thread sets), and looks again at the
        // column, which a signal handler may have changed.
        if (r % pool::rows_between_checks == 0) {
            pool::poll_on_caller(interruption);
            if (!column.still_as_viewed()) return value_error(rules.changed_message);
        }
        PyObject* object = objects[r];
        std::uint32_t code = seen.find(object);
        if (code == IdentityCache::empty) {
            // Held while its hash and equality run: they may run code of
            // the caller's that replaces the array's element.
            const PyRef held = PyRef::borrow(object);
            if (object == nullptr || is_null_object(object, nulls)) return value_error(rules.null_message);
            Result<std::uint32_t> found = dictionary.code_of(object);
            if (!found.ok()) return std::move(found).error();
            if (!column.still_as_viewed()) return value_error(rules.changed_message);
            code = found.value();
            seen.remember(object, code);
        }
        out.codes[r] = code;
    }
    Result<std::vector<std::uint32_t>> rank = dictionary.ranks();
    if (!rank.ok()) {
        // Values without an order between them (mixed types, say): the
        // comparison's own error is replaced by the column's.
        ErrorValue dropped = std::move(rank).error();
        return ErrorValue::with_message(PyExc_TypeError, rules.order_message);
    }
    out.renumber_all(rows, std::move(rank).value());
    out.range = dictionary.size();
    return out;
}

}  // namespace

Result<KeyCodes> object_codes(const ColumnBuffer& column, PyObject* nulls, const KeyRules& rules,
                              pool::Interruption& interruption) {
    if (nulls != nullptr && !PyTuple_Check(nulls)) nulls = nullptr;
    Result<std::optional<KeyCodes>> texts = exact_str_codes(column, rules, interruption);
    if (!texts.ok()) return std::move(texts).error();
    if (texts.value().has_value()) return std::move(*texts.value());
    return interpreted_object_codes(column, nulls, rules, interruption);
}

}  // namespace orven::bindings::frames
