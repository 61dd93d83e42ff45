#pragma once

// The common step of a column's integers: the greatest common divisor of
// their differences.  Ids that are multiples of a large number, and
// datetimes at whole days held in nanoseconds, spread over a range far
// wider than their count, yet divided by their step they are indexed
// directly, with no dictionary.
//
// Algorithm: a difference is tested for divisibility by one multiply and
// compare, after the step's power of two is shifted out (T. Granlund and
// P. L. Montgomery, "Division by invariant integers using
// multiplication", PLDI 1994, section 9): d is a multiple of an odd o iff
// d * o^-1 mod 2^64 <= (2^64 - 1) / o.  Only a difference that fails takes
// a gcd (std::gcd) and a new inverse, and the step can shrink at most 64
// times, so a pass over n rows costs n multiplies.  The quotient of a
// multiple is the same product, exact.

#include <bit>
#include <cstdint>
#include <limits>
#include <numeric>

namespace orven::keys {

class Stride {
public:
    // The step of no difference at all: only 0 is a multiple of it.
    Stride() noexcept = default;

    explicit Stride(std::uint64_t step) noexcept : step_(step) {
        if (step == 0) return;
        shift_ = static_cast<unsigned>(std::countr_zero(step));
        low_bits_ = (std::uint64_t{1} << shift_) - 1;
        const std::uint64_t odd = step >> shift_;
        inverse_ = inverse_of(odd);
        largest_quotient_ = std::numeric_limits<std::uint64_t>::max() / odd;
    }

    std::uint64_t step() const noexcept { return step_; }

    bool divides(std::uint64_t difference) const noexcept {
        return (difference & low_bits_) == 0 && (difference >> shift_) * inverse_ <= largest_quotient_;
    }

    // The step widened, if need be, to divide `difference` as well.
    void include(std::uint64_t difference) noexcept {
        if (!divides(difference)) *this = Stride(std::gcd(step_, difference));
    }

    // difference / step, for a difference the step divides.
    std::uint64_t quotient(std::uint64_t difference) const noexcept { return (difference >> shift_) * inverse_; }

private:
    // The inverse of an odd number modulo 2^64, by Newton's iteration:
    // each step doubles the bits that are right, from 3 (odd * odd = 1
    // mod 8) to 96.
    static std::uint64_t inverse_of(std::uint64_t odd) noexcept {
        std::uint64_t inverse = odd;
        for (int i = 0; i < 5; ++i) inverse *= 2 - odd * inverse;
        return inverse;
    }

    std::uint64_t step_ = 0;
    unsigned shift_ = 0;
    std::uint64_t low_bits_ = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t inverse_ = 0;
    std::uint64_t largest_quotient_ = 0;
};

}  // namespace orven::keys
