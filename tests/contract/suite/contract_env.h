// What the contract suite needs from a backend. The suite (suite/*.cpp) is written once
// against this and run natively on the simulated Windows and under Wine on the real one; each
// runner provides `contractEnv()` and its own main().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/recording_window.h"

namespace quilo::contract {

using test::SeenMessage;

// A second process with a top-level window that records what reaches it.
class Peer {
  public:
    virtual ~Peer() = default;
    virtual platform::Hwnd window() = 0;
    // Lets the peer handle what is queued for it, then returns the messages it has seen with
    // an id of `msg` (0: all) since the last call.
    virtual std::vector<SeenMessage> takeSeen(platform::MsgId msg) = 0;
    // The peer answers WM_COPYDATA with this result from now on.
    virtual void setCopyDataResult(platform::LResult result) = 0;
    // The peer sends WM_COPYDATA(code, data) to `target` with its own window as wParam and
    // returns the answer.
    virtual platform::LResult sendCopyData(platform::Hwnd target, std::uintptr_t code,
                                           const std::vector<std::byte>& data) = 0;
};

class ContractEnv {
  public:
    virtual ~ContractEnv() = default;
    virtual platform::Platform& platform() = 0;
    // The second process, started on first use and kept for the whole run.
    virtual Peer& peer() = 0;
    // Lets `ms` milliseconds pass while this process dispatches messages and timers (the
    // virtual clock in the simulation, real time on Windows).
    virtual void pumpFor(std::uint32_t ms) = 0;
    // This process is busy for `ms` milliseconds without dispatching anything (a long
    // computation). By default it spins on the tick count, which real time moves; the
    // simulation lets its virtual clock move instead.
    virtual void busyFor(std::uint32_t ms) {
        auto& clock = platform().clock();
        const std::uint32_t start = clock.tickCount();
        while (clock.tickCount() - start < ms) {
        }
    }
    // A registry key below HKEY_CURRENT_USER (and one below HKEY_LOCAL_MACHINE) that belongs to
    // this run; deleted at the end.
    virtual std::string scratchKey() = 0;
    // A Windows path of an empty folder that belongs to this run.
    virtual std::string scratchFolder() = 0;
};

ContractEnv& contractEnv();

}  // namespace quilo::contract
