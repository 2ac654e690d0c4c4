// Window-system contract: subclassing a window procedure, chaining and restoring.
#include <gtest/gtest.h>

#include "window_recorder.h"

namespace quilo::contract {
namespace {

using WindowSubclass = WindowContract;

constexpr MsgId kPing = wm::kUser + 20;
constexpr MsgId kSwallowed = wm::kUser + 21;

// One level of subclassing: notes that it saw the message, then passes it on unless told to
// keep it, and adds its own mark to the answer.
class Level final : public platform::WindowHandler {
  public:
    Level(platform::WindowSystem& ws, std::string name, std::vector<std::string>& log)
        : ws_(ws), name_(std::move(name)), log_(log) {}
    void install(platform::Hwnd hwnd) { previous = ws_.subclassWindow(hwnd, this); }
    platform::LResult windowProc(platform::Hwnd hwnd, MsgId msg, platform::WParam wParam,
                                 platform::LParam lParam) override {
        if (msg == kPing || msg == kSwallowed) log_.push_back(name_);
        if (msg == kSwallowed && keeps) return -1;
        const auto result = ws_.callWindowProc(previous, hwnd, msg, wParam, lParam);
        return msg == kPing ? result * 10 + mark : result;
    }
    platform::WndProcRef previous = 0;
    bool keeps = false;
    int mark = 0;

  private:
    platform::WindowSystem& ws_;
    std::string name_;
    std::vector<std::string>& log_;
};

// The window's own procedure, which answers kPing with 1.
struct Base {
    Base(platform::WindowSystem& ws, std::vector<std::string>& log) : window(ws) {
        window.react([&log](auto, MsgId msg, auto, auto) -> std::optional<platform::LResult> {
            if (msg == kPing || msg == kSwallowed) {
                log.push_back("base");
                return 1;
            }
            return std::nullopt;
        });
    }
    RecordingWindow window;
};

// The answer to kPing and the levels it went through, newest first.
using Trip = std::pair<platform::LResult, std::vector<std::string>>;

TEST_F(WindowSubclass, LevelsRunNewestFirstAndRestoringUnwindsThem) {
    std::vector<std::string> log;
    Base base(ws, log);
    const auto h = base.window.hwnd();
    const auto ping = [&] {
        log.clear();
        return Trip{ws.sendMessage(h, kPing, 0, 0), log};
    };
    Level outer(ws, "outer", log), inner(ws, "inner", log);
    inner.mark = 2;
    outer.mark = 3;

    inner.install(h);
    ASSERT_NE(inner.previous, 0u);
    EXPECT_EQ(ping(), (Trip{12, {"inner", "base"}}));
    outer.install(h);
    ASSERT_NE(outer.previous, 0u);
    EXPECT_EQ(ping(), (Trip{123, {"outer", "inner", "base"}}));
    // Posted messages go through the same chain.
    log.clear();
    ASSERT_TRUE(ws.postMessage(h, kPing, 0, 0));
    env.pumpFor(0);
    EXPECT_EQ(log, (std::vector<std::string>{"outer", "inner", "base"}));

    ASSERT_TRUE(ws.restoreWindowProc(h, outer.previous));
    EXPECT_EQ(ping(), (Trip{12, {"inner", "base"}}));
    ASSERT_TRUE(ws.restoreWindowProc(h, inner.previous));
    EXPECT_EQ(ping(), (Trip{1, {"base"}}));
}

TEST_F(WindowSubclass, ALevelCanKeepAMessageFromTheWindow) {
    std::vector<std::string> log;
    Base base(ws, log);
    Level hook(ws, "hook", log);
    hook.keeps = true;
    hook.install(base.window.hwnd());
    ASSERT_NE(hook.previous, 0u);

    EXPECT_EQ(ws.sendMessage(base.window.hwnd(), kSwallowed, 0, 0), -1);
    EXPECT_EQ(log, (std::vector<std::string>{"hook"}));
    EXPECT_EQ(base.window.count(kSwallowed), 0u);

    // Messages the level passes on still reach the window.
    log.clear();
    EXPECT_EQ(ws.sendMessage(base.window.hwnd(), kPing, 0, 0), 10);
    EXPECT_EQ(log, (std::vector<std::string>{"hook", "base"}));
    ASSERT_TRUE(ws.restoreWindowProc(base.window.hwnd(), hook.previous));
}

TEST_F(WindowSubclass, SubclassedWindowCanBeDestroyedWhileHooked) {
    std::vector<std::string> log;
    platform::Hwnd h = 0;
    Level hook(ws, "hook", log);
    {
        Base base(ws, log);
        h = base.window.hwnd();
        hook.install(h);
        ASSERT_NE(hook.previous, 0u);
        EXPECT_EQ(ws.sendMessage(h, kPing, 0, 0), 10);
    }
    EXPECT_FALSE(ws.isWindow(h));
    EXPECT_FALSE(ws.restoreWindowProc(h, hook.previous));
}

TEST_F(WindowSubclass, AWindowOfAnotherProcessCannotBeSubclassed) {
    std::vector<std::string> log;
    Level hook(ws, "hook", log);
    EXPECT_EQ(ws.subclassWindow(env.peer().window(), &hook), 0u);
}

}  // namespace
}  // namespace quilo::contract
