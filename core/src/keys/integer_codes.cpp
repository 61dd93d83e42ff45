#include "keys/integer_codes.hpp"

#include <type_traits>
#include <vector>

#include "keys/order_key_codes.hpp"
#include "keys/order_keys.hpp"
#include "pool/row_blocks.hpp"

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
    const T* const data = values.data();
    return coded_by_order_keys(
        values.size(), [data](std::size_t r) { return order_key(data[r]); },
        [data, is_null = NullTest<T>(null_value)](std::size_t r) { return is_null(data[r]); }, interruption);
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
    const T* const data = values.data();
    const std::uint32_t* const rank = ranks.data();
    const std::uint64_t categories = ranks.size();
    pool::run_tasks(pieces, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
        const NullTest<T> null_test = is_null;
        CodingOutcome outcome = CodingOutcome::coded;
        pool::for_each_block(pool::piece_rows(rows, pieces, p), checkpoint, [&](std::size_t begin, std::size_t end) {
            for (std::size_t r = begin; r < end && outcome == CodingOutcome::coded; ++r) {
                const T v = data[r];
                if (null_test(v)) {
                    outcome = CodingOutcome::null_found;
                } else if (v < 0 || static_cast<std::uint64_t>(v) >= categories) {
                    outcome = CodingOutcome::category_out_of_range;
                } else {
                    codes[r] = rank[static_cast<std::size_t>(v)];
                }
            }
        });
        found[p] = outcome;
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
