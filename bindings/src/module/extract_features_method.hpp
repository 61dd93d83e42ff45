#pragma once

#include <Python.h>

namespace orven::bindings::module {

// The method definition of extract_features; lives for the whole process.
PyMethodDef* extract_features_method() noexcept;

}  // namespace orven::bindings::module
