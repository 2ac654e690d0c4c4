#include "test-host/scenario.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/text.h"
#include "imaging/tiff.h"
#include "test-host/decode.h"
#include "test-host/scenario_commands.h"

namespace quilo::testhost {

namespace {

void put32(Bytes& b, std::size_t at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (std::size_t i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::byte>((u >> (8 * i)) & 0xFF);
}
void put16(Bytes& b, std::size_t at, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    b[at] = static_cast<std::byte>(u & 0xFF);
    b[at + 1] = static_cast<std::byte>(u >> 8);
}
void putText(Bytes& b, std::size_t at, std::size_t width, const std::string& utf8) {
    const std::string a = utf8ToAnsi(utf8);
    for (std::size_t i = 0; i < width && i < a.size(); ++i)
        b[at + i] = static_cast<std::byte>(a[i]);
}

}  // namespace

Bytes expectedStatus(std::int32_t code, bool dialog) {
    Bytes b(12);
    put32(b, 0, 12);
    put32(b, 4, code);
    put16(b, 8, dialog ? -1 : 0);
    return b;
}

Bytes expectedCapabilities() {
    Bytes b(20);
    put32(b, 0, 20);
    const std::int16_t flags[6] = {-1, -1, 0, -1, -1, 0};
    for (std::size_t i = 0; i < 6; ++i)
        put16(b, 8 + 2 * i, flags[i]);
    return b;
}

Bytes expectedSensorCount(std::int32_t count) {
    Bytes b(8);
    put32(b, 0, 8);
    put32(b, 4, count);
    return b;
}

Bytes expectedInformation(std::int32_t kind, const std::string& product, const std::string& path) {
    Bytes b(336);
    put32(b, 0, 336);
    put32(b, 4, kind);
    put32(b, 8, 24);
    putText(b, 16, 64, product);
    putText(b, 80, 256, path);
    return b;
}

Bytes expectedSensor(std::int32_t number, std::int32_t kind, const std::string& name, bool tool,
                     const std::string& text, const std::string& description) {
    Bytes b(220);
    put32(b, 0, 220);
    put32(b, 4, number);
    put32(b, 8, kind);
    putText(b, 16, 64, name);
    put16(b, 80, tool ? -1 : 0);
    put32(b, 88, 2);
    putText(b, 92, 64, text);
    putText(b, 156, 64, description);
    return b;
}

Scenario::Scenario(HostCore& host, PluginLauncher& launcher,
                   std::function<void(const std::string&)> out, ScenarioOptions options)
    : host_(host), launcher_(launcher), out_(std::move(out)), options_(std::move(options)) {}

bool Scenario::check(bool ok, const std::string& what, const std::string& detail) {
    ++step_;
    out_((ok ? "ok " : "not ok ") + std::to_string(step_) + " - " + what);
    if (!ok) {
        ++failures_;
        if (!detail.empty()) out_("# " + detail);
    }
    return ok;
}

bool Scenario::expectBytes(const Bytes& got, const Bytes& want, const std::string& what) {
    if (got == want) return check(true, what);
    std::string detail =
        "got " + std::to_string(got.size()) + " bytes, want " + std::to_string(want.size());
    for (std::size_t i = 0; i < got.size() && i < want.size(); ++i) {
        if (got[i] != want[i]) {
            detail += "; first difference at offset " + std::to_string(i);
            break;
        }
    }
    detail += "\n# got:  " + hexDump(got) + "\n# want: " + hexDump(want);
    return check(false, what, detail);
}

std::optional<Bytes> Scenario::ask(std::int32_t code, const Bytes& data) {
    const std::size_t from = host_.received().size();
    const platform::LResult verdict = host_.send(plugin_, code, data);
    if (verdict == 0) return std::nullopt;
    const int at = host_.waitFor(code, from, options_.replyTimeoutMs);
    if (at < 0) return std::nullopt;
    return host_.received()[static_cast<std::size_t>(at)].data;
}

bool Scenario::silentFor(std::int32_t code, std::uint32_t ms) {
    const std::size_t from = host_.received().size();
    return host_.waitFor(code, from, ms) < 0;
}

bool Scenario::startPlugin(const std::string& args) {
    const std::size_t from = host_.received().size();
    if (!launcher_.start(args)) return check(false, "start the plug-in " + args);
    const int at = host_.waitFor(kAnnouncement, from, options_.startTimeoutMs);
    plugin_ = at < 0 ? 0 : host_.received()[static_cast<std::size_t>(at)].sender;
    return check(plugin_ != 0, "the plug-in announces itself when it starts" +
                                   (args.empty() ? std::string() : " (" + args + ")"));
}

bool Scenario::waitExit(std::uint32_t timeoutMs, int& code) {
    std::optional<int> rc;
    host_.waitUntil(
        [&] {
            rc = launcher_.exitCode();
            return rc.has_value();
        },
        timeoutMs);
    if (rc) code = *rc;
    return rc.has_value();
}

bool Scenario::shutdown(const std::function<void()>& meanwhile) {
    const std::size_t from = host_.received().size();
    // The endpoint takes the command and returns at once; it works it off later, so a question
    // it asks on its way out does not block this send.
    const platform::LResult verdict = host_.sendHandleCommand(plugin_, kShutdownPlugin);
    if (meanwhile) meanwhile();
    check(verdict != 0, "ShutdownPlugin is accepted");
    const int at = host_.waitFor(kGetStatus, from, options_.replyTimeoutMs);
    if (at >= 0)
        expectBytes(host_.received()[static_cast<std::size_t>(at)].data, expectedStatus(0),
                    "ShutdownPlugin reports status 0 (Un-Initialized)");
    else
        check(false, "ShutdownPlugin reports status 0 (Un-Initialized)", "no status message");
    int code = -1;
    const bool ended = waitExit(15000, code);
    check(ended && code == 0, "the plug-in process ends with exit code 0",
          ended ? "exit code " + std::to_string(code) : "still running");
    platform::WindowSystem& w = host_.platform().windows();
    check(host_.waitUntil([&] { return !w.isWindow(plugin_); }, 3000),
          "the plug-in's window is gone");
    if (!ended) launcher_.kill();
    return ended && code == 0;
}

int Scenario::lifecycle(const Expectations& e) {
    if (!startPlugin("")) return failures_;

    {
        const std::size_t from = host_.received().size();
        host_.enumerate();
        const int at = host_.waitFor(kAnnouncement, from, options_.replyTimeoutMs);
        check(at >= 0 && host_.received()[static_cast<std::size_t>(at)].sender == plugin_,
              "EnumeratePlugIns: the plug-in announces the same window again");
    }
    {
        // Data that names no window: refused at once, nothing reported.
        const platform::LResult v = host_.send(plugin_, kInitializePlugin, int32Bytes(1));
        check(v == 0, "InitializePlugin naming no window is refused");
        check(silentFor(kGetStatus, options_.silenceMs), "... and no status is reported");
    }
    {
        const std::size_t from = host_.received().size();
        const platform::LResult v = host_.sendHandleCommand(plugin_, kInitializePlugin);
        check(v != 0, "InitializePlugin with the host's window is accepted");
        const int at = host_.waitFor(kGetStatus, from, options_.replyTimeoutMs);
        if (at >= 0)
            expectBytes(host_.received()[static_cast<std::size_t>(at)].data, expectedStatus(16),
                        "InitializePlugin reports status 16 (Idle)");
        else
            check(false, "InitializePlugin reports status 16 (Idle)", "no status message");
    }
    {
        const platform::LResult v = host_.sendHandleCommand(plugin_, kInitializePlugin);
        check(v != 0, "a second InitializePlugin is taken in");
        check(silentFor(kGetStatus, options_.silenceMs), "... and changes no status");
    }
    const std::int32_t defaultKind =
        e.defaultSet >= 1 && static_cast<std::size_t>(e.defaultSet) <= e.sets.size()
            ? e.sets[static_cast<std::size_t>(e.defaultSet - 1)].kind
            : 1;
    if (auto r = ask(kGetInformation, handleBytes(host_.hwnd())))
        expectBytes(*r, expectedInformation(defaultKind, e.productText, e.programPath),
                    "GetInformation");
    else
        check(false, "GetInformation", "no reply");
    if (auto r = ask(kGetCapabilities, handleBytes(host_.hwnd())))
        expectBytes(*r, expectedCapabilities(), "GetCapabilities");
    else
        check(false, "GetCapabilities", "no reply");
    const auto sets = static_cast<std::int32_t>(e.sets.size());
    if (auto r = ask(kGetSensorCount, handleBytes(host_.hwnd())))
        expectBytes(*r, expectedSensorCount(sets + 1), "GetSensorCount: the sets and one more");
    else
        check(false, "GetSensorCount", "no reply");
    for (std::int32_t n = 0; n <= sets + 1; ++n) {
        Bytes want;
        const std::string desc = e.model + " / " + e.serial;
        if (n == 0) {
            want = expectedSensor(
                0, defaultKind,
                "(Default) " + e.sets[static_cast<std::size_t>(e.defaultSet - 1)].name, false,
                e.maker, desc);
        } else if (n <= sets) {
            const auto& s = e.sets[static_cast<std::size_t>(n - 1)];
            want = expectedSensor(n, s.kind, s.name, s.tool, e.maker, desc);
        } else {
            want = expectedSensor(n, 1, "Simulate capture", false, e.maker,
                                  e.model + " TEST IMAGE / " + e.serial);
        }
        const std::string what = "GetSensorInformation(" + std::to_string(n) + ")";
        if (auto r = ask(kGetSensorInformation, int32Bytes(n)))
            expectBytes(*r, want, what);
        else
            check(false, what, "no reply");
    }
    if (auto r = ask(kGetStatus, handleBytes(host_.hwnd())))
        expectBytes(*r, expectedStatus(16), "GetStatus answers Idle");
    else
        check(false, "GetStatus", "no reply");
    for (const char* text : {"LAN German", "LAN English"}) {
        const platform::LResult v = host_.send(plugin_, kSetSettings, settingsBlock(text));
        check(v != 0, std::string("SetSettings \"") + text + "\" is accepted");
        if (auto r = ask(kGetStatus, handleBytes(host_.hwnd())))
            expectBytes(*r, expectedStatus(16), "... and the plug-in still answers Idle");
        else
            check(false, "... and the plug-in still answers", "no reply");
    }
    {
        check(host_.send(plugin_, 9, handleBytes(host_.hwnd())) == 0,
              "an unknown command code is refused");
        HostCore stranger(host_.platform(), "Stranger");
        check(stranger.sendFrom(stranger.hwnd(), plugin_, kGetStatus,
                                handleBytes(stranger.hwnd())) == 0,
              "a command from another window than the host's is refused");
        Bytes eight = handleBytes(host_.hwnd());
        eight.resize(8, std::byte{0});
        check(host_.send(plugin_, kGetStatus, eight) != 0,
              "GetStatus with 8 bytes of data is taken in");
        check(silentFor(kGetStatus, options_.silenceMs), "... but not answered");
    }
    {
        // A second copy ends on its own, quietly, and the first one keeps working.
        const Hwnd first = plugin_;
        const std::size_t from = host_.received().size();
        launcher_.start("");
        int code = -1;
        const bool ended = waitExit(15000, code);
        check(ended && code == 0, "a second instance ends by itself with exit code 0",
              ended ? "exit code " + std::to_string(code) : "still running");
        bool announced = false;
        for (std::size_t i = from; i < host_.received().size(); ++i)
            announced = announced || host_.received()[i].code == kAnnouncement;
        check(!announced, "... without announcing itself");
        if (!ended) launcher_.kill();
        plugin_ = first;
        if (auto r = ask(kGetStatus, handleBytes(host_.hwnd())))
            expectBytes(*r, expectedStatus(16), "the first instance still answers");
        else
            check(false, "the first instance still answers", "no reply");
    }
    shutdown();
    return failures_;
}

int Scenario::testMode() {
    if (!startPlugin("/test")) return failures_;
    platform::WindowSystem& w = host_.platform().windows();
    const std::string caption = w.windowText(plugin_);
    const std::string suffix = " [Testmode]";
    check(caption.size() >= suffix.size() &&
              caption.compare(caption.size() - suffix.size(), suffix.size(), suffix) == 0,
          "in test mode the caption ends with \" [Testmode]\"", "caption \"" + caption + "\"");
    const std::size_t from = host_.received().size();
    check(host_.sendHandleCommand(plugin_, kInitializePlugin) != 0, "InitializePlugin");
    check(host_.waitFor(kGetStatus, from, options_.replyTimeoutMs) >= 0, "... reports a status");
    // Shown once loading has finished, which is after the announcement.
    check(w.isVisible(plugin_), "in test mode the main window is visible");
    if (options_.screenshot) options_.screenshot("testmode-english", plugin_);
    check(host_.send(plugin_, kSetSettings, settingsBlock("LAN German")) != 0,
          "SetSettings \"LAN German\"");
    if (auto r = ask(kGetStatus, handleBytes(host_.hwnd()))) {
        expectBytes(*r, expectedStatus(16), "... and the plug-in still answers Idle");
    } else {
        check(false, "... and the plug-in still answers", "no reply");
    }
    if (options_.screenshot) options_.screenshot("testmode-german", plugin_);
    shutdown();
    return failures_;
}

int Scenario::watchdog() {
    // The plug-in is initialised by a host window of its own, which then goes away while this
    // host keeps watching the process.
    HostCore doomed(host_.platform(), "Vanishing host");
    doomed.waiter = host_.waiter;
    if (!startPlugin("")) return failures_;
    const std::size_t from = doomed.received().size();
    check(doomed.sendHandleCommand(plugin_, kInitializePlugin) != 0,
          "InitializePlugin from the host that will vanish");
    check(doomed.waitFor(kGetStatus, from, options_.replyTimeoutMs) >= 0, "... reports Idle");
    // The plug-in's windows go into this host's lasting window, not into the one that vanishes
    // (they would go with it).
    check(doomed.send(
              plugin_, kSetSettings,
              settingsBlock("PHW " + std::to_string(platform::handleToRecord(host_.hwnd())))) != 0,
          "PHW: the plug-in's windows into the lasting host window");
    // Commands are worked off in order: once a status comes back, the PHW has been taken.
    const std::size_t afterPhw = doomed.received().size();
    check(doomed.send(plugin_, kGetStatus, handleBytes(doomed.hwnd())) != 0 &&
              doomed.waitFor(kGetStatus, afterPhw, options_.replyTimeoutMs) >= 0,
          "... and a status after it");
    host_.platform().windows().destroyWindow(doomed.hwnd());
    const std::uint32_t gone = host_.platform().clock().tickCount();
    int code = -1;
    const bool ended = waitExit(60000, code);
    const std::uint32_t after = host_.platform().clock().tickCount() - gone;
    out_("# the plug-in ended " + std::to_string(after) + " ms after its host went away");
    check(ended && code == 0, "the plug-in ends by itself with exit code 0",
          ended ? "exit code " + std::to_string(code) : "still running after 60 s");
    // The second tick that misses the host comes 20 to 40 seconds after it went away; ending
    // the process and noticing that here take a moment more on a busy machine.
    check(ended && after >= 19000 && after <= 45000,
          "... between 20 and 40 seconds after its host went away",
          "after " + std::to_string(after) + " ms");
    if (!ended) launcher_.kill();
    return failures_;
}

}  // namespace quilo::testhost
