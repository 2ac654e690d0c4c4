// The window-system contract tests record messages with the one recording window of the tests;
// each test has the backend's window system at hand.
#pragma once

#include <gtest/gtest.h>

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
};

}  // namespace quilo::contract
