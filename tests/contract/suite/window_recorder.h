// The window-system contract tests record messages with the one recording window of the tests;
// each test has the backend's window system at hand.
#pragma once

#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "contract_env.h"
#include "support/bytes.h"
#include "support/recording_window.h"

namespace quilo::contract {

using platform::MsgId;
using test::bytesOf;
using test::RecordingWindow;
namespace wm = platform::wm;

class WindowContract : public ::testing::Test {
  protected:
    ContractEnv& env = contractEnv();
    platform::WindowSystem& ws = env.platform().windows();

    // Sends WM_COPYDATA(code, data) from `from` to `to` and returns the answer.
    platform::LResult sendCopy(platform::Hwnd to, platform::Hwnd from, std::uintptr_t code,
                               std::vector<std::byte>& data) {
        platform::CopyData cd{code, static_cast<std::uint32_t>(data.size()),
                              data.empty() ? nullptr : data.data()};
        return ws.sendMessage(to, wm::kCopyData, from, reinterpret_cast<platform::LParam>(&cd));
    }
};

// Each message's window, wParam and lParam.
using Params = std::tuple<platform::Hwnd, platform::WParam, platform::LParam>;
inline std::vector<Params> params(const std::vector<test::SeenMessage>& seen) {
    std::vector<Params> out;
    for (const auto& m : seen)
        out.emplace_back(m.hwnd, m.wParam, m.lParam);
    return out;
}
// Each WM_COPYDATA's sender (wParam), code and bytes as the receiver saw them.
using Copy = std::tuple<platform::WParam, std::uintptr_t, std::vector<std::byte>>;
inline std::vector<Copy> copies(const std::vector<test::SeenMessage>& seen) {
    std::vector<Copy> out;
    for (const auto& m : seen)
        out.emplace_back(m.wParam, m.copyCode, m.copyData);
    return out;
}

}  // namespace quilo::contract
