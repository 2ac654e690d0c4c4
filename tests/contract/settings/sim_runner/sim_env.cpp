// The settings contract's environment on the simulated Windows: one world with one process.
// The settings cases use the platform, the scratch key and the scratch folder, never a peer.
#include <stdexcept>
#include <string>

#include "contract_env.h"
#include "platform/sim/world.h"

namespace quilo::contract {
namespace {

class SimSettingsEnv final : public ContractEnv {
  public:
    SimSettingsEnv() : process_(world_.createProcess()) {
        process_.files().createDirectories(scratchFolder_);
    }
    platform::Platform& platform() override { return process_; }
    Peer& peer() override { throw std::logic_error("the settings contract uses no peer"); }
    void pumpFor(std::uint32_t ms) override { world_.advance(ms); }
    std::string scratchKey() override { return "Software\\QuiloContract\\Run1"; }
    std::string scratchFolder() override { return scratchFolder_; }

  private:
    sim::World world_;
    sim::SimProcess& process_;
    std::string scratchFolder_ = "C:\\QuiloContract";
};

}  // namespace

ContractEnv& contractEnv() {
    static SimSettingsEnv env;
    return env;
}

}  // namespace quilo::contract
