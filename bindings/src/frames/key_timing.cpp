#include "frames/key_timing.hpp"

#include <chrono>

#include "call/held_array.hpp"
#include "call/signal_poll.hpp"
#include "frames/frame_call.hpp"
#include "frames/frame_entry.hpp"
#include "frames/row_keys.hpp"
#include "python/entry_point.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {
namespace {

using errors::Result;
using python::PyRef;

Result<PyRef> timed(PyObject* described, call::CallBorrows& borrows, call::SignalPoll& signals) {
    Result<FrameCall> read = read_frame_call(described, borrows);
    if (!read.ok()) return std::move(read).error();
    const auto start = std::chrono::steady_clock::now();
    Result<RowKeys> keys = row_keys(read.value(), signals.interruption());
    if (!keys.ok()) return std::move(keys).error();
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    return errors::checked(Py_BuildValue("(Kd)", static_cast<unsigned long long>(keys.value().key->bucket_count()),
                                         seconds.count()));
}

}  // namespace

PyObject* time_key_codes_entry(PyObject* /*module*/, PyObject* described) noexcept {
    return errors::entry_point([&] {
        return with_call_state([&](call::CallBorrows& borrows, call::SignalPoll& signals) {
            return timed(described, borrows, signals);
        });
    });
}

}  // namespace orven::bindings::frames
