#include "frames/key_readers.hpp"

#include <span>
#include <string>
#include <string_view>

#include "frames/key_codes.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;

KeyRules rules_of(const KeyColumn& column) {
    return KeyRules{
        .null_value = column.null_value,
        .null_message = column.texts.null,
        .order_message = column.texts.unorderable,
        .changed_message = column.texts.changed,
    };
}

// The Arrow reader words why it cannot read a stream after a prefix of its
// own; the caller sees the package's text, the reason kept.
constexpr std::string_view arrow_reader_prefix = "cannot read the column's Arrow data: ";

ErrorValue reworded_arrow_failure(ErrorValue failure, const KeyColumn& column) {
    python::PyRef raised = std::move(failure).into_object();
    if (Py_TYPE(raised.get()) == reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        const std::string text = errors::str_text(raised.get());
        if (text.starts_with(arrow_reader_prefix)) {
            return ErrorValue::with_message(PyExc_TypeError,
                                            column.texts.arrow + text.substr(arrow_reader_prefix.size()));
        }
    }
    return ErrorValue::from_object(std::move(raised));
}

Result<KeyCodes> codes_of(const KeyColumn& column, std::size_t rows, pool::Interruption& interruption) {
    const KeyRules rules = rules_of(column);
    if (column.arrow) {
        Result<KeyCodes> codes = arrow_string_codes(column.arrow.get(), rows, rules, interruption);
        if (!codes.ok()) return reworded_arrow_failure(std::move(codes).error(), column);
        return codes;
    }
    const ColumnBuffer buffer(*column.array);
    if (buffer.format() == 'O') {
        return object_codes(buffer, column.nulls.get(), rules, interruption);
    }
    std::span<const std::uint32_t> ranks;
    if (column.ranks && column.ranks->size() > 0) {
        ranks = std::span(reinterpret_cast<const std::uint32_t*>(column.ranks->data()), column.ranks->size());
    }
    return integer_codes(buffer, ranks, rules, interruption);
}

}  // namespace

Result<RowKeys> row_keys(const FrameCall& call, pool::Interruption& interruption) {
    RowKeys keys;
    keys.key = std::make_unique<CompositeKey>(call.rows);
    for (const KeyColumn& column : call.keys) {
        Result<KeyCodes> codes = codes_of(column, call.rows, interruption);
        if (!codes.ok()) return std::move(codes).error();
        if (call.has_kind && &column == &call.keys.back()) keys.kind_range = codes.value().range;
        keys.key->fold(std::move(codes).value(), interruption);
    }
    // Counted directly up to a range a little beyond the rows.
    keys.key->finish(static_cast<std::uint64_t>(call.rows) + (std::uint64_t{1} << 16), interruption);
    return keys;
}

}  // namespace orven::bindings::frames
