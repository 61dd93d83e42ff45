#pragma once

// rank[code] from an order: the inverse permutation of the codes listed in
// ascending order of their values, the one step every dictionary ends with.

#include <cstdint>
#include <span>
#include <vector>

namespace orven::keys {

inline std::vector<std::uint32_t> ranks_from_order(std::span<const std::uint32_t> order) {
    std::vector<std::uint32_t> rank(order.size());
    for (std::uint32_t place = 0; place < order.size(); ++place) rank[order[place]] = place;
    return rank;
}

}  // namespace orven::keys
