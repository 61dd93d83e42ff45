// The sorting networks: each sorts every input of 0s and 1s of its size,
// which by the 0-1 principle means every input of any values; and on every
// count up to the limit, random series with infinities and zeros of both
// signs come out as sorting puts them (zeros compared as equal).

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <vector>

#include "features/minimal/kernels/sorting_network.hpp"

namespace orven::features::minimal::kernels {
namespace {

TEST(SortingNetwork, SortsEveryInputOfZerosAndOnes) {
    for (const std::size_t n : {std::size_t{4}, std::size_t{8}, std::size_t{16}}) {
        for (std::uint32_t word = 0; word < (std::uint32_t{1} << n); ++word) {
            std::vector<double> values(n);
            for (std::size_t i = 0; i < n; ++i) values[i] = (word >> i) & 1;
            network_sort(values.data(), n);
            ASSERT_TRUE(std::is_sorted(values.begin(), values.end())) << "n " << n << " input " << word;
        }
    }
}

TEST(SortingNetwork, GivesTheValuesThatSortingGivesOnEveryCount) {
    std::mt19937_64 engine(7);
    const double inf = std::numeric_limits<double>::infinity();
    const double specials[] = {0.0, -0.0, inf, -inf, 1e308, -4.9e-324, 1.0};
    std::uniform_int_distribution<int> pick(0, 9);
    for (std::size_t n = 0; n <= network_sorted_range; ++n) {
        for (int round = 0; round < 200; ++round) {
            std::vector<double> values(n);
            for (double& v : values) v = pick(engine) < 7 ? specials[pick(engine) % 7] : static_cast<double>(engine() % 5);
            std::vector<double> sorted = values;
            std::sort(sorted.begin(), sorted.end());
            network_sort(values.data(), n);
            ASSERT_EQ(values, sorted) << "n " << n;
        }
    }
}

}  // namespace
}  // namespace orven::features::minimal::kernels
