// The window-system contract tests record messages with the one recording window of the tests.
#pragma once

#include "contract_env.h"
#include "support/bytes.h"
#include "support/recording_window.h"

namespace quilo::contract {

using test::bytesOf;
using test::RecordingWindow;

}  // namespace quilo::contract
