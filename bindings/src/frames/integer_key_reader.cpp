// Numeric key columns (integers, booleans, category numbers, floats) read
// through the buffer protocol and coded by core's readers
// (keys/integer_codes.hpp, keys/float_codes.hpp) with the interpreter
// released: the column's memory is the caller's array, which the call
// holds and pins against a resize.

#include <cstdint>
#include <span>
#include <type_traits>

#include "frames/key_readers.hpp"
#include "python/released_interpreter.hpp"
#include "keys/float_codes.hpp"
#include "keys/integer_codes.hpp"

namespace orven::bindings::frames {
namespace {

using errors::ErrorValue;
using errors::Result;
using keys::CodedColumn;
using keys::CodingOutcome;

Result<KeyCodes> reported(CodedColumn coded, const KeyRules& rules) {
    switch (coded.outcome) {
        case CodingOutcome::coded: return std::move(coded.codes);
        case CodingOutcome::null_found: return ErrorValue::with_message(PyExc_ValueError, rules.null_message);
        case CodingOutcome::category_out_of_range:
            return ErrorValue::with_message(PyExc_SystemError, "category code out of range");
    }
    return ErrorValue::with_message(PyExc_SystemError, "unknown coding outcome");
}

template <class T>
Result<KeyCodes> codes_of(const ColumnBuffer& column, std::span<const std::uint32_t> ranks, const KeyRules& rules,
                          pool::Interruption& interruption) {
    const std::span<const T> values(column.as<T>(), column.size());
    CodedColumn coded;
    {
        const python::ReleasedInterpreter released;
        if constexpr (std::is_floating_point_v<T>) {
            coded = keys::float_codes(values, interruption);
        } else if (!ranks.empty()) {
            coded = keys::category_codes(values, ranks, rules.null_value, interruption);
        } else {
            coded = keys::integer_codes(values, rules.null_value, interruption);
        }
    }
    return reported(std::move(coded), rules);
}

}  // namespace

Result<KeyCodes> integer_codes(const ColumnBuffer& column, std::span<const std::uint32_t> ranks,
                               const KeyRules& rules, pool::Interruption& interruption) {
    const std::size_t width = column.item_size();
    switch (column.format()) {
        case 'b': case 'h': case 'i': case 'l': case 'q':
            switch (width) {
                case 1: return codes_of<std::int8_t>(column, ranks, rules, interruption);
                case 2: return codes_of<std::int16_t>(column, ranks, rules, interruption);
                case 4: return codes_of<std::int32_t>(column, ranks, rules, interruption);
                case 8: return codes_of<std::int64_t>(column, ranks, rules, interruption);
                default: break;
            }
            break;
        case 'B': case 'H': case 'I': case 'L': case 'Q': case '?':
            switch (width) {
                case 1: return codes_of<std::uint8_t>(column, ranks, rules, interruption);
                case 2: return codes_of<std::uint16_t>(column, ranks, rules, interruption);
                case 4: return codes_of<std::uint32_t>(column, ranks, rules, interruption);
                case 8: return codes_of<std::uint64_t>(column, ranks, rules, interruption);
                default: break;
            }
            break;
        case 'f':
            if (width == 4 && ranks.empty()) return codes_of<float>(column, ranks, rules, interruption);
            break;
        case 'd':
            if (width == 8 && ranks.empty()) return codes_of<double>(column, ranks, rules, interruption);
            break;
        default: break;
    }
    return ErrorValue::with_message(PyExc_SystemError, "numeric key column of an unexpected format");
}

}  // namespace orven::bindings::frames
