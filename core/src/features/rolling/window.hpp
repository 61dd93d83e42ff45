#pragma once

#include <cstddef>
#include <stdexcept>

namespace orven::features::rolling {

// The readings [begin, end) of one series that one window holds.  The
// windows of a series are listed by their end, and both bounds never
// decrease from one window to the next: what lets the kernel slide its
// state along the series instead of reading every window afresh.
struct Window {
    std::size_t begin;
    std::size_t end;

    std::size_t size() const noexcept { return end - begin; }
};

// The data rather than the caller is at fault: times out of order or not
// finite, or a window end that the time type cannot hold.  The caller turns
// it into its own error, naming the series.
class WindowError : public std::domain_error {
public:
    using std::domain_error::domain_error;
};

}  // namespace orven::features::rolling
