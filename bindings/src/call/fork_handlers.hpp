#pragma once

#include "python/failure.hpp"

namespace orven::bindings::call {

// Registers, once per process, the handlers that keep the library's
// process-wide state sound across fork() (fork_handlers.cpp says what they
// do).  Run by each module's initialiser before anything else
// (call/module_setup.hpp); a MemoryError if the system has no room for
// them.
errors::Status install_fork_handlers();

}  // namespace orven::bindings::call
