#include "keys/float_codes.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

#include "keys/order_key_codes.hpp"
#include "keys/order_keys.hpp"
#include "pool/row_blocks.hpp"

namespace orven::keys {
namespace {

// Beyond this, not every integer is a float (and a float's integer may
// not fit an int64).
constexpr double exact_limit = 9007199254740992.0;  // 2^53

struct FloatSurvey {
    bool nan = false;
    bool integers = true;
};

template <class T>
FloatSurvey survey(std::span<const T> values, pool::Interruption& interruption) {
    const std::size_t rows = values.size();
    const std::size_t pieces = pool::piece_count(rows);
    std::vector<FloatSurvey> found(pieces);
    const T* const data = values.data();
    pool::run_tasks(pieces, [&](std::size_t p, const pool::Checkpoint& checkpoint) {
        FloatSurvey piece;
        pool::for_each_block(pool::piece_rows(rows, pieces, p), checkpoint, [&](std::size_t begin, std::size_t end) {
            bool nan = piece.nan;
            bool integers = piece.integers;
            for (std::size_t r = begin; r < end; ++r) {
                const double v = data[r];
                nan |= std::isnan(v);
                // False for NaN and the infinities as well.
                integers &= std::fabs(v) <= exact_limit && std::trunc(v) == v;
            }
            piece = FloatSurvey{nan, integers};
        });
        found[p] = piece;
    }, interruption);
    FloatSurvey all;
    for (const FloatSurvey& piece : found) {
        all.nan |= piece.nan;
        all.integers &= piece.integers;
    }
    return all;
}

}  // namespace

template <class T>
CodedColumn float_codes(std::span<const T> values, pool::Interruption& interruption) {
    const FloatSurvey found = survey(values, interruption);
    if (found.nan) {
        CodedColumn out;
        out.outcome = CodingOutcome::null_found;
        return out;
    }
    const auto never_null = [](std::size_t) { return false; };
    const T* const data = values.data();
    if (found.integers) {
        return coded_by_order_keys(
            values.size(), [data](std::size_t r) { return order_key(static_cast<std::int64_t>(data[r])); },
            never_null, interruption);
    }
    return coded_by_order_keys(values.size(), [data](std::size_t r) { return order_key(data[r]); }, never_null,
                               interruption);
}

template CodedColumn float_codes<double>(std::span<const double>, pool::Interruption&);
template CodedColumn float_codes<float>(std::span<const float>, pool::Interruption&);

}  // namespace orven::keys
