// The contract suite's environment on the simulated Windows: one world, this process and a
// peer process in it; time is the world's virtual clock.
#include <gtest/gtest.h>

#include <memory>

#include "contract_env.h"
#include "platform/sim/world.h"

namespace quilo::contract {
namespace {

using platform::Hwnd;

// The second process: one top-level window that records what reaches it.
class SimPeer final : public Peer {
  public:
    explicit SimPeer(sim::World& world)
        : world_(world),
          process_(world.createProcess(peerOptions())),
          window_(process_.windows(), titled("contract peer")) {
        window_.react([this](Hwnd, platform::MsgId msg, platform::WParam,
                             platform::LParam) -> std::optional<platform::LResult> {
            if (msg == platform::wm::kCopyData) return copyResult_;
            return std::nullopt;
        });
    }

    Hwnd window() override { return window_.hwnd(); }

    std::vector<SeenMessage> takeSeen(platform::MsgId msg) override {
        world_.runUntilIdle();
        std::vector<SeenMessage> out;
        for (auto& m : window_.log())
            if (msg == 0 || m.msg == msg) out.push_back(std::move(m));
        window_.log().clear();
        return out;
    }

    void setCopyDataResult(platform::LResult result) override { copyResult_ = result; }

    platform::LResult sendCopyData(Hwnd target, std::uintptr_t code,
                                   const std::vector<std::byte>& data) override {
        platform::CopyData cd{code, static_cast<std::uint32_t>(data.size()),
                              data.empty() ? nullptr : const_cast<std::byte*>(data.data())};
        return process_.windows().sendMessage(target, platform::wm::kCopyData, window_.hwnd(),
                                              reinterpret_cast<platform::LParam>(&cd));
    }

  private:
    static sim::ProcessOptions peerOptions() {
        sim::ProcessOptions o;
        o.exePath = "C:\\Program Files\\Kelvora\\ContractPeer.exe";
        return o;
    }
    static platform::WindowSpec titled(const char* title) {
        platform::WindowSpec spec;
        spec.title = title;
        return spec;
    }
    sim::World& world_;
    sim::SimProcess& process_;
    test::RecordingWindow window_;
    platform::LResult copyResult_ = 0;
};

class SimContractEnv final : public ContractEnv {
  public:
    SimContractEnv() : process_(world_.createProcess()) {
        process_.files().createDirectories(scratchFolder());
    }

    platform::Platform& platform() override { return process_; }
    Peer& peer() override {
        if (!peer_) peer_ = std::make_unique<SimPeer>(world_);
        return *peer_;
    }
    void pumpFor(std::uint32_t ms) override { world_.advance(ms); }
    void busyFor(std::uint32_t ms) override { world_.spend(ms); }
    std::string scratchKey() override { return "Software\\QuiloContract\\Run"; }
    std::string scratchFolder() override { return "C:\\Users\\clinic\\QuiloContract"; }

    sim::World& world() { return world_; }

  private:
    static sim::WorldOptions worldOptions() {
        sim::WorldOptions o;
#ifdef QUILO_CONTRACT_FILES_IN_MEMORY
        o.filesInMemory = true;
#endif
        return o;
    }
    sim::World world_{worldOptions()};
    sim::SimProcess& process_;
    std::unique_ptr<SimPeer> peer_;
};

SimContractEnv& simEnv() {
    static SimContractEnv env;
    return env;
}

// After the whole suite nothing a test made may be left: no block, handle or timer, and no
// window but the peer's.
class NothingLeftBehind final : public testing::Environment {
  public:
    void TearDown() override {
        const auto live = simEnv().world().live();
        EXPECT_EQ(live.memoryBlocks, 0u) << "global memory blocks left allocated";
        EXPECT_EQ(live.handles, 0u) << "files, mailslots, guards or libraries left open";
        EXPECT_EQ(live.timers, 0u) << "timers left running";
        EXPECT_LE(live.windows, 1u) << "windows left behind";
    }
};

[[maybe_unused]] testing::Environment* const kLeakCheck =
    testing::AddGlobalTestEnvironment(new NothingLeftBehind);

}  // namespace

ContractEnv& contractEnv() {
    return simEnv();
}

}  // namespace quilo::contract
