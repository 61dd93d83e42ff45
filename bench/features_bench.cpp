// Prints the cost per element of the minimal feature set as the extraction
// computes it, next to the cost of one strictly sequential chain of double
// additions over the same data: the floor for the sequential sums that the
// set is defined by.  One thread; best of several rounds.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "features/minimal/compute.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using orven::features::common::SeriesView;

// Keeps a result alive without a memory round trip per value.
template <typename T>
void keep(const T& value) {
    asm volatile("" : : "g"(&value) : "memory");
}

double add_chain(SeriesView series) {
    double sum = -0.0;
    for (const double value : series) {
        sum += value;
    }
    return sum;
}

// Nanoseconds per element of `work` over every series, best of `rounds`.
template <typename Work>
double ns_per_element(const std::vector<std::vector<double>>& series, int rounds, Work work) {
    double best = 1e300;
    std::size_t elements = 0;
    for (const auto& one : series) elements += one.size();
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        for (const auto& one : series) {
            const auto result = work(SeriesView(one));
            keep(result);
        }
        const std::chrono::duration<double, std::nano> spent = Clock::now() - start;
        best = std::min(best, spent.count() / static_cast<double>(elements));
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    // Series lengths from the command line, or a spread from short to long.
    std::vector<std::size_t> lengths;
    for (int i = 1; i < argc; ++i) lengths.push_back(std::stoul(argv[i]));
    if (lengths.empty()) lengths = {10, 100, 1000, 10000, 1000000};
    std::mt19937_64 engine(42);
    std::normal_distribution<double> normal(0.0, 1e3);
    std::printf("%10s %14s %14s %10s\n", "n", "floor ns/el", "set ns/el", "set/floor");
    for (const std::size_t n : lengths) {
        // About four million elements per size, spread over distinct series
        // so that no branch history repeats from one series to the next.
        const std::size_t count = std::max<std::size_t>(2, 4000000 / n);
        std::vector<std::vector<double>> series(count, std::vector<double>(n));
        for (auto& one : series) {
            for (double& value : one) value = normal(engine);
        }
        const int rounds = 5;
        const double floor = ns_per_element(series, rounds, add_chain);
        const double set = ns_per_element(series, rounds, orven::features::minimal::compute);
        std::printf("%10zu %14.3f %14.3f %10.2f\n", n, floor, set, set / floor);
    }
    return 0;
}
