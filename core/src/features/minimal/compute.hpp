#pragma once

#include "features/common/series_view.hpp"
#include "features/minimal/feature_values.hpp"

namespace orven::features::minimal {

// The ten features of one series, in feature_names order: what the
// extraction computes for every series it is given.  The values are, bit
// for bit, those of the statistics one by one (the literal definitions in
// literal_reference/minimal_feature_set.hpp, which the tests hold this
// against), but fused: one pass for the sums and extrema, one for the squared deviations and the
// median's candidates, then a selection for the median.  A series of two or
// more elements that holds a NaN is left to the literal median, which
// refuses it with its fatal error (functional.hpp).  Nothing is allocated
// but the median's room for a series longer than kernels::short_median_limit
// (its working copy, and for long series its sample) or for one holding a
// NaN (the literal median's copy); their failure is std::bad_alloc.  The
// series is never written.
FeatureValues compute(common::SeriesView series);

}  // namespace orven::features::minimal
