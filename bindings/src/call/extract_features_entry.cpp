#include "call/extract_features_entry.hpp"

#include <span>
#include <vector>

#include "call/argument_binding.hpp"
#include "call/data_conversion.hpp"
#include "call/output_conversion.hpp"
#include "call/record_list_building.hpp"
#include "python/entry_point.hpp"
#include "extractor/extract_features.hpp"

namespace orven::bindings::call {
namespace {

using errors::Result;
using python::PyRef;

// The arrays are held, with their borrows, only while the driver runs:
// the views are gone and every array released before any result object is
// made.  A failure on the way (fatal errors included) releases them as it
// leaves, before the entry point raises anything.
Result<extractor::ResultList> compute(PyObject* data) {
    Result<ArrayMapList> arrays = convert_data(data);
    if (!arrays.ok()) return std::move(arrays).error();
    extractor::ResultList results;
    {
        Result<std::vector<extractor::ColumnMap>> records = build_record_list(arrays.value());
        if (!records.ok()) return std::move(records).error();
        // The calling thread keeps the interpreter while the pool computes;
        // the workers only read the views.
        results = extractor::extract_features(std::span<const extractor::ColumnMap>(records.value()));
    }
    arrays.value().release();
    return results;
}

Result<PyRef> run(PyObject* const* args, Py_ssize_t positional_count, PyObject* keyword_names) {
    Result<PyObject*> data = bind_data_argument(args, positional_count, keyword_names);
    if (!data.ok()) return std::move(data).error();
    Result<extractor::ResultList> results = compute(data.value());
    if (!results.ok()) return std::move(results).error();
    return convert_results(results.value());
}

}  // namespace

PyObject* extract_features_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                                 PyObject* keyword_names) noexcept {
    return errors::entry_point(
        [&] { return run(args, PyVectorcall_NARGS(nargsf), keyword_names); });
}

}  // namespace orven::bindings::call
