// Every window's ten features against minimal::compute on that window's
// slice, bit for bit: random series rich in signed zeros, infinities,
// subnormals, huge values, runs and lone NaNs; random count and time
// windows over int64 and float64 times with ties, gaps and extreme values;
// the slices cut by plain loops over the definitions, not by the bounds
// code.  Each case runs through the kernel at random cuts in both of its
// orders, and through the driver on pools of one to three workers.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "features/minimal/compute.hpp"
#include "features/rolling/count_windows.hpp"
#include "features/rolling/refused_windows.hpp"
#include "features/rolling/rolling_in_progress.hpp"
#include "features/rolling/time_windows.hpp"
#include "features/rolling/window_features.hpp"
#include "pool/thread_pool.hpp"

namespace orven::features::rolling {
namespace {

using Series = std::vector<double>;
using minimal::FeatureValues;
constexpr double inf = std::numeric_limits<double>::infinity();
constexpr std::int64_t int64_max = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t int64_min = std::numeric_limits<std::int64_t>::min();

std::uint64_t bits(double value) { return std::bit_cast<std::uint64_t>(value); }

class Draw {
public:
    explicit Draw(std::uint64_t seed) : engine_(seed) {}

    std::size_t below(std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(engine_);
    }
    double uniform() { return std::uniform_real_distribution<double>(0.0, 1.0)(engine_); }
    bool chance(double p) { return uniform() < p; }
    std::uint64_t raw() { return engine_(); }

    // Readings with runs of one value and of zeros of both signs, and in
    // some series lone NaNs.
    Series readings(std::size_t n) {
        const unsigned palette = static_cast<unsigned>(below(6));
        const double run_rate = chance(0.4) ? 0.3 : 0.0;
        const double nan_rate = chance(0.25) ? 0.03 : 0.0;
        Series x(n);
        for (std::size_t i = 0; i < n; ++i) {
            if (i > 0 && chance(run_rate)) {
                x[i] = x[i - 1] == 0.0 && chance(0.5) ? -x[i - 1] : x[i - 1];
            } else {
                x[i] = chance(nan_rate) ? std::bit_cast<double>(0x7ff8000000000000ULL | below(5))
                                        : reading(palette);
            }
        }
        return x;
    }

private:
    double reading(unsigned palette) {
        static const double specials[] = {0.0, -0.0, inf, -inf, 5e-324, -5e-324,
                                          2.2250738585072014e-308, 1.7976931348623157e308,
                                          -1.7976931348623157e308, 1e200, -1e200, 1.0, -1.0};
        switch (palette) {
            case 0: return std::array<double, 5>{0.0, -0.0, 0.0, 1.0, -1.0}[below(5)];
            case 1: return static_cast<double>(static_cast<int>(below(5))) - 2.0;
            case 2: return specials[below(std::size(specials))];
            case 3: {
                const double value = std::bit_cast<double>(raw());
                return std::isnan(value) ? -0.0 : value;
            }
            case 4: return chance(0.5) ? 0.0 : -static_cast<double>(below(3));  // max zero, one sign
            default:
                if (chance(0.1)) return specials[below(std::size(specials))];
                return std::normal_distribution<double>(0.0, 1e3)(engine_);
        }
    }

    std::mt19937_64 engine_;
};

// ---- the definitions, as plain loops ---------------------------------------

struct Reference {
    std::vector<Window> windows;
    std::vector<double> double_ends;
    std::vector<std::int64_t> int_ends;
    bool out_of_range = false;  // an end the time type cannot hold
};

// The contiguous run of readings for which `holds(i)` is true (times are
// in order, so it is one run), as a window.
template <class Holds>
Window run_of(std::size_t n, Holds holds) {
    std::size_t begin = 0;
    while (begin < n && !holds(begin)) ++begin;
    std::size_t end = begin;
    while (end < n && holds(end)) ++end;
    return Window{begin, end};
}

Reference count_reference(std::size_t n, CountWindowShape shape) {
    Reference r;
    for (std::size_t last = shape.step - 1; last < n; last += shape.step) {
        const std::size_t begin = last + 1 >= shape.size ? last + 1 - shape.size : 0;
        if (last + 1 - begin >= shape.min_length) r.windows.push_back({begin, last + 1});
    }
    return r;
}

Reference int_reference(const std::vector<std::int64_t>& t, TimeWindowShape<std::int64_t> shape) {
    using Wide = __int128;
    Reference r;
    const std::size_t n = t.size();
    auto add = [&](Wide end) {
        const Window window = run_of(n, [&](std::size_t i) {
            return Wide{t[i]} > end - shape.span && Wide{t[i]} <= end;
        });
        if (window.size() >= shape.min_length) {
            r.windows.push_back(window.size() == 0 ? Window{window.begin, window.begin} : window);
            r.int_ends.push_back(static_cast<std::int64_t>(end));
        }
    };
    if (!shape.every) {
        for (std::size_t i = 0; i < n; ++i) {
            if (i + 1 == n || t[i + 1] != t[i]) add(t[i]);
        }
        return r;
    }
    if (n == 0) return r;
    const Wide every = *shape.every;
    auto first_multiple_at_or_after = [&](Wide time) {
        Wide k = time / every;
        while (k * every < time) ++k;
        while ((k - 1) * every >= time) --k;
        return k * every;
    };
    const Wide last = first_multiple_at_or_after(t[n - 1]);
    if (last > int64_max) {
        r.out_of_range = true;
        return r;
    }
    for (Wide end = first_multiple_at_or_after(t[0]); end <= last; end += every) add(end);
    return r;
}

Reference double_reference(const std::vector<double>& t, TimeWindowShape<double> shape) {
    Reference r;
    const std::size_t n = t.size();
    auto add = [&](double end) {
        const double start = end - shape.span;
        const Window window = run_of(n, [&](std::size_t i) { return t[i] > start && t[i] <= end; });
        if (window.size() >= shape.min_length) {
            // An empty run found nothing; any place between the readings
            // around it will do, so compare only what it holds.
            r.windows.push_back(window);
            r.double_ends.push_back(end);
        }
    };
    if (!shape.every) {
        for (std::size_t i = 0; i < n; ++i) {
            if (i + 1 == n || t[i + 1] != t[i]) add(t[i]);
        }
        return r;
    }
    if (n == 0) return r;
    const double every = *shape.every;
    auto first_index = [&](double time) {
        auto k = static_cast<std::int64_t>(std::floor(time / every)) - 2;
        while (static_cast<double>(k) * every < time) ++k;
        return k;
    };
    const std::int64_t last = first_index(t[n - 1]);
    for (std::int64_t k = first_index(t[0]); k <= last; ++k) add(static_cast<double>(k) * every);
    return r;
}

// ---- random cases ----------------------------------------------------------

enum class Kind { count, int_times, int_every, double_times, double_every };

struct Case {
    Series x;
    std::vector<Window> windows;
    Reference reference;
};

std::vector<std::int64_t> int_times(Draw& draw, std::size_t n) {
    std::vector<std::int64_t> t(n);
    const std::int64_t spread = static_cast<std::int64_t>(n) * 1000;
    const std::int64_t starts[] = {0, -static_cast<std::int64_t>(draw.raw() % 1000000),
                                   int64_min + static_cast<std::int64_t>(draw.below(100)),
                                   int64_max - spread - static_cast<std::int64_t>(draw.below(100))};
    std::int64_t now = starts[draw.below(4)];
    for (std::size_t i = 0; i < n; ++i) {
        t[i] = now;
        const double roll = draw.uniform();
        now += roll < 0.25 ? 0 : (roll < 0.8 ? static_cast<std::int64_t>(1 + draw.below(3))
                                             : static_cast<std::int64_t>(draw.below(900)));
    }
    // Some series end right at the top of the range, where the last
    // multiple of `every` may lie beyond it.
    if (n > 0 && draw.chance(0.1)) {
        const std::int64_t top = int64_max - static_cast<std::int64_t>(draw.below(4));
        const std::int64_t last = t.back();
        for (auto& time : t) {
            time = top - static_cast<std::int64_t>(static_cast<std::uint64_t>(last) -
                                                   static_cast<std::uint64_t>(time));
        }
    }
    return t;
}

std::vector<double> double_times(Draw& draw, std::size_t n) {
    std::vector<double> t(n);
    const double starts[] = {0.0, -1e4 * draw.uniform(), 1e15, -1e15 - 3.0};
    double now = starts[draw.below(4)];
    for (std::size_t i = 0; i < n; ++i) {
        t[i] = now;
        const double roll = draw.uniform();
        now += roll < 0.25 ? 0.0 : (roll < 0.8 ? 0.1 + 3.0 * draw.uniform() : 800.0 * draw.uniform());
    }
    return t;
}

Case draw_case(Draw& draw, Kind kind) {
    Case c;
    const std::size_t n = draw.chance(0.1) ? draw.below(4) : 1 + draw.below(1500);
    c.x = draw.readings(n);
    const std::size_t min_length = draw.below(4);
    if (kind == Kind::count) {
        const std::size_t size = 1 + (draw.chance(0.3) ? draw.below(600) : draw.below(40));
        const std::size_t step = 1 + (draw.chance(0.7) ? draw.below(3) : draw.below(2 * size + 2));
        const CountWindowShape shape{size, step, min_length};
        c.reference = count_reference(n, shape);
        c.windows.resize(count_window_total(n, shape));
        count_windows(n, shape, c.windows);
        return c;
    }
    const bool every = kind == Kind::int_every || kind == Kind::double_every;
    if (kind == Kind::int_times || kind == Kind::int_every) {
        const auto t = int_times(draw, n);
        const std::int64_t range = n == 0 ? 1 : std::max<std::int64_t>(t.back() - t.front(), 1);
        const std::int64_t span = draw.chance(0.05) ? int64_max
                                                    : 1 + static_cast<std::int64_t>(draw.below(
                                                              static_cast<std::size_t>(range) / 3 + 2));
        TimeWindowShape<std::int64_t> shape{span, std::nullopt, min_length};
        if (every) shape.every = 1 + range / static_cast<std::int64_t>(1 + draw.below(600));
        c.reference = int_reference(t, shape);
        try {
            c.windows.resize(time_window_total<std::int64_t>(t, shape));
            std::vector<std::int64_t> ends(c.windows.size());
            time_windows<std::int64_t>(t, shape, c.windows, ends);
            EXPECT_EQ(ends, c.reference.int_ends);
            EXPECT_FALSE(c.reference.out_of_range);
        } catch (const WindowError&) {
            EXPECT_TRUE(c.reference.out_of_range);
            c.windows.clear();
            c.reference.windows.clear();
        }
        return c;
    }
    const auto t = double_times(draw, n);
    const double range = n == 0 ? 1.0 : std::max(t.back() - t.front(), 1.0);
    const double span = draw.chance(0.1) ? 0.01 : range * draw.uniform() / 3.0 + 0.05;
    TimeWindowShape<double> shape{span, std::nullopt, min_length};
    // Far from zero the multiples are spaced at least an ulp apart.
    const double least_every = n > 0 && std::fabs(t.front()) > 1e10 ? 1.0 : 0.01;
    if (every) shape.every = range / static_cast<double>(1 + draw.below(600)) + least_every;
    c.reference = double_reference(t, shape);
    c.windows.resize(time_window_total<double>(t, shape));
    std::vector<double> ends(c.windows.size());
    time_windows<double>(t, shape, c.windows, ends);
    EXPECT_EQ(ends.size(), c.reference.double_ends.size());
    for (std::size_t i = 0; i < ends.size() && i < c.reference.double_ends.size(); ++i) {
        EXPECT_EQ(bits(ends[i]), bits(c.reference.double_ends[i])) << "end " << i;
    }
    return c;
}

// Every window's readings the same as the reference's (an empty window may
// stand anywhere in order), and the windows not refused for NaN.
std::vector<Window> checked_windows(const Case& c) {
    const auto& expected = c.reference.windows;
    EXPECT_EQ(c.windows.size(), expected.size());
    for (std::size_t i = 0; i < c.windows.size() && i < expected.size(); ++i) {
        if (expected[i].size() > 0 || c.windows[i].size() > 0) {
            EXPECT_EQ(c.windows[i].begin, expected[i].begin) << "window " << i;
            EXPECT_EQ(c.windows[i].end, expected[i].end) << "window " << i;
        }
    }
    std::vector<Window> kept;
    std::size_t first_refused = c.windows.size();
    for (std::size_t i = 0; i < c.windows.size(); ++i) {
        const Window w = c.windows[i];
        const bool refused = w.size() >= 2 && std::any_of(c.x.begin() + static_cast<std::ptrdiff_t>(w.begin),
                                                          c.x.begin() + static_cast<std::ptrdiff_t>(w.end),
                                                          [](double v) { return v != v; });
        if (refused) {
            first_refused = std::min(first_refused, i);
        } else {
            kept.push_back(w);
        }
    }
    EXPECT_EQ(first_refused_window(c.x, c.windows), first_refused);
    return kept;
}

void expect_features(const Series& x, const std::vector<Window>& windows,
                     const std::vector<FeatureValues>& actual, const std::string& path) {
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const FeatureValues expected =
            minimal::compute(common::SeriesView(x.data() + windows[i].begin, windows[i].size()));
        for (std::size_t f = 0; f < minimal::feature_count; ++f) {
            ASSERT_EQ(bits(actual[i][f]), bits(expected[f]))
                << path << ": " << minimal::feature_names[f] << " of window " << i << " ["
                << windows[i].begin << ", " << windows[i].end << ") of " << x.size() << ": "
                << actual[i][f] << " instead of " << expected[f];
        }
    }
}

// The kernel over the windows cut at random places, one kernel object
// reused from cut to cut.
std::vector<FeatureValues> through_kernel(Draw& draw, const Series& x,
                                          const std::vector<Window>& windows,
                                          WindowFeatures::Order order) {
    std::vector<FeatureValues> out(windows.size());
    WindowFeatures kernel;
    kernel.force(order);
    for (std::size_t first = 0; first < windows.size();) {
        const std::size_t count = std::min(windows.size() - first, 1 + draw.below(400));
        EXPECT_TRUE(kernel.compute(x, std::span(windows).subspan(first, count),
                                   std::span(out).subspan(first, count)));
        first += count;
    }
    return out;
}

std::string kind_name(const ::testing::TestParamInfo<Kind>& info) {
    static const char* const names[] = {"Count", "IntTimes", "IntEvery", "DoubleTimes",
                                        "DoubleEvery"};
    return names[static_cast<int>(info.param)];
}

class RollingDifferential : public ::testing::TestWithParam<Kind> {};

TEST_P(RollingDifferential, EveryWindowMatchesComputeOnItsSliceBitForBit) {
    Draw draw(1000 + static_cast<std::uint64_t>(GetParam()));
    static std::vector<std::unique_ptr<pool::ThreadPool>> pools;
    if (pools.empty()) {
        for (std::size_t workers = 1; workers <= 3; ++workers) {
            pools.push_back(std::make_unique<pool::ThreadPool>(workers));
        }
    }
    std::vector<Series> all_x;
    std::vector<std::vector<Window>> all_windows;
    std::size_t windows_seen = 0;
    for (int round = 0; round < 150; ++round) {
        const Case c = draw_case(draw, GetParam());
        const std::vector<Window> kept = checked_windows(c);
        if (HasFailure()) return;
        windows_seen += kept.size();
        for (const auto order : {WindowFeatures::Order::chosen, WindowFeatures::Order::sliding,
                                 WindowFeatures::Order::selecting}) {
            expect_features(c.x, kept, through_kernel(draw, c.x, kept, order),
                            "kernel, order " + std::to_string(static_cast<int>(order)));
            if (HasFailure()) return;
        }
        all_x.push_back(c.x);
        all_windows.push_back(kept);
    }
    EXPECT_GT(windows_seen, 10000u);

    // All series in one call, at several worker counts and cuts.
    std::vector<SeriesWindows> series;
    for (std::size_t s = 0; s < all_x.size(); ++s) series.push_back({all_x[s], all_windows[s]});
    for (const auto& pool : pools) {
        std::vector<double> out(windows_seen * minimal::feature_count);
        RollingInProgress call(series, FeatureColumns{out.data(), windows_seen}, nullptr, *pool,
                               64 + draw.below(20000));
        call.finish();
        std::size_t flat = 0;
        for (std::size_t s = 0; s < all_x.size(); ++s) {
            std::vector<FeatureValues> part(all_windows[s].size());
            for (std::size_t w = 0; w < part.size(); ++w) {
                for (std::size_t f = 0; f < minimal::feature_count; ++f) part[w][f] = out[f * windows_seen + flat + w];
            }
            expect_features(all_x[s], all_windows[s], part,
                            "driver on " + std::to_string(pool->num_threads()) + " workers");
            if (HasFailure()) return;
            flat += all_windows[s].size();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Windows, RollingDifferential,
                         ::testing::Values(Kind::count, Kind::int_times, Kind::int_every,
                                           Kind::double_times, Kind::double_every),
                         kind_name);

}  // namespace
}  // namespace orven::features::rolling
