#pragma once

// The key readers release the interpreter under this name; there is one
// way to do it, python/released_interpreter.hpp.

#include "python/released_interpreter.hpp"

namespace orven::bindings::frames {

using python::ReleasedInterpreter;

}  // namespace orven::bindings::frames
