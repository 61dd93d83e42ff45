#include "frames/compute_features.hpp"

#include <algorithm>
#include <optional>

#include "extractor/extraction_in_progress.hpp"
#include "frames/call_signals.hpp"
#include "frames/released_interpreter.hpp"
#include "pool/interruption.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using python::PyRef;

// Reports progress; returns the exception it raised, if any.
PyRef report(PyObject* progress, std::size_t done, std::size_t total) {
    if (progress == nullptr) return PyRef();
    const PyRef outcome = PyRef::steal(PyObject_CallFunction(progress, "nn", static_cast<Py_ssize_t>(done),
                                                             static_cast<Py_ssize_t>(total)));
    if (!outcome) return PyRef::steal(python::get_raised_exception());
    return PyRef();
}

// What the waiting thread does every poll interval, the interpreter taken
// back for it.
class Poller {
public:
    Poller(PyObject* progress, std::size_t total) noexcept : progress_(progress), total_(total) {}

    pool::Interruption& interruption() noexcept { return interruption_; }
    void set_done(std::size_t done) noexcept { done_ = done; }
    PyRef take_raised() noexcept { return std::move(raised_); }

private:
    static bool poll(void* context) noexcept {
        auto* self = static_cast<Poller*>(context);
        const InterpreterHeld held;
        if (handler_raised(self->raised_)) return true;
        self->raised_ = report(self->progress_, self->done_, self->total_);
        return static_cast<bool>(self->raised_);
    }

    PyObject* progress_;
    std::size_t total_;
    std::size_t done_ = 0;
    PyRef raised_;
    pool::Interruption interruption_{&Poller::poll, this};
};

}  // namespace

errors::Status compute_features(std::span<const features::common::SeriesView> series,
                                std::span<features::minimal::FeatureValues> values, PyObject* progress) {
    const std::size_t total = series.size();
    if (PyRef raised = report(progress, 0, total)) return ErrorValue::from_object(std::move(raised));
    if (total > 0) {
        Poller poller(progress, total);
        // Progress moves in steps of about a percent; each wait polls on
        // time whatever the step.
        const std::size_t step = std::max<std::size_t>(total / 100, 1);
        try {
            const ReleasedInterpreter released;
            extractor::ExtractionInProgress extraction(series, values, &poller.interruption());
            for (std::size_t ready = std::min(step, total);; ready = std::min(ready + step, total)) {
                if (!extraction.wait_for(ready)) break;
                poller.set_done(ready);
                if (ready == total) break;
            }
            extraction.finish();
        } catch (const pool::Interrupted&) {
            return ErrorValue::from_object(poller.take_raised());
        }
        // A handler that raised as the last series finished: the work is
        // complete, but the exception is the call's outcome all the same.
        if (poller.interruption().cancelled()) return ErrorValue::from_object(poller.take_raised());
    }
    if (PyRef raised = report(progress, total, total)) return ErrorValue::from_object(std::move(raised));
    return errors::success();
}

}  // namespace orven::bindings::frames
