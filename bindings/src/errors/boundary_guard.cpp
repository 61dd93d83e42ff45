#include "errors/boundary_guard.hpp"

namespace orven::bindings::errors {

void BoundaryGuard::fail() const noexcept {
    fatal::write_report(fatal::Location::from(where_), message_);
    fatal::abort_with("");
}

}  // namespace orven::bindings::errors
