#pragma once

#include <Python.h>

#include <array>

#include "features/minimal/feature_values.hpp"

namespace orven::bindings::call {

// One str per feature name, in the order of feature_names, made once per
// process and shared by every feature dict (borrowed references).
using FeatureNameKeys = std::array<PyObject*, features::minimal::feature_count>;
const FeatureNameKeys& feature_name_keys();

}  // namespace orven::bindings::call
