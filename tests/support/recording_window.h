// A window that records every message reaching it (with the bytes of WM_COPYDATA as the
// receiver saw them) and lets a test answer or react to chosen ones. Several windows may share
// one log, to check the order across them.
#pragma once

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "platform/platform.h"

namespace quilo::test {

// A message as a window saw it.
struct SeenMessage {
    platform::Hwnd hwnd = 0;
    platform::MsgId msg = 0;
    platform::WParam wParam = 0;
    platform::LParam lParam = 0;
    std::vector<std::byte> copyData;  // for WM_COPYDATA: the data the receiver saw
    std::uintptr_t copyCode = 0;      // for WM_COPYDATA: dwData
};

inline SeenMessage seenMessage(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                               platform::LParam lParam) {
    SeenMessage seen{hwnd, msg, wParam, lParam, {}, 0};
    if (msg == platform::wm::kCopyData && lParam) {
        const auto& cd = platform::copyDataOf(lParam);
        seen.copyCode = cd.dwData;
        seen.copyData.resize(cd.cbData);
        if (cd.cbData) std::memcpy(seen.copyData.data(), cd.lpData, cd.cbData);
    }
    return seen;
}

class RecordingWindow final : public platform::WindowHandler {
  public:
    using Reaction = std::function<std::optional<platform::LResult>(
        platform::Hwnd, platform::MsgId, platform::WParam, platform::LParam)>;

    explicit RecordingWindow(platform::WindowSystem& ws, platform::WindowSpec spec = {},
                             std::vector<SeenMessage>* sharedLog = nullptr)
        : ws_(ws), log_(sharedLog ? *sharedLog : own_) {
        if (spec.title.empty()) spec.title = "recording window";
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
    // Answers one message id with `result` (replacing any reaction).
    void answer(platform::MsgId id, platform::LResult result) {
        react(
            [id, result](auto, platform::MsgId m, auto, auto) -> std::optional<platform::LResult> {
                if (m == id) return result;
                return std::nullopt;
            });
    }

    platform::LResult windowProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                                 platform::LParam lParam) override {
        log_.push_back(seenMessage(hwnd, msg, wParam, lParam));
        if (reaction_)
            if (auto result = reaction_(hwnd, msg, wParam, lParam)) return *result;
        return ws_.defWindowProc(hwnd, msg, wParam, lParam);
    }

    std::vector<SeenMessage>& log() { return log_; }
    // The messages with one of these ids (none given: all), in the order they arrived.
    std::vector<SeenMessage> seen(std::initializer_list<platform::MsgId> ids = {}) const {
        std::vector<SeenMessage> out;
        for (const auto& m : log_)
            if (ids.size() == 0 || std::find(ids.begin(), ids.end(), m.msg) != ids.end())
                out.push_back(m);
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
        return static_cast<std::size_t>(std::count_if(log_.begin(), log_.end(), [&](auto& m) {
            return m.msg == msg && (!wParam || m.wParam == *wParam);
        }));
    }

  private:
    platform::WindowSystem& ws_;
    std::vector<SeenMessage> own_;
    std::vector<SeenMessage>& log_;
    platform::Hwnd hwnd_ = 0;
    Reaction reaction_;
};

}  // namespace quilo::test
