#pragma once

#include <string>
#include <string_view>

namespace orven::bindings::errors {

// `text` (UTF-8) as a double-quoted string with backslash escapes, the way
// error renderings have always shown tracebacks: \" \\ \n \r \t \0 and
// \u{hex} for other control characters; everything else as it is.
std::string debug_quoted(std::string_view text);

}  // namespace orven::bindings::errors
