#pragma once

#include <Python.h>

#include <span>

#include "call/signal_poll.hpp"
#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "python/failure.hpp"

namespace orven::bindings::frames {

// values[i] = the features of series[i], computed on the process-wide pool.
// Called attached to the interpreter; it is released while the workers
// compute (the views must point into memory the call owns).  `signals`
// polls meanwhile; when `progress` is not null it is called as
// progress(done, total) before, in steps of about a percent, and after.
// An exception raised by a handler or by progress stops the call: no
// further series starts, and that exception is returned.
errors::Status compute_features(std::span<const features::common::SeriesView> series,
                                std::span<features::minimal::FeatureValues> values, call::SignalPoll& signals,
                                PyObject* progress);

}  // namespace orven::bindings::frames
