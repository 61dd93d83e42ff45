#include "records/intake.hpp"

#include <algorithm>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "fatal/fatal_error.hpp"
#include "memory/buffer.hpp"
#include "numpy/abi.hpp"
#include "python/handles.hpp"
#include "python/once_value.hpp"

namespace orven::bindings::records {
namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

// The UTF-8 text of a column name that intake has accepted, held by the str.
Result<std::string_view> text_of(PyObject* key) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) {
        return errors::fetch();
    }
    return std::string_view(text, static_cast<std::size_t>(size));
}

}  // namespace

// ---------------------------------------------------------- one column

namespace {

// An array another module holds for writing ends the call, worded as the
// modules of the registry's convention word it (borrow/registry.hpp).
[[noreturn]] ErrorValue refuse_borrowed_array(const void*) {
    fatal::raise("called `Result::unwrap()` on an `Err` value: AlreadyBorrowed");
}

// A column's value: a one-dimensional native float64 ndarray (or
// subclass), held unpinned.  Refusals are the cast error with target
// ndarray.
Result<call::HeldArray> admit_column(PyObject* value, call::CallBorrows& borrows) {
    if (!numpy::is_float64_vector(value)) {
        return errors::cast_error(value, reinterpret_cast<PyObject*>(numpy::array_api().ndarray_type));
    }
    const call::Refusal refusal{refuse_borrowed_array, nullptr};
    return call::HeldArray::hold(value, borrows, call::Pinning::none, refusal);
}

// The held data in place; TypeError "The given array is not contiguous"
// unless it was C- or Fortran-contiguous with data when held.
Result<features::common::SeriesView> series_view(const call::HeldArray& array) {
    if (!array.contiguous()) {
        return ErrorValue::with_message(PyExc_TypeError, "The given array is not contiguous");
    }
    return features::common::SeriesView(reinterpret_cast<const double*>(array.data()), array.size());
}

}  // namespace

// -------------------------------------------------------- one record

namespace {

struct DictEntry {
    PyRef key;
    PyRef value;
};

// Walks one dict an entry at a time.  Each step holds the dict's critical
// section just long enough to take the next entry with references of our
// own, so that converting the entry never runs under it.  A dict changed by
// another thread between steps ends the call: there is no consistent view
// of it left to convert.
class DictWalk {
public:
    explicit DictWalk(PyObject* dict) : dict_(dict), size_(PyDict_Size(dict)) {}

    Py_ssize_t size() const noexcept { return size_; }

    // The next entry, or false when the dict is exhausted.
    bool next(DictEntry& entry) {
        python::CriticalSection section(dict_);
        if (PyDict_Size(dict_) != size_) {
            fatal::raise("dictionary changed size during iteration");
        }
        if (taken_ > size_) {
            fatal::raise("dictionary keys changed during iteration");
        }
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        if (!PyDict_Next(dict_, &position_, &key, &value)) {
            return false;
        }
        ++taken_;
        entry.key = PyRef::borrow(key);
        entry.value = PyRef::borrow(value);
        return true;
    }

private:
    PyObject* dict_;
    Py_ssize_t size_;
    Py_ssize_t position_ = 0;
    Py_ssize_t taken_ = 0;
};

// Refuses a key that is not a str, or that has no UTF-8 form (a lone
// surrogate: UnicodeEncodeError).  An ASCII str is its own UTF-8 and needs
// no encoding to tell.
errors::Status check_column_name(PyObject* key) {
    if (!PyUnicode_Check(key)) {
        return errors::cast_error(key, reinterpret_cast<PyObject*>(&PyUnicode_Type));
    }
    if (PyUnicode_IS_ASCII(key)) {
        return std::monostate{};
    }
    Py_ssize_t size = 0;
    if (PyUnicode_AsUTF8AndSize(key, &size) == nullptr) {
        return errors::fetch();
    }
    return std::monostate{};
}

// The key a column has in the result: an exact str serves as it is; a str
// subclass instance is copied to an exact str of the same text.
Result<PyRef> output_key(PyObject* key) {
    if (PyUnicode_CheckExact(key)) {
        return PyRef::borrow(key);
    }
    return errors::checked(PyUnicode_FromObject(key));
}

// The texts of one record's column names.  Two keys of a dict share a text
// only where a str subclass brings a hash or an equality of its own; both
// would become the same key of the result, and a column would be lost.
// Exact str keys never collide, so nothing is kept until the first key of a
// subclass; from then on the texts of all the record's keys are.
class ColumnTexts {
public:
    // Whether the output key `key` of the caller's key `original` has a text
    // of its own among the record's output keys before it, `earlier`.
    Result<bool> add(PyObject* original, PyObject* key, std::span<const PyRef> earlier) {
        if (!tracking_) {
            if (PyUnicode_CheckExact(original)) {
                return true;
            }
            tracking_ = true;
            for (const PyRef& before : earlier) {
                Result<std::string_view> text = text_of(before.get());
                if (!text.ok()) return std::move(text).error();
                texts_.insert(text.value());
            }
        }
        Result<std::string_view> text = text_of(key);
        if (!text.ok()) return std::move(text).error();
        return texts_.insert(text.value()).second;
    }

private:
    bool tracking_ = false;
    // Views of texts held by the output keys, which outlive the record.
    std::unordered_set<std::string_view> texts_;
};

ErrorValue repeated_column(PyObject* key, std::size_t record) {
    Result<std::string_view> name = text_of(key);
    if (!name.ok()) return std::move(name).error();
    return ErrorValue::with_message(PyExc_TypeError, "record " + std::to_string(record) +
                                                         " has two keys with the text '" +
                                                         std::string(name.value()) + "'");
}

// One item of `data` (a dict or subclass) as its columns: each key a str
// with a UTF-8 form and a text of its own in the record; each value
// held as a NumPy array, its borrow taken through `borrows`.  The entries
// are checked in the dict's order, each key before its value.  The
// columns' output keys go to `records`.
Result<ArrayMap> convert_record(PyObject* item, ArrayMapList& records,
                                call::CallBorrows& borrows) {
    if (!PyDict_Check(item)) {
        return errors::cast_error(item, reinterpret_cast<PyObject*>(&PyDict_Type));
    }
    DictWalk walk(item);
    ArrayMap columns;
    columns.reserve(static_cast<std::size_t>(walk.size()));
    ColumnTexts texts;
    for (DictEntry entry; walk.next(entry);) {
        errors::Status name = check_column_name(entry.key.get());
        if (!name.ok()) return std::move(name).error();
        Result<PyRef> key = output_key(entry.key.get());
        if (!key.ok()) return std::move(key).error();
        const std::span<const PyRef> earlier =
            std::span(records.column_keys()).last(columns.size());
        Result<bool> distinct = texts.add(entry.key.get(), key.value().get(), earlier);
        if (!distinct.ok()) return std::move(distinct).error();
        if (!distinct.value()) return repeated_column(key.value().get(), records.maps().size());
        Result<call::HeldArray> array = admit_column(entry.value.get(), borrows);
        if (!array.ok()) return std::move(array).error();
        columns.push_back(std::move(array).value());
        records.push_column_key(std::move(key).value());
        entry = DictEntry{};
    }
    return columns;
}

}  // namespace

// ----------------------------------------------------- the whole argument

namespace {

// Holds a reference that is never dropped: nothing may be released after
// the interpreter has finalised.
python::OnceValue<PyObject*> sequence_type_cache;

Result<PyObject*> import_sequence_type() {
    Result<PyRef> module = errors::checked(PyImport_ImportModule("collections.abc"));
    if (!module.ok()) return std::move(module).error();
    Result<PyRef> type = errors::checked(PyObject_GetAttrString(module.value().get(), "Sequence"));
    if (!type.ok()) return std::move(type).error();
    return std::move(type).value().release();
}

// collections.abc.Sequence (borrowed), imported on first need and kept for
// the life of the process.  It only names the expected type in the message
// that refuses a non-sequence; the test itself is PySequence_Check.
Result<PyObject*> sequence_type() {
    Result<PyObject* const*> type = sequence_type_cache.get_or_try_fill(import_sequence_type);
    if (!type.ok()) return std::move(type).error();
    return *type.value();
}

// A failure met while converting an argument: an exact TypeError becomes
// TypeError "argument '<name>': <its text>" with the same __cause__; any
// other exception (TypeError subclasses included) passes unchanged.
ErrorValue wrap_argument_error(ErrorValue error, std::string_view argument_name) {
    PyRef caught = std::move(error).into_object();
    if (Py_TYPE(caught.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        return ErrorValue::from_object(std::move(caught));
    }
    // The caught text is kept as the str it is (lone surrogates included).
    std::string prefix = "argument '";
    prefix += argument_name;
    prefix += "': ";
    auto message = std::make_shared<const PyRef>(errors::infallible(
        PyUnicode_FromFormat("%s%U", prefix.c_str(), errors::str_object(caught.get()).get())));
    PyRef wrapped = ErrorValue::deferred(PyRef::borrow(PyExc_TypeError), [message] {
                        return message->clone();
                    }).into_object();
    // Takes over the reference; a null cause still marks the context as
    // suppressed, so only the cause is shown, as for `raise ... from`.
    PyException_SetCause(wrapped.get(), PyException_GetCause(caught.get()));
    return ErrorValue::from_object(std::move(wrapped));
}

// Most records a length that Python code reported can reserve room for.
// Only lists and tuples are taken at their word: any other __len__ may say
// anything, and reserving for an absurd length would exhaust memory, which
// ends the process.  Beyond this, the list grows as records arrive.
constexpr Py_ssize_t untrusted_reservation_limit = 1 << 16;

// Room for as many records as the sequence says it holds.  Only a hint: a
// length that cannot be read reserves nothing.  But what is not an
// Exception (KeyboardInterrupt from a Ctrl-C that lands in __len__,
// SystemExit) asks to stop, not for a hint, and ends the call.
errors::Status reserve_for(ArrayMapList& records, PyObject* data) {
    Py_ssize_t length = PyObject_Size(data);
    if (length < 0) {
        const bool stop = PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception);
        ErrorValue failure = errors::fetch();
        if (stop) return failure;
        return std::monostate{};
    }
    if (!PyList_CheckExact(data) && !PyTuple_CheckExact(data)) {
        length = std::min(length, untrusted_reservation_limit);
    }
    records.reserve(static_cast<std::size_t>(length));
    return std::monostate{};
}

Result<ArrayMapList> convert_sequence(PyObject* data, call::CallBorrows& borrows) {
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
    errors::Status reserved = reserve_for(records, data);
    if (!reserved.ok()) return std::move(reserved).error();
    Result<PyRef> iterator = errors::checked(PyObject_GetIter(data));
    if (!iterator.ok()) return std::move(iterator).error();
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.value().get()))) {
        Result<ArrayMap> record = convert_record(item.get(), records, borrows);
        if (!record.ok()) return std::move(record).error();
        records.push_back(std::move(record).value());
    }
    if (PyErr_Occurred() != nullptr) {
        return errors::fetch();
    }
    return records;
}

}  // namespace

Result<ArrayMapList> convert_data(PyObject* data, call::CallBorrows& borrows) {
    Result<ArrayMapList> records = convert_sequence(data, borrows);
    if (!records.ok()) {
        return wrap_argument_error(std::move(records).error(), "data");
    }
    return records;
}

// ------------------------------------------------ the driver's input

namespace {

ErrorValue changed_array(PyObject* key, std::size_t record) {
    Result<std::string_view> name = text_of(key);
    if (!name.ok()) return std::move(name).error();
    return ErrorValue::with_message(
        PyExc_TypeError, "The array of column '" + std::string(name.value()) + "' in record " +
                             std::to_string(record) +
                             " changed while the call was reading the data (its buffer, shape, "
                             "strides or dtype)");
}

}  // namespace

errors::Result<SeriesList> build_series_list(const ArrayMapList& arrays) {
    SeriesList series;
    for (const ArrayMap& map : arrays.maps()) {
        series.count += map.size();
    }
    series.views = memory::uninitialized_buffer<features::common::SeriesView>(series.count);
    const std::vector<PyRef>& keys = arrays.column_keys();
    std::size_t next = 0;
    for (std::size_t record = 0; record < arrays.maps().size(); ++record) {
        for (const call::HeldArray& array : arrays.maps()[record]) {
            // Checked here, after the last caller code of the intake ran.
            if (!array.unchanged()) return changed_array(keys[next].get(), record);
            errors::Result<features::common::SeriesView> view = series_view(array);
            if (!view.ok()) return std::move(view).error();
            series.views[next++] = view.value();
        }
    }
    return series;
}

}  // namespace orven::bindings::records
