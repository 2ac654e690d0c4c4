// The host side of the host-link test under Wine. It starts TraceViewer.exe (the reading end of
// the trace mailslot) and the plug-in program, then plays the host: InitializePlugin refused and
// accepted, a refused command, a command of the wrong size, ShutdownPlugin; and checks the trace
// lines that the viewer received over the real mailslot from the other process. The replies
// themselves, byte for byte, are the test host's lifecycle scenario against the real plug-in.
//
// Usage: host_e2e_host.exe <TraceViewer.exe> <trace output file> <plug-in exe>
#include <cstdio>
#include <string>
#include <vector>

#include "e2e/support/e2e_check.h"
#include "host/xray_ifc.h"
#include "platform/win32/win32_platform.h"
#include "support/bytes.h"
#include "support/recording_window.h"
#include "trace/trace.h"

namespace quilo::e2e {
namespace {

using platform::Hwnd;
using platform::LParam;
using platform::MsgId;
namespace wm = platform::wm;
using test::cat;
using test::le32;

std::vector<std::byte> status(std::int32_t code) {
    return cat({le32(12), le32(code), le32(0)});
}

int run(const std::string& viewerExe, const std::string& traceOut, const std::string& pluginExe) {
    auto platform = platform::makeWin32Platform();
    auto& ws = platform->windows();
    auto& files = platform->files();
    e2e::Checks check;
    const MsgId ifc = ws.registerWindowMessage(host::kInterfaceMessageName);
    platform::WindowSpec spec;
    spec.title = "Quilo host-link e2e - host";
    test::RecordingWindow hostWindow(ws, spec);
    hostWindow.answer(wm::kCopyData, 1);
    const Hwnd me = hostWindow.hwnd();
    if (!me) return 1;
    // The plug-in's window, once it has announced itself; the records it sent us.
    auto plugin = [&] {
        for (const auto& m : hostWindow.seen({ifc}))
            if (m.lParam == host::kRegisterLParam && m.wParam != me)
                return static_cast<Hwnd>(m.wParam);
        return Hwnd{0};
    };
    auto replies = [&] { return hostWindow.seen({wm::kCopyData}); };
    const std::int32_t meLong = platform::handleToRecord(me);

    // The viewer first: the plug-in's writing end opens only while a reading end exists.
    files.removeFile(traceOut);
    check(
        platform->process().startProgram(viewerExe, "--quiet-ms 10000 --out \"" + traceOut + "\""),
        "TraceViewer.exe started");
    auto& slots = platform->mailslots();
    check(waitFor(*platform, 20000,
                  [&] {
                      const platform::Handle h = slots.openMailslot(trace::readingEndName());
                      if (h) slots.close(h);
                      return h != 0;
                  }),
          "the viewer's reading end exists");

    check(platform->process().startProgram(pluginExe, ""), "plug-in started");
    check(waitFor(*platform, 20000, [&] { return plugin() != 0; }),
          "the plug-in announced itself when it hooked its window");
    const Hwnd pluginHwnd = plugin();
    if (!pluginHwnd) return 1;

    auto send = [&](std::int32_t code, std::vector<std::byte> data) {
        platform::CopyData cd{static_cast<std::uintptr_t>(code),
                              static_cast<std::uint32_t>(data.size()), data.data()};
        return ws.sendMessage(pluginHwnd, wm::kCopyData, me, reinterpret_cast<LParam>(&cd));
    };
    auto waitReplies = [&](std::size_t n) {
        return waitFor(*platform, 10000, [&] { return replies().size() >= n; });
    };

    check(send(host::cmd::kInitializePlugin, le32(0x0BAD0)) == 0,
          "InitializePlugin with no window in it refused");
    check(send(host::cmd::kInitializePlugin, le32(meLong)) != 0, "InitializePlugin accepted");
    check(
        waitReplies(1) && replies()[0].wParam == pluginHwnd && replies()[0].copyData == status(16),
        "status Idle reported on initialisation");

    check(send(9, le32(meLong)) == 0, "command 9 refused");
    check(send(host::cmd::kGetStatus, cat({le32(meLong), le32(0)})) != 0,
          "GetStatus with 8 bytes accepted into the ring");
    // The wrong-sized command gets no reply; the next good one does, and comes first.
    check(send(host::cmd::kGetSensorCount, le32(meLong)) != 0, "GetSensorCount accepted");
    check(waitReplies(2) && replies()[1].copyCode == 30,
          "sensor count reply follows without a reply to the wrong-sized command");

    check(send(host::cmd::kShutdownPlugin, le32(meLong)) != 0, "ShutdownPlugin accepted");
    check(waitReplies(3) && replies()[2].copyData == status(0),
          "status Un-Initialized reported on shutdown");
    check(waitFor(*platform, 10000, [&] { return !ws.isWindow(pluginHwnd); }),
          "the plug-in's window is gone");

    // The trace lines, as the viewer received them over the mailslot.
    const std::vector<std::string> expected = {
        "clsPlugin: Class_Initialize:App:",
        "Error:clsPlugin:invalid window handle in: clsPlugin.InitializePlugin command",
        "XrayIfc:SendStatus(changed):Idle result=1",
        "Error:clsPlugin:Unknown command(dwData): 9 cbData=4",
        "Error:clsPlugin:invalid data-size, GetStatus(6)",
        "XrayIfc:SendStatus(changed):Un-Initialized result=1",
        "clsPlugin: Class_Terminate"};
    std::string seen;
    auto allSeen = [&] {
        auto bytes = platform::readWholeFile(files, traceOut, 1 << 20);
        if (!bytes) return false;
        seen.assign(reinterpret_cast<const char*>(bytes->data()), bytes->size());
        std::size_t at = 0;
        for (const auto& e : expected) {
            at = seen.find(e, at);
            if (at == std::string::npos) return false;
        }
        return true;
    };
    check(waitFor(*platform, 15000, allSeen),
          "the viewer printed every expected trace line in order");
    check(!seen.empty() && seen[0] == '[', "trace lines start with the tick stamp");
    std::printf("--- trace lines received by TraceViewer.exe ---\n%s---\n", seen.c_str());
    return check.finish("e2e host link");
}

}  // namespace
}  // namespace quilo::e2e

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc < 4) {
        std::fprintf(stderr, "usage: host_e2e_host <TraceViewer.exe> <trace file> <plug-in exe>\n");
        return 2;
    }
    return quilo::e2e::run(argv[1], argv[2], argv[3]);
}
