// What every benchmark program shares: the quick smoke run's smaller images and a main that
// reports through the program's own reporter (which prints its ratios at the end).
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>

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

template <class Reporter>
int runBenchmarks(int argc, char** argv) {
#ifdef QUILO_BENCH_OPENCV
    cv::setNumThreads(1);  // ours runs on one thread; so does the reference
#endif
    benchmark::Initialize(&argc, argv);
    Reporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace quilo::bench
