// What every benchmark program shares: the quick smoke run's smaller images, one way to register
// a benchmark, a reporter that keeps every run's figures for the ratios a program prints at the
// end, and the main that runs them.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef QUILO_BENCH_OPENCV
#include <opencv2/core.hpp>
#endif

namespace quilo::bench {

// QUILO_BENCH_QUICK=1 (the test script's smoke run, under the sanitizers) shrinks every image
// eightfold in each direction: the run only proves the benchmarks still work.
inline std::uint32_t shrink() {
    const char* quick = std::getenv("QUILO_BENCH_QUICK");
    return quick && *quick && *quick != '0' ? 8u : 1u;
}

// Registers fn(state, args...) as `name`, timed in `unit`.
template <class Fn, class... Args>
benchmark::internal::Benchmark* add(const std::string& name, benchmark::TimeUnit unit, Fn fn,
                                    Args... args) {
    return benchmark::RegisterBenchmark(name.c_str(), fn, args...)->Unit(unit);
}

// Keeps each benchmark's real time per iteration ("time") and its counters, the median over
// repetitions, under the benchmark's name.
class FigureReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
            auto& figures = runs_[r.benchmark_name()];
            figures["time"].push_back(r.GetAdjustedRealTime());
            for (const auto& [name, counter] : r.counters)
                figures[name].push_back(counter.value);
        }
        ConsoleReporter::ReportRuns(runs);
    }

  protected:
    std::optional<double> figure(const std::string& run, const std::string& what) const {
        const auto r = runs_.find(run);
        if (r == runs_.end() || !r->second.count(what)) return std::nullopt;
        std::vector<double> all = r->second.at(what);
        std::nth_element(all.begin(), all.begin() + all.size() / 2, all.end());
        return all[all.size() / 2];
    }
    // Both runs' figures when both ran and the second is not zero.
    std::optional<std::pair<double, double>> both(const std::string& a, const std::string& b,
                                                  const std::string& what) const {
        const auto x = figure(a, what), y = figure(b, what);
        if (!x || !y || *y == 0) return std::nullopt;
        return std::pair{*x, *y};
    }

  private:
    std::map<std::string, std::map<std::string, std::vector<double>>> runs_;
};

// Registers the program's benchmarks and runs them through its own reporter.
template <class Reporter>
int runBenchmarks(int argc, char** argv, void (*registerAll)()) {
#ifdef QUILO_BENCH_OPENCV
    cv::setNumThreads(1);  // ours runs on one thread; so does the reference
#endif
    registerAll();
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace quilo::bench
