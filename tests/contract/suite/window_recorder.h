// A window for the window-system contract tests: it records every message that reaches it and
// lets a test answer or react to chosen ones.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "contract_env.h"

namespace quilo::contract {

class RecordingWindow final : public platform::WindowHandler {
  public:
    using Reaction = std::function<std::optional<platform::LResult>(
        platform::Hwnd, platform::MsgId, platform::WParam, platform::LParam)>;

    explicit RecordingWindow(platform::WindowSystem& ws, platform::WindowSpec spec = {}) : ws_(ws) {
        if (spec.title.empty()) spec.title = "contract window";
        hwnd_ = ws_.createWindow(spec, this);
    }
    RecordingWindow(const RecordingWindow&) = delete;
    RecordingWindow& operator=(const RecordingWindow&) = delete;
    ~RecordingWindow() {
        if (hwnd_ && ws_.isWindow(hwnd_)) ws_.destroyWindow(hwnd_);
    }

    platform::Hwnd hwnd() const { return hwnd_; }
    // Runs for every message before the default processing; a value ends the message there.
    void react(Reaction reaction) { reaction_ = std::move(reaction); }

    platform::LResult windowProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                                 platform::LParam lParam) override {
        SeenMessage seen{hwnd, msg, wParam, lParam, {}, 0};
        if (msg == platform::wm::kCopyData && lParam) {
            const auto& cd = platform::copyDataOf(lParam);
            seen.copyCode = cd.dwData;
            seen.copyData.resize(cd.cbData);
            if (cd.cbData) std::memcpy(seen.copyData.data(), cd.lpData, cd.cbData);
        }
        seen_.push_back(std::move(seen));
        if (reaction_)
            if (auto result = reaction_(hwnd, msg, wParam, lParam)) return *result;
        return ws_.defWindowProc(hwnd, msg, wParam, lParam);
    }

    // The messages with one of these ids, in the order they arrived.
    std::vector<SeenMessage> seen(std::initializer_list<platform::MsgId> ids) const {
        std::vector<SeenMessage> out;
        for (const auto& m : seen_)
            if (std::find(ids.begin(), ids.end(), m.msg) != ids.end()) out.push_back(m);
        return out;
    }
    // Just the ids of those messages.
    std::vector<platform::MsgId> order(std::initializer_list<platform::MsgId> ids) const {
        std::vector<platform::MsgId> out;
        for (const auto& m : seen(ids))
            out.push_back(m.msg);
        return out;
    }
    std::size_t count(platform::MsgId msg, std::optional<platform::WParam> wParam = {}) const {
        return static_cast<std::size_t>(std::count_if(seen_.begin(), seen_.end(), [&](auto& m) {
            return m.msg == msg && (!wParam || m.wParam == *wParam);
        }));
    }

  private:
    platform::WindowSystem& ws_;
    platform::Hwnd hwnd_ = 0;
    Reaction reaction_;
    std::vector<SeenMessage> seen_;
};

inline std::vector<std::byte> bytesOf(std::string_view text) {
    std::vector<std::byte> out(text.size());
    if (!text.empty()) std::memcpy(out.data(), text.data(), text.size());
    return out;
}

}  // namespace quilo::contract
