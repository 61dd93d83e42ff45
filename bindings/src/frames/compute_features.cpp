#include "frames/compute_features.hpp"

#include <algorithm>

#include "extractor/extraction_in_progress.hpp"
#include "pool/interruption.hpp"
#include "python/released_interpreter.hpp"

namespace orven::bindings::frames {
namespace {

// Waits for the series in steps of about a percent, each step's count
// handed to the poll's progress report; each wait polls on time whatever
// the step.  Throws pool::Interrupted once the interruption is cancelled.
void wait_in_steps(extractor::ExtractionInProgress& extraction, std::size_t total, call::SignalPoll& signals) {
    const std::size_t step = std::max<std::size_t>(total / 100, 1);
    for (std::size_t ready = std::min(step, total);; ready = std::min(ready + step, total)) {
        if (!extraction.wait_for(ready)) break;
        signals.set_done(ready);
        if (ready == total) break;
    }
    extraction.finish();
}

}  // namespace

errors::Status compute_features(std::span<const features::common::SeriesView> series,
                                std::span<features::minimal::FeatureValues> values, call::SignalPoll& signals,
                                PyObject* progress) {
    const std::size_t total = series.size();
    signals.report_progress(progress, total);
    errors::Status started = signals.report_now();
    if (!started.ok()) return started;
    if (total > 0) {
        {
            const python::ReleasedInterpreter released;
            extractor::ExtractionInProgress extraction(series, values, &signals.interruption());
            wait_in_steps(extraction, total, signals);
        }
        // A handler that raised as the last series finished: the work is
        // complete, but the exception is the call's outcome all the same.
        if (signals.interruption().cancelled()) return signals.take_raised();
    }
    return signals.report_now();
}

}  // namespace orven::bindings::frames
