// Prints the cost per window of the rolling kernels on the shapes that
// forecasting asks for: the kernel alone on one thread (best of many short
// rounds), whole calls through the driver at one and two workers (private
// pools taking turns, so both run in one process), computing every window
// on its own with minimal::compute on its slice (timed on a sample of the
// windows), and the time a cancelled call takes to stop.  The ratios
// compare runs of the same process.
//
// Usage: rolling_bench [rounds]

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "features/minimal/compute.hpp"
#include "features/rolling/count_windows.hpp"
#include "features/rolling/rolling_in_progress.hpp"
#include "features/rolling/time_windows.hpp"
#include "features/rolling/window_features.hpp"
#include "pool/thread_pool.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using orven::features::minimal::FeatureValues;
using namespace orven::features::rolling;
namespace pool = orven::pool;

template <typename T>
void keep(const T& value) {
    asm volatile("" : : "g"(&value) : "memory");
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Workload {
    std::string name;
    std::vector<std::vector<double>> values;
    std::vector<std::vector<Window>> windows;
    std::size_t window_total = 0;
    std::size_t reading_total = 0;

    std::vector<SeriesWindows> series() const {
        std::vector<SeriesWindows> all;
        for (std::size_t s = 0; s < values.size(); ++s) all.push_back({values[s], windows[s]});
        return all;
    }
};

std::vector<double> normal_series(std::mt19937_64& engine, std::size_t n) {
    std::normal_distribution<double> normal(0.0, 1e3);
    std::vector<double> x(n);
    for (double& value : x) value = normal(engine);
    return x;
}

Workload count_workload(std::size_t series, std::size_t n, std::size_t size, std::size_t step) {
    std::mt19937_64 engine(7);
    Workload w;
    w.name = std::to_string(series) + " x " + std::to_string(n) + ", size " + std::to_string(size) +
             " step " + std::to_string(step);
    for (std::size_t s = 0; s < series; ++s) {
        w.values.push_back(normal_series(engine, n));
        const CountWindowShape shape{size, step, 1};
        w.windows.emplace_back(count_window_total(n, shape));
        count_windows(n, shape, w.windows.back());
        w.window_total += w.windows.back().size();
        w.reading_total += n;
    }
    return w;
}

// Readings at irregular int64 times (gaps of 1 to 19 units, ten on
// average), windows of `span` units ending every `every` units (or at every
// distinct time when every is 0).
Workload time_workload(std::size_t series, std::size_t n, std::int64_t span, std::int64_t every) {
    std::mt19937_64 engine(11);
    std::uniform_int_distribution<std::int64_t> gap(1, 19);
    Workload w;
    w.name = std::to_string(series) + " x " + std::to_string(n) + ", span " + std::to_string(span) +
             (every > 0 ? " every " + std::to_string(every) : " at each time");
    for (std::size_t s = 0; s < series; ++s) {
        w.values.push_back(normal_series(engine, n));
        std::vector<std::int64_t> times(n);
        std::int64_t now = 1700000000;
        for (auto& t : times) t = now += gap(engine);
        TimeWindowShape<std::int64_t> shape{span, std::nullopt, 1};
        if (every > 0) shape.every = every;
        w.windows.emplace_back(time_window_total<std::int64_t>(times, shape));
        std::vector<std::int64_t> ends(w.windows.back().size());
        time_windows<std::int64_t>(times, shape, w.windows.back(), ends);
        w.window_total += w.windows.back().size();
        w.reading_total += n;
    }
    return w;
}

double process_cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

struct CallTime {
    double wall = 1e300;
    double busy = 0.0;  // processor seconds per wall second in that round

    void keep_best(double wall_seconds, double cpu_seconds) {
        if (wall_seconds < wall) {
            wall = wall_seconds;
            busy = cpu_seconds / wall_seconds;
        }
    }
};

// One call over the whole workload on `workers`: into `time` if it is the
// best so far.
void time_call(const Workload& w, const std::vector<SeriesWindows>& series,
               std::vector<double>& out, pool::ThreadPool& workers, CallTime& time) {
    std::size_t cost = 0;
    for (const auto& windows : w.windows)
        for (const Window window : windows) cost += window.size() + 32;
    const std::size_t block = RollingInProgress::block_cost_for(
        cost, cost / std::max<std::size_t>(w.window_total, 1), workers.num_threads());
    const double cpu = process_cpu_seconds();
    const auto start = Clock::now();
    RollingInProgress call(series, FeatureColumns{out.data(), w.window_total}, nullptr, workers, block);
    call.finish();
    const double seconds = seconds_since(start);
    time.keep_best(seconds, process_cpu_seconds() - cpu);
    keep(out);
}

// Seconds per window of the kernel alone on the calling thread, best of
// many short rounds of a few series each: on a shared machine a short
// round is often not interrupted at all, so this is the figure to hold
// against the kernel's own cost.
double kernel_seconds_per_window(const Workload& w, int rounds) {
    WindowFeatures kernel;
    std::vector<FeatureValues> out;
    double best = 1e300;
    std::size_t s = 0;
    for (int round = 0; round < rounds; ++round) {
        std::size_t windows = 0;
        std::size_t readings = 0;  // about a millisecond's worth a round
        const auto start = Clock::now();
        while (readings < 3000000 && windows < 4000) {
            // A stretch from the middle of the series, as a block of a
            // call would mostly see it.
            const std::span<const Window> all = w.windows[s];
            const std::size_t count = std::min<std::size_t>(all.size(), 2000);
            const auto stretch = all.subspan((all.size() - count) / 2, count);
            out.resize(count);
            kernel.compute(w.values[s], stretch, out);
            keep(out);
            windows += count;
            for (const Window window : stretch) readings += window.size();
            s = (s + 1) % w.values.size();
        }
        best = std::min(best, seconds_since(start) / static_cast<double>(windows));
    }
    return best;
}

// Seconds per window of minimal::compute on each window's slice, timed on
// every k-th window so that the slow path does not take minutes.
double separate_seconds_per_window(const Workload& w, int rounds) {
    const std::size_t stride = std::max<std::size_t>(1, w.window_total / 40000);
    double best = 1e300;
    for (int round = 0; round < rounds; ++round) {
        std::size_t timed = 0;
        const auto start = Clock::now();
        std::size_t flat = 0;
        for (std::size_t s = 0; s < w.values.size(); ++s) {
            for (const Window window : w.windows[s]) {
                if (flat++ % stride != 0) continue;
                const FeatureValues values = orven::features::minimal::compute(
                    {w.values[s].data() + window.begin, window.size()});
                keep(values);
                ++timed;
            }
        }
        best = std::min(best, seconds_since(start) / static_cast<double>(timed));
    }
    return best;
}

// How long a call takes to end once its interruption says stop, 30 ms in.
double stop_seconds(const Workload& w, pool::ThreadPool& workers) {
    struct Context {
        Clock::time_point start;
        Clock::time_point stopped;
        bool said = false;
    } context{Clock::now(), {}, false};
    pool::Interruption interruption(
        [](void* raw) noexcept {
            auto& c = *static_cast<Context*>(raw);
            if (!c.said && seconds_since(c.start) > 0.03) {
                c.said = true;
                c.stopped = Clock::now();
            }
            return c.said;
        },
        &context);
    const auto series = w.series();
    std::vector<double> out(w.window_total * orven::features::minimal::feature_count);
    try {
        RollingInProgress call(series, FeatureColumns{out.data(), w.window_total}, &interruption, workers,
                               RollingInProgress::block_cost_for(w.reading_total * 100, 1000,
                                                                 workers.num_threads()));
        call.finish();
    } catch (const pool::Interrupted&) {
    }
    return context.said ? seconds_since(context.stopped) : -1.0;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::stoi(argv[1]) : 5;
    pool::ThreadPool one(1);
    pool::ThreadPool two(2);
    const std::vector<Workload> workloads = {
        count_workload(2000, 1000, 100, 1),
        count_workload(2000, 1000, 100, 10),
        count_workload(200, 10000, 1000, 1),
        time_workload(2000, 1000, 1000, 0),
        time_workload(2000, 1000, 1000, 100),
        time_workload(2000, 1000, 1000, 10),
    };
    // "cpu": processor time per window of the best round, both workers
    // together: equal at one and two workers when the second adds work
    // without waiting, whatever the machine's other load does to wall time.
    std::printf("%-38s %8s %7s %8s %8s %7s %7s %7s %9s %7s\n", "workload", "windows", "kernel",
                "1w call", "2w call", "2w gain", "1w cpu", "2w cpu", "separate", "sep/ker");
    std::printf("%-38s %8s %7s %8s %8s %7s %7s %7s %9s %7s\n", "", "", "ns/win", "ns/win",
                "ns/win", "", "ns/win", "ns/win", "ns/win", "");
    for (const Workload& w : workloads) {
        // One and two workers take turns, so that a busy moment of the
        // machine falls on both alike; the best round of each counts.
        const auto series = w.series();
        std::vector<double> out(w.window_total * orven::features::minimal::feature_count);
        CallTime one_worker;
        CallTime two_workers;
        for (int round = 0; round < rounds; ++round) {
            time_call(w, series, out, one, one_worker);
            time_call(w, series, out, two, two_workers);
        }
        const double single = one_worker.wall;
        const double pair = two_workers.wall;
        const double separate = separate_seconds_per_window(w, rounds);
        const double kernel = kernel_seconds_per_window(w, 40 * rounds);
        const double windows = static_cast<double>(w.window_total);
        std::printf("%-38s %8zu %7.1f %8.1f %8.1f %7.2f %7.1f %7.1f %9.1f %7.1f\n",
                    w.name.c_str(), w.window_total, kernel * 1e9, single / windows * 1e9,
                    pair / windows * 1e9, single / pair, single * one_worker.busy / windows * 1e9,
                    pair * two_workers.busy / windows * 1e9, separate * 1e9, separate / kernel);
    }
    std::printf("stop after cancel, windows of 1000, 2 workers: %.1f ms\n",
                stop_seconds(workloads[2], two) * 1e3);
    return 0;
}
