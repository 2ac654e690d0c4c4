// A host and a plug-in, each a process with one window in a simulated Windows, talk over the
// interface message and WM_COPYDATA records on the virtual clock; every step is printed with
// its virtual time. Both sides use only the platform ports, as the real programs do.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/sim/world.h"

namespace {

using namespace quilo::platform;
using quilo::sim::World;

constexpr const char* kInterfaceMessage = "Kelvora2XrayInterface0";
constexpr std::uintptr_t kCommandInitialize = 2;
constexpr std::uintptr_t kReplyStatus = 1;
constexpr std::uintptr_t kAliveTimer = 1;
constexpr std::uintptr_t kConnectTimer = 2;
constexpr MsgId kTakeCommand = wm::kUser + 1;

// Prints one line: the virtual time, who, and what.
class Narrator {
  public:
    explicit Narrator(World& world) : world_(world), start_(world.nowMs()) {}
    void say(const char* who, const std::string& what) {
        const unsigned ms = world_.nowMs() - start_;
        std::printf("[%4u.%03u s] %-7s %s\n", ms / 1000, ms % 1000, who, what.c_str());
    }

  private:
    World& world_;
    std::uint32_t start_;
};

std::string hex(Hwnd h) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(h));
    return buf;
}

std::string textOf(const CopyData& cd) {
    return std::string(static_cast<const char*>(cd.lpData), cd.cbData);
}

LResult sendRecord(WindowSystem& ws, Hwnd from, Hwnd to, std::uintptr_t code,
                   const std::string& text) {
    std::vector<char> bytes(text.begin(), text.end());
    CopyData cd{code, static_cast<std::uint32_t>(bytes.size()), bytes.data()};
    return ws.sendMessage(to, wm::kCopyData, from, reinterpret_cast<LParam>(&cd));
}

class Plugin final : public WindowHandler {
  public:
    Plugin(Platform& p, Narrator& n) : p_(p), n_(n) {
        ifc_ = p_.windows().registerWindowMessage(kInterfaceMessage);
        WindowSpec spec;
        spec.title = "Quilo Plugin";
        hwnd_ = p_.windows().createWindow(spec, this);
        n_.say("plugin", "started, window " + hex(hwnd_));
    }
    virtual ~Plugin() { p_.windows().destroyWindow(hwnd_); }

    LResult windowProc(Hwnd hwnd, MsgId msg, WParam w, LParam l) override {
        auto& ws = p_.windows();
        if (msg == ifc_ && w != hwnd_) {
            host_ = static_cast<Hwnd>(w);
            n_.say("plugin", "<- enumeration from host window " + hex(host_) + "; announcing");
            ws.sendNotifyMessage(kHwndBroadcast, ifc_, hwnd_, 0);
            return 0;
        }
        if (msg == wm::kCopyData) {
            const CopyData& cd = copyDataOf(l);
            n_.say("plugin", "<- command " + std::to_string(cd.dwData) + " \"" + textOf(cd) +
                                 "\"; taken in, answered later");
            pending_ = cd.dwData;
            ws.postMessage(hwnd, kTakeCommand, 0, 0);
            return 1;
        }
        if (msg == kTakeCommand && pending_ == kCommandInitialize) {
            pending_ = 0;
            const auto answer = sendRecord(ws, hwnd_, host_, kReplyStatus, "status 16 Idle");
            n_.say("plugin",
                   "-> reply \"status 16 Idle\", host answered " + std::to_string(answer));
            ws.setTimer(hwnd_, kAliveTimer, 1000);
            return 0;
        }
        if (msg == wm::kTimer && w == kAliveTimer) {
            const bool hostThere = ws.isWindow(host_);
            n_.say("plugin",
                   std::string("timer tick: host window ") + (hostThere ? "is there" : "is gone"));
            if (++ticks_ == 3) ws.killTimer(hwnd_, kAliveTimer);
            return 0;
        }
        return ws.defWindowProc(hwnd, msg, w, l);
    }

  private:
    Platform& p_;
    Narrator& n_;
    MsgId ifc_ = 0;
    Hwnd hwnd_ = 0;
    Hwnd host_ = 0;
    std::uintptr_t pending_ = 0;
    int ticks_ = 0;
};

class Host final : public WindowHandler {
  public:
    Host(Platform& p, Narrator& n) : p_(p), n_(n) {
        ifc_ = p_.windows().registerWindowMessage(kInterfaceMessage);
        WindowSpec spec;
        spec.title = "Kelvora 3";
        hwnd_ = p_.windows().createWindow(spec, this);
        char id[16];
        std::snprintf(id, sizeof id, "0x%04X", static_cast<unsigned>(ifc_));
        n_.say("host",
               "started, window " + hex(hwnd_) + ", \"" + kInterfaceMessage + "\" is " + id);
    }
    virtual ~Host() { p_.windows().destroyWindow(hwnd_); }

    void enumerate() {
        n_.say("host", "-> broadcast: enumerate plug-ins");
        p_.windows().sendNotifyMessage(kHwndBroadcast, ifc_, hwnd_, 0);
    }

    LResult windowProc(Hwnd hwnd, MsgId msg, WParam w, LParam l) override {
        auto& ws = p_.windows();
        if (msg == ifc_ && w != hwnd_) {
            plugin_ = static_cast<Hwnd>(w);
            n_.say("host", "<- announcement from plug-in window " + hex(plugin_));
            ws.setTimer(hwnd_, kConnectTimer, 200);
            return 0;
        }
        if (msg == wm::kTimer && w == kConnectTimer) {
            ws.killTimer(hwnd_, kConnectTimer);
            n_.say("host", "-> command 2 \"InitializePlugin\"");
            const auto answer =
                sendRecord(ws, hwnd_, plugin_, kCommandInitialize, "InitializePlugin");
            n_.say("host", "   the plug-in answered " + std::to_string(answer));
            return 0;
        }
        if (msg == wm::kCopyData) {
            const CopyData& cd = copyDataOf(l);
            n_.say("host", "<- record " + std::to_string(cd.dwData) + " \"" + textOf(cd) + "\"");
            return 1;
        }
        return ws.defWindowProc(hwnd, msg, w, l);
    }

  private:
    Platform& p_;
    Narrator& n_;
    MsgId ifc_ = 0;
    Hwnd hwnd_ = 0;
    Hwnd plugin_ = 0;
};

}  // namespace

int main() {
    World world;
    Narrator narrator(world);
    quilo::sim::ProcessOptions hostOptions;
    hostOptions.exePath = "C:\\Program Files\\Kelvora\\Kelvora 3\\Kelvora3.exe";
    auto& hostProcess = world.createProcess(hostOptions);
    auto& pluginProcess = world.createProcess();
    {
        Host host(hostProcess, narrator);
        Plugin plugin(pluginProcess, narrator);
        world.after(100, [&] { host.enumerate(); });
        world.advance(4000);
        const auto live = world.live();
        narrator.say("world", std::to_string(live.windows) + " windows, " +
                                  std::to_string(live.timers) + " timers, " +
                                  std::to_string(live.memoryBlocks) + " memory blocks alive");
    }
    const auto after = world.live();
    const bool clean = after == quilo::sim::LiveCounts{};
    narrator.say("world",
                 clean ? "both programs ended, nothing left behind" : "something was left behind");
    return clean ? 0 : 1;
}
