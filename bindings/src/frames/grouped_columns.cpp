#include "frames/grouped_columns.hpp"

#include <memory>
#include <utility>
#include <vector>

namespace orven::bindings::frames {

using errors::ErrorValue;
using errors::Result;
using python::PyRef;

Result<GroupedColumns> group_columns(const FrameCall& call, RowKeys& keys, const double* along_source,
                                     double* along_target, pool::Interruption& interruption) {
    GroupedColumns grouped;
    grouped.width = call.values.size();
    grouped.rows = call.rows;
    grouped.gathered = memory::row_buffer<double>(grouped.rows * grouped.width);
    std::vector<const double*> sources;
    std::vector<double*> targets;
    for (std::size_t c = 0; c < grouped.width; ++c) {
        sources.push_back(reinterpret_cast<const double*>(call.values[c].array.data()));
        targets.push_back(grouped.column(c));
    }
    if (along_source != nullptr) {
        sources.push_back(along_source);
        targets.push_back(along_target);
    }
    const TimeColumn time = call.time ? call.time->column() : TimeColumn{};
    grouped.grouping = group_rows(*keys.key, time, sources, targets, interruption);
    switch (grouped.grouping.time_problem) {
        case GroupedRows::TimeProblem::null: return ErrorValue::with_message(PyExc_ValueError, call.time->texts.null);
        case GroupedRows::TimeProblem::nan: return ErrorValue::with_message(PyExc_ValueError, call.time->texts.nan);
        case GroupedRows::TimeProblem::none: break;
    }
    grouped.table = tabulate(*keys.key, grouped.grouping, keys.kind_range, call.has_kind);
    return grouped;
}

SeriesKeys keys_of(const FrameCall& call, const SeriesLayout& layout, std::size_t series) {
    const std::int64_t id_row = layout.table.id_rows[layout.id_of(series)];
    const std::int64_t kind_row = call.has_kind ? layout.table.kind_rows[layout.kind_of(series)] : -1;
    return SeriesKeys{static_cast<long long>(id_row), static_cast<long long>(kind_row),
                      static_cast<Py_ssize_t>(series % layout.width)};
}

ErrorValue worded_refusal(Result<PyRef> text, const char* misuse) {
    if (!text.ok()) return std::move(text).error();
    if (!PyUnicode_Check(text.value().get())) return ErrorValue::with_message(PyExc_TypeError, misuse);
    auto message = std::make_shared<const PyRef>(std::move(text).value());
    return ErrorValue::deferred(PyRef::borrow(PyExc_ValueError), [message] { return message->clone(); });
}

}  // namespace orven::bindings::frames
