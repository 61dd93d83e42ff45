#pragma once

#include <algorithm>
#include <cstddef>

namespace orven::pool {

// Decides when a parallel map divides a piece of its index range in two.
// It starts with a budget of one split per worker, which yields one to two
// pieces per worker; each split halves the budget of both halves.  A piece
// that was stolen shows that some worker ran out of work, so it gets a
// fresh budget and divides further.  A piece of one element never divides.
class Splitter {
public:
    explicit Splitter(std::size_t workers) noexcept : workers_(workers), budget_(workers) {}

    bool try_split(std::size_t length, bool migrated) noexcept {
        if (length < 2) {
            return false;
        }
        if (migrated) {
            budget_ = std::max(workers_, budget_ / 2);
            return true;
        }
        if (budget_ == 0) {
            return false;
        }
        budget_ /= 2;
        return true;
    }

private:
    std::size_t workers_;
    std::size_t budget_;
};

}  // namespace orven::pool
