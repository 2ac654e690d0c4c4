// What the simulator's own tests share: a world with one process, recording windows.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/sim/world.h"
#include "support/recording_window.h"
#include "support/world.h"

namespace quilo::sim::test {

using namespace platform;
using quilo::test::RecordingWindow;
using quilo::test::SeenMessage;
using quilo::test::startingAt;

struct OneProcess : ::testing::Test {
    World world;
    SimProcess& p = world.createProcess();
};

inline ProcessOptions userProcess(std::string user) {
    ProcessOptions o;
    o.userName = std::move(user);
    return o;
}

inline Hwnd topWindow(SimProcess& p, WindowHandler* h) {
    WindowSpec spec;
    spec.title = "w";
    return p.windows().createWindow(spec, h);
}

// The windows that saw the logged messages, in order.
inline std::vector<Hwnd> hwnds(const std::vector<SeenMessage>& log) {
    std::vector<Hwnd> out;
    for (const auto& s : log)
        out.push_back(s.hwnd);
    return out;
}

}  // namespace quilo::sim::test
