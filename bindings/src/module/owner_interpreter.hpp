#pragma once

#include "python/failure.hpp"

namespace orven::bindings::module {

// Makes the current interpreter the module's owner if none is yet, and
// refuses every other interpreter of the process with an ImportError: the
// module keeps process-wide state (the module object among it) that cannot
// be shared between interpreters.
errors::Status claim_for_current_interpreter();

}  // namespace orven::bindings::module
