#pragma once

// The composite key of the rows (keys/composite_key.hpp) as the frame call
// holds it: its passes run on the pool with the interpreter released, so
// other Python threads run meanwhile.

#include <utility>

#include "python/released_interpreter.hpp"
#include "keys/composite_key.hpp"

namespace orven::bindings::frames {

class CompositeKey : public keys::CompositeKey {
public:
    using keys::CompositeKey::CompositeKey;

    void fold(keys::KeyCodes codes, pool::Interruption& interruption) {
        const python::ReleasedInterpreter released;
        keys::CompositeKey::fold(std::move(codes), interruption);
    }

    void finish(std::uint64_t limit, pool::Interruption& interruption) {
        const python::ReleasedInterpreter released;
        keys::CompositeKey::finish(limit, interruption);
    }
};

}  // namespace orven::bindings::frames
