#include <string>

#include "errors/translation.hpp"
#include "fatal/fatal_error.hpp"

namespace orven::bindings::errors {

void fatal_with_error(std::string_view prefix, ErrorValue error, std::source_location where) {
    std::string message(prefix);
    message += ": ";
    message += render(std::move(error));
    fatal::raise(std::move(message), where);
}

}  // namespace orven::bindings::errors
