// The host side of the Wine IPC test. It starts the plug-in program, waits for its announcement
// (the registered interface message, broadcast), exchanges WM_COPYDATA records with it in both
// directions, lets the harness photograph both windows, and shuts the plug-in down.
//
// Usage: e2e_ipc_host.exe <marker file>   (the harness takes its screenshot once the marker
// exists and answers with <marker>.done)
#include <cstdio>
#include <string>
#include <vector>

#include "ipc_records.h"
#include "platform/win32/win32_platform.h"

namespace quilo::e2e {
namespace {

using platform::Hwnd;
using platform::LParam;
using platform::LResult;
using platform::MsgId;
using platform::WParam;
namespace wm = platform::wm;

constexpr std::uintptr_t kTick = 1;

struct Reply {
    std::uintptr_t code = 0;
    Hwnd from = 0;
    std::vector<std::byte> bytes;
};

class Host final : public platform::WindowHandler {
  public:
    Host(platform::WindowSystem& ws, MsgId ifc) : ws_(ws), ifc_(ifc) {}

    LResult windowProc(Hwnd hwnd, MsgId msg, WParam wParam, LParam lParam) override {
        if (msg == ifc_ && lParam == kAnnounce && wParam != hwnd) {
            plugin = static_cast<Hwnd>(wParam);
            return 0;
        }
        if (msg == wm::kCopyData) {
            const auto& cd = platform::copyDataOf(lParam);
            Reply r{cd.dwData, static_cast<Hwnd>(wParam), {}};
            const auto* p = static_cast<const std::byte*>(cd.lpData);
            if (cd.cbData) r.bytes.assign(p, p + cd.cbData);
            replies.push_back(std::move(r));
            return 1;
        }
        if (msg == wm::kTimer && wParam == kTick) return 0;  // wakes the waiting loops
        return ws_.defWindowProc(hwnd, msg, wParam, lParam);
    }

    Hwnd plugin = 0;
    std::vector<Reply> replies;

  private:
    platform::WindowSystem& ws_;
    MsgId ifc_;
};

class Test {
  public:
    explicit Test(platform::Platform& p) : p_(p), ws_(p.windows()) {}

    void check(bool ok, const std::string& what) {
        std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
        if (!ok) ++failures_;
    }
    int failures() const { return failures_; }

    // Dispatches messages until `done` or `ms` have passed; true when `done`.
    template <typename Done>
    bool waitFor(Hwnd tickWindow, std::uint32_t ms, Done done) {
        const std::uint32_t start = p_.clock().tickCount();
        ws_.setTimer(tickWindow, kTick, 50);
        ws_.runModalLoop([&] { return done() || p_.clock().tickCount() - start >= ms; });
        ws_.killTimer(tickWindow, kTick);
        return done();
    }

  private:
    platform::Platform& p_;
    platform::WindowSystem& ws_;
    int failures_ = 0;
};

template <typename T>
bool replyAs(const Reply& r, T& out) {
    platform::CopyData cd{r.code, static_cast<std::uint32_t>(r.bytes.size()),
                          const_cast<std::byte*>(r.bytes.data())};
    return readRecord(cd, out);
}

int run(const std::string& marker) {
    auto platform = platform::makeWin32Platform();
    auto& ws = platform->windows();
    auto& clock = platform->clock();
    Test t(*platform);
    const MsgId ifc = ws.registerWindowMessage(kInterfaceMessage);
    Host host(ws, ifc);
    platform::WindowSpec spec;
    spec.title = "Quilo e2e – host";
    spec.rect = {60, 60, 480, 340};
    spec.visible = true;
    const Hwnd me = ws.createWindow(spec, &host);
    t.check(me != 0 && ifc >= 0xC000, "host window and the registered interface message");
    if (!me) return 1;

    const std::string pluginExe =
        platform::joinPath(platform->files().programFolder(), "e2e_ipc_plugin.exe");
    t.check(platform->process().startProgram(pluginExe, ""), "plug-in program started");
    t.check(t.waitFor(me, 20000, [&] { return host.plugin != 0; }),
            "the plug-in announced itself with the broadcast interface message");
    if (!host.plugin) return 1;
    t.check(ws.isWindow(host.plugin) && ws.getParent(host.plugin) == 0,
            "the announced handle is a live top-level window");

    // A record to the plug-in; its answer comes later as a record of its own.
    HelloRecord hello;
    hello.host = platform::handleToRecord(me);
    hello.sequence = 7;
    const std::uint32_t t0 = clock.tickCount();
    t.check(sendRecord(ws, host.plugin, me, kHello, hello) == 1, "hello record accepted");
    t.check(t.waitFor(me, 10000, [&] { return !host.replies.empty(); }), "status reply arrived");
    const std::uint32_t roundTrip = clock.tickCount() - t0;
    if (!host.replies.empty()) {
        StatusRecord status;
        const Reply& r = host.replies.front();
        t.check(r.code == kStatus && replyAs(r, status), "status record well formed");
        t.check(r.from == host.plugin, "status record names the plug-in's window");
        t.check(status.status == 16 && status.sequence == 7 && std::string(status.text) == "Idle",
                "status record content (16, sequence 7, \"Idle\")");
    }

    // A megabyte each way would be an image; here it goes one way and comes back as a sum.
    std::vector<std::byte> bulk(1 << 20);
    for (std::size_t i = 0; i < bulk.size(); ++i)
        bulk[i] = static_cast<std::byte>((i * 131 + (i >> 12)) & 0xFF);
    platform::CopyData cd{kBulk, static_cast<std::uint32_t>(bulk.size()), bulk.data()};
    const std::uint32_t t1 = clock.tickCount();
    t.check(ws.sendMessage(host.plugin, wm::kCopyData, me, reinterpret_cast<LParam>(&cd)) == 1,
            "1 MiB record accepted");
    t.check(t.waitFor(me, 10000, [&] { return host.replies.size() >= 2; }), "sum reply arrived");
    const std::uint32_t bulkMs = clock.tickCount() - t1;
    if (host.replies.size() >= 2) {
        SumRecord sum;
        t.check(host.replies[1].code == kBulkSum && replyAs(host.replies[1], sum),
                "sum record well formed");
        t.check(sum.count == bulk.size() && sum.fnv1a == fnv1a(bulk.data(), bulk.size()),
                "the plug-in saw the megabyte unchanged");
    }

    // Both windows are up: the harness photographs the screen now.
    auto& files = platform->files();
    if (!marker.empty()) {
        const std::string text = "ready";
        platform::writeWholeFile(
            files, marker, std::span(reinterpret_cast<const std::byte*>(text.data()), text.size()));
        t.check(t.waitFor(me, 15000, [&] { return files.exists(marker + ".done"); }),
                "screenshot taken");
    }

    t.check(sendRecord(ws, host.plugin, me, kShutdown, HelloRecord{}) == 1, "shutdown accepted");
    t.check(t.waitFor(me, 10000, [&] { return !ws.isWindow(host.plugin); }),
            "the plug-in's window is gone");
    std::printf("round trip of a record: %u ms; 1 MiB record and its answer: %u ms\n", roundTrip,
                bulkMs);
    ws.destroyWindow(me);
    std::printf("%s\n", t.failures() ? "e2e ipc: FAILED" : "e2e ipc: passed");
    return t.failures() ? 1 : 0;
}

}  // namespace
}  // namespace quilo::e2e

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return quilo::e2e::run(argc > 1 ? argv[1] : "");
}
