// A window procedure for tests: records every message and can run an action on one.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <vector>

#include "platform/sim/world.h"

namespace quilo::sim::test {

struct Seen {
    platform::Hwnd hwnd;
    platform::MsgId msg;
    platform::WParam wParam;
    std::uint32_t atMs;
};

class Recorder : public platform::WindowHandler {
  public:
    Recorder(World& world, std::vector<Seen>* log = nullptr) : world_(world), log_(log) {
        if (!log_) log_ = &own_;
    }
    virtual ~Recorder() = default;
    platform::LResult windowProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam w,
                                 platform::LParam l) override {
        log_->push_back({hwnd, msg, w, world_.nowMs()});
        if (auto it = on.find(msg); it != on.end()) return it->second(hwnd, w, l);
        return 0;
    }
    std::vector<Seen>& log() { return *log_; }
    // Messages of one id that reached this recorder.
    std::vector<Seen> only(platform::MsgId msg) const {
        std::vector<Seen> out;
        for (const auto& s : *log_)
            if (s.msg == msg) out.push_back(s);
        return out;
    }
    std::map<platform::MsgId,
             std::function<platform::LResult(platform::Hwnd, platform::WParam, platform::LParam)>>
        on;

  private:
    World& world_;
    std::vector<Seen>* log_;
    std::vector<Seen> own_;
};

// A world with one process in it.
struct OneProcess : ::testing::Test {
    World world;
    SimProcess& p = world.createProcess();
};

inline WorldOptions startingAt(std::uint32_t tickMs) {
    WorldOptions o;
    o.startTickMs = tickMs;
    return o;
}

inline ProcessOptions userProcess(std::string user) {
    ProcessOptions o;
    o.userName = std::move(user);
    return o;
}

inline platform::Hwnd topWindow(SimProcess& p, platform::WindowHandler* h,
                                const char* title = "w") {
    platform::WindowSpec spec;
    spec.title = title;
    return p.windows().createWindow(spec, h);
}

}  // namespace quilo::sim::test
