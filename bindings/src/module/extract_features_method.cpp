#include "module/extract_features_method.hpp"

#include "call/extract_features_entry.hpp"

namespace orven::bindings::module {
namespace {

// The doc follows the interpreter's convention for built-in functions: the
// signature, "\n--\n\n", then the (here empty) docstring, so that Python
// reports __text_signature__ "(data)" and __doc__ None.
PyMethodDef method = {
    "extract_features",
    reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(&call::extract_features_entry)),
    METH_FASTCALL | METH_KEYWORDS,
    "extract_features(data)\n--\n\n",
};

}  // namespace

PyMethodDef* extract_features_method() noexcept { return &method; }

}  // namespace orven::bindings::module
