#pragma once

#include "python/failure.hpp"

namespace orven::bindings::module {

// Registers, once per process, the handlers that keep the module's
// process-wide state sound across fork() (fork_handlers.cpp says what they
// do).  Run by the module's initialiser before anything else; a MemoryError
// if the system has no room for them.
errors::Status install_fork_handlers();

}  // namespace orven::bindings::module
