// Prints the throughput of the extraction driver (elements per second) with
// one worker and with one worker per available CPU, and the speedup, for
// (a) many small records and (b) a few very long series.
//
// Each worker count runs on a private pool of that size, entered with
// install() from this thread, so both figures come from one process and the
// same data; the process-wide pool is not involved.  The machine is shared,
// so the pools alternate round by round and the best round of each counts.

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "extractor/extract_features.hpp"
#include "pool/thread_pool.hpp"
#include "pool/worker_count.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using orven::extractor::Column;
using orven::extractor::ColumnMap;

struct Workload {
    const char* label;
    std::size_t records;
    std::size_t columns;
    std::size_t samples;
    int rounds;
};

struct Dataset {
    std::vector<std::vector<double>> series;
    std::vector<ColumnMap> records;
    std::size_t elements = 0;
};

Dataset make_dataset(const Workload& w) {
    std::mt19937_64 engine(7);
    std::normal_distribution<double> normal(0.0, 1e3);
    Dataset data;
    data.series.reserve(w.records * w.columns);
    for (std::size_t i = 0; i < w.records * w.columns; ++i) {
        std::vector<double> s(w.samples);
        for (double& x : s) {
            x = normal(engine);
        }
        data.series.push_back(std::move(s));
    }
    data.records.resize(w.records);
    for (std::size_t r = 0; r < w.records; ++r) {
        for (std::size_t c = 0; c < w.columns; ++c) {
            data.records[r].push_back(
                Column{"column_" + std::to_string(c), data.series[r * w.columns + c]});
        }
    }
    data.elements = w.records * w.columns * w.samples;
    return data;
}

// Best time of the driver on each pool, the pools taking turns round by
// round so that a burst of load from elsewhere on the machine hits both.
std::vector<double> best_seconds(const Dataset& data,
                                 std::vector<orven::pool::ThreadPool*> pools, int rounds) {
    std::vector<double> best(pools.size(), 1e300);
    for (int round = 0; round <= rounds; ++round) {
        for (std::size_t p = 0; p < pools.size(); ++p) {
            const auto start = Clock::now();
            const auto result =
                pools[p]->install([&] { return orven::extractor::extract_features(data.records); });
            const std::chrono::duration<double> spent = Clock::now() - start;
            if (result.size() != data.records.size()) {
                std::fprintf(stderr, "wrong result size\n");
                std::exit(1);
            }
            if (round > 0) {  // round 0 warms caches and allocator
                best[p] = std::min(best[p], spent.count());
            }
        }
    }
    return best;
}

}  // namespace

int main() {
    const std::size_t workers = orven::pool::settle_worker_count(
        orven::pool::read_worker_count_settings(), orven::pool::available_cpus());
    std::printf("driver throughput: private pools of 1 and %zu workers (%zu = the size the\n"
                "process-wide pool gets here), each entered from this thread with install();\n"
                "the pools take turns, best of the rounds shown after one warm-up round\n\n",
                workers, workers);
    std::printf("%-30s %6s %16s %16s %9s\n", "workload", "rounds", "1 worker el/s",
                "N workers el/s", "speedup");
    const Workload workloads[] = {
        {"(a) 20000 rec x 5 col x 200", 20000, 5, 200, 15},
        {"(b) 8 rec x 4 col x 1e6", 8, 4, 1000000, 15},
    };
    orven::pool::ThreadPool one_worker(1);
    orven::pool::ThreadPool all_workers(workers);
    for (const Workload& w : workloads) {
        const Dataset data = make_dataset(w);
        const auto best = best_seconds(data, {&one_worker, &all_workers}, w.rounds);
        const double elements = static_cast<double>(data.elements);
        std::printf("%-30s %6d %16.4g %16.4g %8.2fx\n", w.label, w.rounds, elements / best[0],
                    elements / best[1], best[0] / best[1]);
    }
    return 0;
}
