// A fault sweep: a scenario is run once to count the calls of one kind of fault, then again
// with the 1st, the 2nd, ... the Nth of those calls failed, and each run is judged against the
// run without a fault.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace quilo::test {

// The calls to fail: all of them when QUILO_SWEEP=full (the nightly run), else the first, the
// last and every k-th, k chosen so that at most `sampled` are run.
inline std::vector<int> faultPoints(int calls, int sampled) {
    const char* mode = std::getenv("QUILO_SWEEP");
    const bool full = mode != nullptr && std::string(mode) == "full";
    const int step = full || calls <= sampled ? 1 : (calls + sampled - 3) / (sampled - 2);
    std::vector<int> points;
    for (int n = 1; n <= calls; n += step)
        points.push_back(n);
    if (!points.empty() && points.back() != calls) points.push_back(calls);
    return points;
}

// `run(0)` runs the scenario without a fault and `run(n)` with the n-th call failed; each
// returns its outcome, which carries `calls`, the calls of the kind it made. `judge(clean,
// faulty)` checks one run. Returns the number of runs with a fault.
template <class Outcome>
int forEachFaultPoint(const std::function<Outcome(int nth)>& run,
                      const std::function<void(const Outcome&, const Outcome&)>& judge,
                      int sampled = 12) {
    const Outcome clean = run(0);
    judge(clean, clean);
    int runs = 0;
    for (const int n : faultPoints(clean.calls, sampled)) {
        SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(clean.calls));
        judge(clean, run(n));
        ++runs;
    }
    return runs;
}

}  // namespace quilo::test
