#pragma once

// What every native entry of the frame path does around its call: the
// call's borrows and signal poll are made first and let go last, and an
// interruption (Ctrl-C, or a handler that raised) thrown from anywhere in
// the call becomes the exception that stopped it.

#include <utility>

#include "call/held_array.hpp"
#include "call/signal_poll.hpp"
#include "pool/interruption.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

// call(borrows, signals) -> Result<PyRef>.
template <class Call>
errors::Result<python::PyRef> with_call_state(Call&& call) {
    call::CallBorrows borrows;
    call::SignalPoll signals;
    try {
        return std::forward<Call>(call)(borrows, signals);
    } catch (const pool::Interrupted&) {
        return signals.take_raised();
    }
}

}  // namespace orven::bindings::frames
