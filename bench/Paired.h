#pragma once
// Paired timing for a machine that other work shares. A figure is a ratio of a measured task to
// its baseline; timing all of one and then all of the other lets a burst of load land on one side
// only. Here every iteration of a benchmark runs the pair back to back (A B, then B A, so neither
// always goes first), and the figure is reported two ways:
//
//   min     the fastest measured run over the fastest baseline run: the two least disturbed
//   median  the median of the per-pair ratios: each pair saw the same machine
//
// Pairs are kept by benchmark name, so the benchmark's main can print them after the run.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <type_traits>
#include <vector>

namespace paired {

enum class Clock { ThreadCpu, Wall };

inline double Now(Clock clock) {
    timespec t{};
    clock_gettime(clock == Clock::ThreadCpu ? CLOCK_THREAD_CPUTIME_ID : CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return -1.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

struct Samples {
    std::vector<double> measured;  // seconds
    std::vector<double> baseline;  // seconds

    double MinRatio() const {
        if (measured.empty() || baseline.empty()) return -1.0;
        const double b = *std::min_element(baseline.begin(), baseline.end());
        return b > 0 ? *std::min_element(measured.begin(), measured.end()) / b : -1.0;
    }
    double MedianRatio() const {
        std::vector<double> ratios;
        for (size_t i = 0; i < measured.size() && i < baseline.size(); ++i)
            if (baseline[i] > 0) ratios.push_back(measured[i] / baseline[i]);
        return Median(ratios);
    }
    double MinMeasured() const {
        return measured.empty() ? -1.0 : *std::min_element(measured.begin(), measured.end());
    }
    double MedianMeasured() const { return Median(measured); }
    double MinBaseline() const {
        return baseline.empty() ? -1.0 : *std::min_element(baseline.begin(), baseline.end());
    }
    double MedianBaseline() const { return Median(baseline); }
};

inline std::map<std::string, Samples>& Table() {
    static std::map<std::string, Samples> table;
    return table;
}

// Seconds f takes; or, when f returns a double, that: a task with set-up of its own to leave out
// times itself.
template <class F>
double TimeOf(Clock clock, F& f) {
    if constexpr (std::is_same_v<std::invoke_result_t<F&>, double>) {
        return f();
    } else {
        const double t0 = Now(clock);
        f();
        return Now(clock) - t0;
    }
}

// The benchmark body: each iteration times one pair, alternating which goes first. The
// iteration time Google Benchmark shows is the measured task's (register with UseManualTime).
template <class Measured, class Baseline>
void Run(benchmark::State& state, const std::string& name, Clock clock, Measured&& measured,
         Baseline&& baseline) {
    Samples& s = Table()[name];
    bool measuredFirst = true;
    for (auto _ : state) {
        double tm = 0, tb = 0;
        for (int k = 0; k < 2; ++k) {
            const bool doMeasured = (k == 0) == measuredFirst;
            if (doMeasured)
                tm = TimeOf(clock, measured);
            else
                tb = TimeOf(clock, baseline);
        }
        measuredFirst = !measuredFirst;
        s.measured.push_back(tm);
        s.baseline.push_back(tb);
        state.SetIterationTime(tm);
    }
}

// One line: "label  median X  min Y  target <= T  [ok|OVER]"; the median decides.
inline void Print(const char* label, const std::string& name, double target) {
    const auto it = Table().find(name);
    if (it == Table().end() || it->second.measured.empty()) {
        std::printf("%-44s not measured\n", label);
        return;
    }
    const double median = it->second.MedianRatio();
    std::printf("%-44s median %6.3f  min %6.3f  (%zu pairs)  target <= %g  %s\n", label, median,
                it->second.MinRatio(), it->second.measured.size(), target,
                median <= target ? "ok" : "OVER");
}

}  // namespace paired
