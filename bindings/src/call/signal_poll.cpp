#include "call/signal_poll.hpp"

#include "python/released_interpreter.hpp"

namespace orven::bindings::call {

bool SignalPoll::poll(void* context) noexcept {
    auto& self = *static_cast<SignalPoll*>(context);
    return python::ReleasedInterpreter::attached(
        [&] { return self.handler_raised() || self.progress_raised(); });
}

bool SignalPoll::handler_raised() noexcept {
    const int failed = pause_ != nullptr ? pause_->lifted([] { return PyErr_CheckSignals(); })
                                         : PyErr_CheckSignals();
    if (failed == 0) {
        return false;
    }
    // Kept as it is: raised again unchanged once every block ended.
    raised_ = python::PyRef::steal(python::get_raised_exception());
    return true;
}

bool SignalPoll::progress_raised() noexcept {
    if (progress_ == nullptr) {
        return false;
    }
    const python::PyRef outcome = python::PyRef::steal(PyObject_CallFunction(
        progress_, "nn", static_cast<Py_ssize_t>(done_), static_cast<Py_ssize_t>(total_)));
    if (outcome) {
        return false;
    }
    raised_ = python::PyRef::steal(python::get_raised_exception());
    return true;
}

errors::Status SignalPoll::report_now() {
    if (progress_raised()) {
        return take_raised();
    }
    return errors::success();
}

}  // namespace orven::bindings::call
