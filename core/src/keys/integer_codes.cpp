#include "keys/integer_codes.hpp"

#include <type_traits>
#include <vector>

#include "keys/order_key_codes.hpp"
#include "keys/order_keys.hpp"

namespace orven::keys {
namespace {

// Whether v is the column's null.
template <class T>
class NullTest {
public:
    explicit NullTest(std::optional<std::int64_t> null_value) noexcept
        : has_(null_value.has_value()), value_(null_value.value_or(0)) {}

    bool operator()(T v) const noexcept {
        if constexpr (std::is_signed_v<T>) {
            return has_ && static_cast<std::int64_t>(v) == value_;
        } else {
            return has_ && value_ >= 0 && static_cast<std::uint64_t>(v) == static_cast<std::uint64_t>(value_);
        }
    }

private:
    bool has_;
    std::int64_t value_;
};

}  // namespace

template <class T>
CodedColumn integer_codes(std::span<const T> values, std::optional<std::int64_t> null_value,
                          pool::Interruption& interruption) {
    const NullTest<T> is_null(null_value);
    return coded_by_order_keys(
        values.size(), [&](std::size_t r) { return order_key(values[r]); },
        [&](std::size_t r) { return is_null(values[r]); }, interruption);
}

template <class T>
CodedColumn category_codes(std::span<const T> values, std::span<const std::uint32_t> ranks,
                           std::optional<std::int64_t> null_value, pool::Interruption& interruption) {
    const NullTest<T> is_null(null_value);
    const std::size_t rows = values.size();
    CodedColumn out;
    out.codes.codes = memory::row_buffer<std::uint32_t>(rows);
    std::uint32_t* codes = out.codes.codes.get();
    const std::size_t pieces = pool::piece_count(rows);
    std::vector<CodingOutcome> found(pieces, CodingOutcome::coded);
    pool::run_tasks(pieces, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
        const pool::RowRange range = pool::piece_rows(rows, pieces, p);
        for (std::size_t r = range.begin; r < range.end; ++r) {
            if ((r - range.begin) % pool::rows_between_checks == 0 && checkpoint.stop()) return;
            const T v = values[r];
            if (is_null(v)) {
                found[p] = CodingOutcome::null_found;
                return;
            }
            if (v < 0 || static_cast<std::uint64_t>(v) >= ranks.size()) {
                found[p] = CodingOutcome::category_out_of_range;
                return;
            }
            codes[r] = ranks[static_cast<std::size_t>(v)];
        }
    }, interruption);
    for (const CodingOutcome outcome : found) {
        if (outcome != CodingOutcome::coded) {
            out.outcome = outcome;
            return out;
        }
    }
    out.codes.range = ranks.size();
    return out;
}

#define ORVEN_INTEGER_CODES(T)                                                                             \
    template CodedColumn integer_codes<T>(std::span<const T>, std::optional<std::int64_t>,               \
                                          pool::Interruption&);                                          \
    template CodedColumn category_codes<T>(std::span<const T>, std::span<const std::uint32_t>,           \
                                           std::optional<std::int64_t>, pool::Interruption&);
ORVEN_INTEGER_CODES(std::int8_t)
ORVEN_INTEGER_CODES(std::int16_t)
ORVEN_INTEGER_CODES(std::int32_t)
ORVEN_INTEGER_CODES(std::int64_t)
ORVEN_INTEGER_CODES(std::uint8_t)
ORVEN_INTEGER_CODES(std::uint16_t)
ORVEN_INTEGER_CODES(std::uint32_t)
ORVEN_INTEGER_CODES(std::uint64_t)
#undef ORVEN_INTEGER_CODES

}  // namespace orven::keys
