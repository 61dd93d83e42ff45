#include "frames/column_buffer.hpp"

namespace orven::bindings::frames {

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
    return column;
}

char ColumnBuffer::format() const noexcept {
    const char* format = view_.format;
    if (*format == '<' || *format == '=' || *format == '@' || *format == '|') {
        ++format;
    }
    return format[0] != '\0' && format[1] == '\0' ? format[0] : '\0';
}

}  // namespace orven::bindings::frames
