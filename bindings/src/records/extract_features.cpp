// extract_features(data), top to bottom: bind the argument, convert the
// data (intake), compute on the pool, release the arrays, build the result.

#include "records/extract_features.hpp"

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "call/held_array.hpp"
#include "call/signal_poll.hpp"
#include "records/intake.hpp"
#include "records/results.hpp"
#include "extractor/extraction_in_progress.hpp"
#include "memory/buffer.hpp"
#include "pool/interruption.hpp"
#include "python/entry_point.hpp"
#include "python/handles.hpp"

namespace orven::bindings::records {
namespace {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

// --------------------------------------------------- binding the argument

constexpr std::string_view function_name = "extract_features()";
constexpr std::string_view parameter_name = "data";

ErrorValue argument_error(std::string message) {
    return ErrorValue::with_message(PyExc_TypeError, std::string(function_name) + message);
}

// The name goes into the text as str() gives it, lone surrogates included:
// the message is a Python string and can hold them.  The text is formed
// here, in the body of the call, not when the error is raised: str() of a
// str subclass runs the caller's code, and whatever that raises (a
// PanicException included) must meet the handling of the body.  An error
// raised by str() replaces the TypeError.
ErrorValue unexpected_keyword(PyObject* keyword) {
    Result<PyRef> text = errors::checked(PyObject_Str(keyword));
    if (!text.ok()) return std::move(text).error();
    auto message = std::make_shared<const PyRef>(errors::infallible(PyUnicode_FromFormat(
        "extract_features() got an unexpected keyword argument '%U'", text.value().get())));
    return ErrorValue::deferred(python::PyRef::borrow(PyExc_TypeError),
                                [message] { return message->clone(); });
}

bool names_the_parameter(PyObject* keyword) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (text == nullptr) {
        // A name without UTF-8 text cannot be "data"; it is reported as an
        // unexpected keyword like any other.
        errors::fetch();
        return false;
    }
    return std::string_view(text, static_cast<std::size_t>(size)) == parameter_name;
}

// Binds the vectorcall arguments of extract_features(data): `data` by
// position or by keyword, nothing else.  Returns `data` (borrowed).
errors::Result<PyObject*> bind_data_argument(PyObject* const* args, Py_ssize_t positional_count,
                                             PyObject* keyword_names) {
    // The parameter list is just ["data"]: one required positional-or-keyword
    // parameter.  The tests run in the interpreter's own order, so that the
    // first problem found is the one reported.
    if (positional_count > 1) {
        return argument_error(" takes 1 positional arguments but " +
                              std::to_string(positional_count) + " were given");
    }
    PyObject* data = positional_count == 1 ? args[0] : nullptr;
    const Py_ssize_t keyword_count = keyword_names != nullptr ? PyTuple_GET_SIZE(keyword_names) : 0;
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        PyObject* keyword = PyTuple_GET_ITEM(keyword_names, i);
        if (!names_the_parameter(keyword)) {
            return unexpected_keyword(keyword);
        }
        if (data != nullptr) {
            return argument_error(" got multiple values for argument 'data'");
        }
        data = args[positional_count + i];
    }
    if (data == nullptr) {
        return argument_error(" missing 1 required positional argument: 'data'");
    }
    return data;
}

// ------------------------------------------ intake, computation, results

// The arrays are held, with their borrows, until the driver has ended; the
// result objects are made while it computes, each record as soon as its
// values are ready (a failure of the computation drops them).  A failure on
// the way (fatal errors included) stops the blocks not yet started, waits
// for the running ones and releases the arrays as it leaves, before the
// entry point raises anything.
Result<PyRef> extract(PyObject* data) {
    call::CallBorrows borrows;
    Result<ArrayMapList> arrays = convert_data(data, borrows);
    if (!arrays.ok()) return std::move(arrays).error();
    errors::Status prepared = prepare_shared_objects();
    if (!prepared.ok()) return std::move(prepared).error();
    Result<SeriesList> series = build_series_list(arrays.value());
    if (!series.ok()) return std::move(series).error();
    // Every slot is written by the driver before it is read.
    const std::size_t count = series.value().count;
    auto values = memory::uninitialized_buffer<features::minimal::FeatureValues>(count);
    const std::span<features::minimal::FeatureValues> slots(values.get(), count);
    const ResultLayout layout = std::move(arrays.value()).take_layout();
    Result<PyRef> list = [&] {
        // The calling thread keeps the interpreter for the whole call (other
        // Python threads see it as one step); the handlers run while it
        // waits for the workers and while it builds the records computed.
        python::CollectorPause pause;
        call::SignalPoll signals(pause);
        try {
            extractor::ExtractionInProgress extraction(series.value().span(), slots,
                                                      &signals.interruption());
            return convert_results(slots, layout, extraction);
        } catch (const pool::Interrupted&) {
            return Result<PyRef>(signals.take_raised());
        }
    }();
    arrays.value().release();
    return list;
}

Result<PyRef> run(PyObject* const* args, Py_ssize_t positional_count, PyObject* keyword_names) {
    Result<PyObject*> data = bind_data_argument(args, positional_count, keyword_names);
    if (!data.ok()) return std::move(data).error();
    return extract(data.value());
}

}  // namespace

// ------------------------------------------------------------ the entry

PyObject* extract_features_entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                                 PyObject* keyword_names) noexcept {
    return errors::entry_point(
        [&] { return run(args, PyVectorcall_NARGS(nargsf), keyword_names); });
}

}  // namespace orven::bindings::records
