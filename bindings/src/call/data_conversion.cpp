#include "call/data_conversion.hpp"

#include <algorithm>

#include "call/argument_wrapping.hpp"
#include "call/record_conversion.hpp"
#include "call/sequence_type.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::call {
namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

// Most records a length that Python code reported can reserve room for.
// Only lists and tuples are taken at their word: any other __len__ may say
// anything, and reserving for an absurd length would exhaust memory, which
// ends the process.  Beyond this, the list grows as records arrive.
constexpr Py_ssize_t untrusted_reservation_limit = 1 << 16;

// Room for as many records as the sequence says it holds.  Only a hint: a
// length that cannot be read reserves nothing.
void reserve_for(ArrayMapList& records, PyObject* data) {
    Py_ssize_t length = PyObject_Size(data);
    if (length < 0) {
        errors::fetch();
        return;
    }
    if (!PyList_CheckExact(data) && !PyTuple_CheckExact(data)) {
        length = std::min(length, untrusted_reservation_limit);
    }
    records.reserve(static_cast<std::size_t>(length));
}

Result<ArrayMapList> convert_sequence(PyObject* data) {
    // A str is a sequence too, but never meant as one here.
    if (PyUnicode_Check(data)) {
        return ErrorValue::with_message(PyExc_TypeError, "Can't extract `str` to `Vec`");
    }
    if (!PySequence_Check(data)) {
        Result<PyObject*> sequence = sequence_type();
        if (!sequence.ok()) return std::move(sequence).error();
        return errors::cast_error(data, sequence.value());
    }
    ArrayMapList records;
    reserve_for(records, data);
    Result<PyRef> iterator = errors::checked(PyObject_GetIter(data));
    if (!iterator.ok()) return std::move(iterator).error();
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.value().get()))) {
        Result<ArrayMap> record = convert_record(item.get());
        if (!record.ok()) return std::move(record).error();
        records.push_back(std::move(record).value());
    }
    if (PyErr_Occurred() != nullptr) {
        return errors::fetch();
    }
    return records;
}

}  // namespace

Result<ArrayMapList> convert_data(PyObject* data) {
    Result<ArrayMapList> records = convert_sequence(data);
    if (!records.ok()) {
        return wrap_argument_error(std::move(records).error(), "data");
    }
    return records;
}

}  // namespace orven::bindings::call
