// PluginHook: the window procedure installed on the hooked window. It is a handler object of
// its own, so the hooked window reaches its endpoint through the handler it was given rather
// than through a process-wide reference.
#pragma once

#include "platform/window_system.h"

namespace quilo::host {

class clsPlugin;

class PluginHook final : public platform::WindowHandler {
  public:
    PluginHook(platform::WindowSystem& windows) : windows_(windows) {}
    // Sets (or, with null, clears) the endpoint whose WindowProc receives the messages.
    void SetHookTarget(clsPlugin* target) { target_ = target; }
    clsPlugin* target() const { return target_; }

    // Passes the four arguments to the target's WindowProc and returns its result; with no
    // target the message gets default processing.
    platform::LResult HookProc(platform::Hwnd hwnd, platform::MsgId uMsg, platform::WParam wParam,
                               platform::LParam lParam);
    platform::LResult windowProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                                 platform::LParam lParam) override {
        return HookProc(hwnd, msg, wParam, lParam);
    }

  private:
    platform::WindowSystem& windows_;
    clsPlugin* target_ = nullptr;
};

}  // namespace quilo::host
