// What every Windows end-to-end program checks with: `check(ok, what)` prints "ok" or "FAIL"
// with what was checked and counts the failures; `waitFor` lets the program's messages run
// until a condition holds or real time is up (input and other processes take their own time
// under Wine, more so on a busy machine).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/platform.h"

namespace quilo::e2e {

class Checks {
  public:
    bool operator()(bool ok, const std::string& what) {
        std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
        std::fflush(stdout);
        if (!ok) ++failures_;
        return ok;
    }
    // Prints the verdict and gives the program's exit code.
    int finish(const char* name) const {
        std::printf("%s: %s, %d failure(s)\n", name, failures_ ? "FAILED" : "PASSED", failures_);
        return failures_ ? 1 : 0;
    }

  private:
    int failures_ = 0;
};

// Dispatches messages until done() holds or `ms` have passed; returns done().
template <class Done>
bool waitFor(platform::Platform& p, std::uint32_t ms, Done done) {
    const std::uint32_t start = p.clock().tickCount();
    while (!done() && p.clock().tickCount() - start < ms) {
        p.windows().pumpPending();
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return done();
}

inline void pumpFor(platform::Platform& p, std::uint32_t ms) {
    waitFor(p, ms, [] { return false; });
}

}  // namespace quilo::e2e
