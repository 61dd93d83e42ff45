#pragma once

// A frame call's value columns grouped, what both entries start from once
// the keys are read: gathered into one call-owned buffer in group order
// (column c's rows at [c * rows, (c + 1) * rows)), with the groups and
// their table.  One more column may go along (the rolling entry's times,
// moved as 8-byte words whatever their type) into a target of its own.
// Also what both say of a series when they refuse it.

#include <Python.h>

#include <cstddef>

#include "frames/feature_table.hpp"
#include "frames/frame_call.hpp"
#include "frames/grouping.hpp"
#include "frames/row_keys.hpp"
#include "frames/series_table.hpp"
#include "memory/row_buffer.hpp"
#include "pool/interruption.hpp"
#include "python/failure.hpp"
#include "python/handles.hpp"

namespace orven::bindings::frames {

struct GroupedColumns {
    std::size_t width = 0;
    std::size_t rows = 0;
    memory::RowBuffer<double> gathered;
    GroupedRows grouping;
    SeriesTable table;

    double* column(std::size_t c) const noexcept { return gathered.get() + c * rows; }
    SeriesLayout layout(bool has_kind) const noexcept { return SeriesLayout{table, width, has_kind}; }
};

// Groups the call's value columns (and `along_source` into `along_target`,
// if not null) by the keys, each group in time order when the call has a
// time column.  A null or NaN time is the ValueError the time column's
// texts give.
errors::Result<GroupedColumns> group_columns(const FrameCall& call, RowKeys& keys, const double* along_source,
                                             double* along_target,
                                             pool::Interruption& interruption);

// Series s (group s / width, value column s % width) as the package's
// message callbacks take it: a row holding its id, one holding its kind
// (-1 without a kind column), and the place of its value column.
struct SeriesKeys {
    long long id_row;
    long long kind_row;
    Py_ssize_t value;
};
SeriesKeys keys_of(const FrameCall& call, const SeriesLayout& layout, std::size_t series);

// ValueError(text), the text worded by one of the package's callbacks;
// `misuse` is the TypeError's text if the callback gave no str.
errors::ErrorValue worded_refusal(errors::Result<python::PyRef> text, const char* misuse);

}  // namespace orven::bindings::frames
