#pragma once

#include <Python.h>

#include <span>

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"
#include "python/failure.hpp"

namespace orven::bindings::frames {

// values[i] = the features of series[i], computed on the process-wide pool.
// Called holding the interpreter; it is released while the workers compute
// (the views must point into memory the call owns), and taken back every
// poll interval to run the signal handlers and, when `progress` is not
// null, to call progress(done, total).  An exception raised by either stops
// the call: no further series starts, and that exception is returned.
errors::Status compute_features(std::span<const features::common::SeriesView> series,
                                std::span<features::minimal::FeatureValues> values, PyObject* progress);

}  // namespace orven::bindings::frames
