#pragma once

#include <string_view>

#include "python/failure.hpp"

namespace orven::bindings::call {

// A failure met while converting an argument: an exact TypeError becomes
// TypeError "argument '<name>': <its text>" with the same __cause__; any
// other exception (TypeError subclasses included) passes unchanged.
errors::ErrorValue wrap_argument_error(errors::ErrorValue error, std::string_view argument_name);

}  // namespace orven::bindings::call
