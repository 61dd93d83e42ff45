#include "pool/bookkeeping_failure.hpp"

#include "fatal/fatal_error.hpp"

namespace orven::pool {

void bookkeeping_failed() noexcept {
    fatal::abort_with("Rayon: detected unexpected panic; aborting\n");
}

}  // namespace orven::pool
