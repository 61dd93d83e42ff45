#include "call/record_conversion.hpp"

#include <string>

#include "python/failure.hpp"
#include "fatal/fatal_error.hpp"
#include "python/handles.hpp"

namespace orven::bindings::call {
namespace {

using errors::Result;
using python::PyRef;

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

Result<std::string> column_name(PyObject* key) {
    if (!PyUnicode_Check(key)) {
        return errors::cast_error(key, reinterpret_cast<PyObject*>(&PyUnicode_Type));
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(key, &size);
    if (text == nullptr) {
        return errors::fetch();
    }
    return std::string(text, static_cast<std::size_t>(size));
}

}  // namespace

Result<ArrayMap> convert_record(PyObject* item) {
    if (!PyDict_Check(item)) {
        return errors::cast_error(item, reinterpret_cast<PyObject*>(&PyDict_Type));
    }
    DictWalk walk(item);
    ArrayMap columns;
    columns.reserve(static_cast<std::size_t>(walk.size()));
    for (DictEntry entry; walk.next(entry);) {
        Result<std::string> name = column_name(entry.key.get());
        if (!name.ok()) return std::move(name).error();
        Result<numpy::AdmittedArray> array = numpy::AdmittedArray::admit(entry.value.get());
        if (!array.ok()) return std::move(array).error();
        columns.push_back(ArrayEntry{std::move(array).value(), std::move(name).value()});
        entry = DictEntry{};
    }
    return columns;
}

}  // namespace orven::bindings::call
