#pragma once
// A console reporter that also keeps, by benchmark name (and argument), the best mean time per
// iteration over the repetitions, in nanoseconds, so a benchmark's main can print ratios of
// figures measured in the same run. The best repetition is the figure least disturbed by whatever
// else the machine runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

class BestOfRuns : public benchmark::ConsoleReporter {
  public:
    enum class Clock { Cpu, Wall };
    explicit BestOfRuns(Clock clock) : clock(clock) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.iterations <= 0) continue;
            std::string name = run.run_name.function_name;
            if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
            const double seconds =
                clock == Clock::Cpu ? run.cpu_accumulated_time : run.real_accumulated_time;
            const double t = seconds * 1e9 / static_cast<double>(run.iterations);
            auto [it, fresh] = ns.emplace(name, t);
            if (!fresh) it->second = std::min(it->second, t);
        }
        ConsoleReporter::ReportRuns(runs);
    }

    // a / b, or -1 when either is missing.
    double Ratio(const std::string& a, const std::string& b) const {
        const auto x = ns.find(a), y = ns.find(b);
        return x != ns.end() && y != ns.end() && y->second > 0 ? x->second / y->second : -1.0;
    }

    std::map<std::string, double> ns;

  private:
    Clock clock;
};
