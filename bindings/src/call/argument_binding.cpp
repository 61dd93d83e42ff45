#include "call/argument_binding.hpp"

#include <memory>
#include <string>
#include <string_view>

#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::call {
namespace {

using errors::ErrorValue;

constexpr std::string_view function_name = "extract_features()";
constexpr std::string_view parameter_name = "data";

ErrorValue argument_error(std::string message) {
    return ErrorValue::with_message(PyExc_TypeError, std::string(function_name) + message);
}

// The name goes into the text as str() gives it, lone surrogates included:
// the message is a Python string and can hold them.
ErrorValue unexpected_keyword(PyObject* keyword) {
    auto name = std::make_shared<const python::PyRef>(python::PyRef::borrow(keyword));
    return ErrorValue::deferred(python::PyRef::borrow(PyExc_TypeError), [name] {
        python::PyRef text = errors::str_object(name->get());
        return errors::infallible(PyUnicode_FromFormat(
            "extract_features() got an unexpected keyword argument '%U'", text.get()));
    });
}

bool names_the_parameter(PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (text == nullptr) {
        // A name without UTF-8 text cannot be "data"; it is reported as an
        // unexpected keyword like any other.
        errors::fetch();
        return false;
    }
    return std::string_view(text, static_cast<std::size_t>(size)) == parameter_name;
}

}  // namespace

errors::Result<PyObject*> bind_data_argument(PyObject* const* args, Py_ssize_t positional_count,
                                             PyObject* keyword_names) {
    // The parameter list is just ["data"]: one required positional-or-keyword
    // parameter.  The tests run in the interpreter's own order, so that the
    // first problem found is the one reported.
    if (positional_count > 1) {
        return argument_error(" takes 1 positional arguments but " +
                              std::to_string(positional_count) + " were given");
    }
    PyObject* data = positional_count == 1 ? args[0] : nullptr;
    const Py_ssize_t keyword_count = keyword_names != nullptr ? PyTuple_GET_SIZE(keyword_names) : 0;
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        PyObject* keyword = PyTuple_GET_ITEM(keyword_names, i);
        if (!names_the_parameter(keyword)) {
            return unexpected_keyword(keyword);
        }
        if (data != nullptr) {
            return argument_error(" got multiple values for argument 'data'");
        }
        data = args[positional_count + i];
    }
    if (data == nullptr) {
        return argument_error(" missing 1 required positional argument: 'data'");
    }
    return data;
}

}  // namespace orven::bindings::call
