#include "frames/column_buffer.hpp"

#include "numpy/abi.hpp"

namespace orven::bindings::frames {
namespace {

bool is_ndarray(PyObject* object) {
    return PyObject_TypeCheck(object, numpy::array_api().ndarray_type) != 0;
}

// A weak reference to the array that owns `array`'s memory: the array
// itself, or the last ndarray of its chain of bases.
errors::Result<python::PyRef> pin_owner(PyObject* array) {
    PyObject* owner = array;
    while (numpy::as_array(owner)->base != nullptr && is_ndarray(numpy::as_array(owner)->base)) {
        owner = numpy::as_array(owner)->base;
    }
    return errors::checked(PyWeakref_NewRef(owner, nullptr));
}

}  // namespace

errors::Result<ColumnBuffer> ColumnBuffer::view(PyObject* object, const std::string& message) {
    ColumnBuffer column;
    if (PyObject_GetBuffer(object, &column.view_, PyBUF_ND | PyBUF_FORMAT) < 0) {
        errors::fetch();
        return errors::ErrorValue::with_message(PyExc_TypeError, message);
    }
    column.held_ = true;
    if (column.view_.ndim != 1 || column.view_.shape == nullptr || column.view_.format == nullptr) {
        return errors::ErrorValue::with_message(PyExc_TypeError, message);
    }
    if (column.view_.obj != nullptr && is_ndarray(column.view_.obj)) {
        errors::Result<python::PyRef> pin = pin_owner(column.view_.obj);
        if (!pin.ok()) return std::move(pin).error();
        column.pin_ = std::move(pin).value();
    }
    return column;
}

bool ColumnBuffer::still_as_viewed() const noexcept {
    if (!held_ || !pin_) return true;
    const numpy::ArrayObject* array = numpy::as_array(view_.obj);
    return array->data == view_.buf && array->nd == 1 && array->dimensions[0] == view_.shape[0];
}

char ColumnBuffer::format() const noexcept {
    const char* format = view_.format;
    if (*format == '<' || *format == '=' || *format == '@' || *format == '|') {
        ++format;
    }
    return format[0] != '\0' && format[1] == '\0' ? format[0] : '\0';
}

}  // namespace orven::bindings::frames
