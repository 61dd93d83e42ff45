#pragma once

#include <span>

#include "records/intake.hpp"
#include "extractor/extraction_in_progress.hpp"
#include "features/minimal/feature_values.hpp"
#include "python/failure.hpp"

namespace orven::bindings::records {

// Makes the objects that every result shares (the feature names, the dict
// each feature dict starts as), on the first call of the process.  Making
// objects can set off a collection, and so run caller code (a finaliser),
// which must not happen once the data are checked and computed on: so this
// comes first.
errors::Status prepare_shared_objects();

// The driver's result as Python objects: a list, one dict per record
// (column name -> feature dict), each feature dict mapping the ten feature
// names to floats.  `values` holds the features of every column of every
// record, in the order of `layout`, which gives each column's key and where
// each record ends.  Records and columns keep the caller's order, features
// the order of the minimal set.
//
// The values may still be under computation: each record is made as soon as
// `extraction` has its values ready, so that the objects are built while the
// workers compute the rest.  If the computation fails, the objects made so
// far are dropped and its failure is raised.  Either way the computation
// has ended when this returns.
errors::Result<python::PyRef> convert_results(std::span<const features::minimal::FeatureValues> values,
                                              const ResultLayout& layout,
                                              extractor::ExtractionInProgress& extraction);

}  // namespace orven::bindings::records
