// The texts of failure messages: objects as text, lossy UTF-8, the debug
// quoting of tracebacks, and the rendering of a Python error inside a fatal
// error's message.

#include <cstdint>
#include <cstdio>
#include <string>

#include "python/failure.hpp"

namespace orven::bindings::errors {

// --------------------------------------------------------- lossy UTF-8

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

// --------------------------------------------------------- debug quoting

namespace {

// Control characters are the single bytes 0x00-0x1F and 0x7F, and the C1
// range U+0080-U+009F, which UTF-8 writes as 0xC2 0x80-0x9F.
void append_escaped_code_point(std::string& out, unsigned code_point) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "\\u{%x}", code_point);
    out += buffer;
}

}  // namespace

std::string debug_quoted(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        switch (byte) {
            case '"': out += "\\\""; continue;
            case '\\': out += "\\\\"; continue;
            case '\n': out += "\\n"; continue;
            case '\r': out += "\\r"; continue;
            case '\t': out += "\\t"; continue;
            case '\0': out += "\\0"; continue;
            default: break;
        }
        if (byte < 0x20 || byte == 0x7F) {
            append_escaped_code_point(out, byte);
        } else if (byte == 0xC2 && i + 1 < text.size() &&
                   static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            append_escaped_code_point(out, static_cast<unsigned char>(text[i + 1]));
            ++i;
        } else {
            out += static_cast<char>(byte);
        }
    }
    out += '"';
    return out;
}

// ------------------------------------------------------- objects as text

namespace {

// "<unprintable T object>" for an object whose str() or repr() failed with
// the error now pending; the failure goes to the unraisable hook.
std::string unprintable(PyObject* object) {
    // Taken through fetch like every failure, then handed on as it was.
    fetch().restore();
    PyErr_WriteUnraisable(object);
    PyRef name = PyRef::steal(PyType_GetName(Py_TYPE(object)));
    if (!name) {
        fetch();
        return "<unprintable object>";
    }
    std::string text = "<unprintable ";
    text += lossy_utf8(name.get());
    text += " object>";
    return text;
}

std::string text_of(PyObject* object, PyObject* (*convert)(PyObject*)) {
    PyRef text = PyRef::steal(convert(object));
    if (!text) {
        return unprintable(object);
    }
    return lossy_utf8(text.get());
}

}  // namespace

PyRef str_object(PyObject* object) {
    if (PyRef text = PyRef::steal(PyObject_Str(object))) {
        return text;
    }
    const std::string placeholder = unprintable(object);
    return infallible(PyUnicode_FromStringAndSize(placeholder.data(),
                                                  static_cast<Py_ssize_t>(placeholder.size())));
}

std::string str_text(PyObject* object) { return text_of(object, PyObject_Str); }

std::string repr_text(PyObject* object) { return text_of(object, PyObject_Repr); }

std::string qualified_name_text(PyTypeObject* type) {
    PyRef name = PyRef::steal(PyType_GetQualName(type));
    if (!name) {
        fetch();
        return "<failed to extract type name>";
    }
    return lossy_utf8(name.get());
}

// ------------------------------------------------------------- rendering

namespace {

// "Traceback (most recent call last):" and the frames, as Python prints them.
Result<std::string> format_traceback(PyObject* traceback) {
    Result<PyRef> module = checked(PyImport_ImportModule("traceback"));
    if (!module.ok()) return std::move(module).error();
    Result<PyRef> format_tb = checked(PyObject_GetAttrString(module.value().get(), "format_tb"));
    if (!format_tb.ok()) return std::move(format_tb).error();
    Result<PyRef> lines = checked(PyObject_CallOneArg(format_tb.value().get(), traceback));
    if (!lines.ok()) return std::move(lines).error();
    PyRef empty = infallible(PyUnicode_FromStringAndSize("", 0));
    Result<PyRef> joined = checked(PyUnicode_Join(empty.get(), lines.value().get()));
    if (!joined.ok()) return std::move(joined).error();
    std::string text = "Traceback (most recent call last):\n";
    text += lossy_utf8(joined.value().get());
    return text;
}

// The formatted traceback, or a stand-in if even that fails.
std::string traceback_text(PyObject* traceback) {
    Result<std::string> formatted = format_traceback(traceback);
    if (formatted.ok()) {
        return std::move(formatted).value();
    }
    std::move(formatted).error().restore();
    PyErr_WriteUnraisable(traceback);
    std::string text = "<unformattable ";
    text += repr_text(traceback);
    text += ">";
    return text;
}

std::string traceback_field(PyObject* traceback) {
    if (traceback == nullptr) {
        return "None";
    }
    std::string field = "Some(";
    field += debug_quoted(traceback_text(traceback));
    field += ")";
    return field;
}

}  // namespace

std::string render(ErrorValue error) {
    PyRef exception = std::move(error).into_object();
    PyRef traceback = PyRef::steal(PyException_GetTraceback(exception.get()));
    std::string text = "PyErr { type: ";
    text += repr_text(reinterpret_cast<PyObject*>(Py_TYPE(exception.get())));
    text += ", value: ";
    text += repr_text(exception.get());
    text += ", traceback: ";
    text += traceback_field(traceback.get());
    text += " }";
    return text;
}

}  // namespace orven::bindings::errors
