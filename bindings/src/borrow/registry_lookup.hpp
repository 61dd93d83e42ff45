#pragma once

#include "borrow/registry_header.hpp"

namespace orven::bindings::borrow {

// The header this process uses: the one another module published on NumPy's
// multiarray module, or our own, published there when none was.  Found once
// per process; a failure is fatal and the next need tries again.
const RegistryHeader& registry_header();

// The header if it was found or published already, else null.
const RegistryHeader* registry_header_if_ready() noexcept;

}  // namespace orven::bindings::borrow
