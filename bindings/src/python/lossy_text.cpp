#include "python/lossy_text.hpp"

#include <cstdint>

namespace orven::bindings::python {
namespace {

void append_utf8(std::string& out, Py_UCS4 code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else if (code_point < 0x800) {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else if (code_point < 0x10000) {
        out += static_cast<char>(0xE0 | (code_point >> 12));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code_point >> 18));
        out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

bool is_surrogate(Py_UCS4 code_point) { return code_point >= 0xD800 && code_point <= 0xDFFF; }

}  // namespace

std::string lossy_utf8(PyObject* text) {
    if (!PyUnicode_Check(text)) {
        return {};
    }
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size)) {
        return std::string(utf8, static_cast<std::size_t>(size));
    }
    // The only way to get here with a str is an unencodable surrogate; that
    // error is exactly what this function recovers from.
    PyErr_Clear();
    std::string out;
    const Py_ssize_t length = PyUnicode_GetLength(text);
    for (Py_ssize_t i = 0; i < length; ++i) {
        const Py_UCS4 code_point = PyUnicode_ReadChar(text, i);
        if (is_surrogate(code_point)) {
            out += "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD";
        } else {
            append_utf8(out, code_point);
        }
    }
    return out;
}

}  // namespace orven::bindings::python
