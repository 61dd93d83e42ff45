#include "frames/row_keys.hpp"

#include <span>
#include <string>

#include "frames/key_readers.hpp"
#include "keys/direct_range.hpp"

namespace orven::bindings::frames {
namespace {

using errors::Result;

KeyRules rules_of(const KeyColumn& column) {
    return KeyRules{
        .null_value = column.null_value,
        .null_message = column.texts.null,
        .order_message = column.texts.unorderable,
        .changed_message = column.texts.changed,
        .unreadable_message = column.texts.arrow,
    };
}

Result<KeyCodes> codes_of(const KeyColumn& column, std::size_t rows, pool::Interruption& interruption) {
    const KeyRules rules = rules_of(column);
    if (column.arrow) {
        return arrow_string_codes(column.arrow.get(), rows, rules, interruption);
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
    keys.key->finish(keys::direct_range_limit(call.rows), interruption);
    return keys;
}

}  // namespace orven::bindings::frames
