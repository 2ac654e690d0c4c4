// A simulated world with three processes: a trace viewer holding the reading end of the trace
// mailslot, the plug-in (a main window hooked by clsPlugin) and a scripted host window that
// speaks the protocol with real WM_COPYDATA messages.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "host/plugin.h"
#include "host/xray_ifc.h"
#include "platform/sim/world.h"
#include "support/bytes.h"
#include "support/recording_window.h"
#include "test-host/scenario.h"
#include "trace/trace.h"
#include "viewer.h"

namespace quilo::test {

using platform::Hwnd;
using platform::LParam;
using platform::LResult;
using platform::MsgId;
using platform::WParam;

struct CopyDataSeen {
    Hwnd from = 0;
    std::int32_t code = 0;
    std::vector<std::byte> data;
    bool operator==(const CopyDataSeen&) const = default;
};

// Records every event of the endpoint in order and lets a test play the controller.
class EventRecorder final : public host::PluginEvents {
  public:
    explicit EventRecorder(std::vector<std::string>& timeline) : timeline_(timeline) {}
    void EnumeratePlugins(std::int32_t& c) override { log("EnumeratePlugins", c); }
    void RegisterPlugin(std::int32_t& c) override { log("RegisterPlugin", c); }
    void InitializePlugin(std::int32_t& c) override { log("InitializePlugin", c); }
    void ShutdownPlugin(std::int32_t& c, std::int32_t& s) override {
        log("ShutdownPlugin", c, s);
        if (shutdownNewStatus) s = *shutdownNewStatus;
    }
    void GetInformation(std::int32_t& c, host::InformationRecord& r) override {
        log("GetInformation", c);
        r = information;
    }
    void GetCapabilities(std::int32_t& c, host::CapabilitiesRecord& r) override {
        log("GetCapabilities", c);
        r = capabilities;
    }
    void GetStatus(std::int32_t& c) override { log("GetStatus", c); }
    void GetSensorCount(std::int32_t& c, host::SensorCountRecord& r) override {
        log("GetSensorCount", c);
        r = sensorCount;
    }
    void GetsensorInformation(std::int32_t& c, std::int32_t& n,
                              host::SensorInfoRecord& r) override {
        log("GetsensorInformation", c, n);
        r = sensorInformation;
    }
    void ActivateSetup(std::int32_t& c) override {
        log("ActivateSetup", c);
        if (onActivateSetup) onActivateSetup();
    }
    void GetSettings(std::int32_t& c) override { log("GetSettings", c); }
    void SetSettingsAsString(std::int32_t& c, std::string& s) override {
        log("SetSettingsAsString", c);
        settings.push_back(s);
    }
    void ActivateCapture(std::int32_t& c, std::int32_t& n, std::int32_t& s) override {
        log("ActivateCapture", c, n, s);
        if (activateNewStatus) s = *activateNewStatus;
    }
    void ImageStored(std::int32_t& c, std::int32_t id) override { log("ImageStored", c, id); }
    void StopCapture(std::int32_t& c, std::int32_t& s) override {
        log("StopCapture", c, s);
        if (stopNewStatus) s = *stopNewStatus;
    }
    void HookedMessage(MsgId m, WParam w, LParam l, LResult& r) override {
        log("HookedMessage", m, w, l);
        r = hookedResult;
    }
    void WmSysCommand(WParam w, LParam l, LResult&) override { log("WmSysCommand", w, l); }
    void StatusChange(std::int32_t& code, bool& dlg, std::string& info) override {
        timeline_.push_back("event:StatusChange(" + std::to_string(code) + "," +
                            (dlg ? "dlg" : "-") + ",'" + info + "')");
        if (onStatusChange) onStatusChange(code, dlg, info);
    }
    void TraceEvt(std::string& msg) override { traceEvents.push_back(msg); }

    std::optional<std::int32_t> shutdownNewStatus, activateNewStatus, stopNewStatus;
    // The records the handlers leave for the endpoint to send.
    host::InformationRecord information;
    host::CapabilitiesRecord capabilities;
    host::SensorCountRecord sensorCount;
    host::SensorInfoRecord sensorInformation;
    std::function<void()> onActivateSetup;
    std::function<void(std::int32_t&, bool&, std::string&)> onStatusChange;
    LResult hookedResult = 0;
    std::vector<std::string> settings;
    std::vector<std::string> traceEvents;

  private:
    template <class... A>
    void log(const char* name, A... args) {
        std::string s = std::string("event:") + name + "(";
        bool first = true;
        ((s += (first ? "" : ",") + std::to_string(args), first = false), ...);
        timeline_.push_back(s + ")");
    }
    std::vector<std::string>& timeline_;
};

class HostWorld : public ::testing::Test {
  protected:
    HostWorld()
        : viewerProc(world.createProcess(program("C:\\Tools\\TraceViewer.exe"))),
          plugin(world.createProcess()),
          hostProc(
              world.createProcess(program("C:\\Program Files\\Kelvora\\Kelvora.exe", "Kelvora"))),
          viewer(viewerProc.mailslots(), viewerProc.clock(), viewerProc.process(), {}),
          trace(plugin.mailslots(), plugin.clock(), plugin.process()),
          xray(plugin.windows(), plugin.memory(), trace),
          form(plugin.windows(), {.title = "Quilo Plugin"}),
          hostWin(hostProc.windows(), {.title = "Kelvora 3"}),
          events(timeline) {
        EXPECT_TRUE(viewer.open());
        EXPECT_TRUE(trace.TraceOpen(false));
        form.answer(platform::wm::kCopyData, 0);
        // The host answers WM_COPYDATA with hostAnswer; what it gets joins the timeline.
        hostWin.react([this](Hwnd, MsgId m, WParam, LParam l) -> std::optional<LResult> {
            if (m == platform::wm::kCopyData) {
                const auto code = static_cast<std::int32_t>(platform::copyDataOf(l).dwData);
                timeline.push_back("host:" + host::CommandName(code));
                return hostAnswer;
            }
            if (m != interfaceMsg) return std::nullopt;
            timeline.push_back("host:interface(" + std::to_string(l) + ")");
            return 0;
        });
        baseline = world.live();
        endpoint = std::make_unique<host::clsPlugin>(plugin, xray, trace);
        eventsLink = endpoint->attachEvents(events);
    }
    ~HostWorld() override {
        endpoint.reset();
        trace.TraceClose();
    }

    static sim::ProcessOptions program(const char* exePath, const char* title = nullptr) {
        sim::ProcessOptions o;
        o.exePath = exePath;
        if (title) o.version.title = title;
        return o;
    }

    std::int32_t hostLong() const { return platform::handleToRecord(hostHwnd); }

    // The host sends one command, as SendMessage with WM_COPYDATA from `from` (default: the
    // host window), and gets the plug-in's verdict.
    LResult send(std::int32_t code, std::vector<std::byte> data,
                 std::optional<Hwnd> from = std::nullopt) {
        platform::CopyData cd{static_cast<std::uintptr_t>(static_cast<std::uint32_t>(code)),
                              static_cast<std::uint32_t>(data.size()),
                              data.empty() ? nullptr : data.data()};
        return hostProc.windows().sendMessage(pluginHwnd, platform::wm::kCopyData,
                                              from.value_or(hostHwnd),
                                              reinterpret_cast<LParam>(&cd));
    }
    LResult sendHostCommand(std::int32_t code) { return send(code, le32(hostLong())); }
    // The same, and the plug-in works off what follows.
    LResult command(std::int32_t code, std::vector<std::byte> data) {
        const LResult verdict = send(code, std::move(data));
        world.runUntilIdle();
        return verdict;
    }
    LResult hostCommand(std::int32_t code) { return command(code, le32(hostLong())); }

    // Hooks the plug-in window and forgets the trace lines so far.
    void hook(bool announce = false) {
        endpoint->Hook(pluginHwnd, announce);
        takeTraces();
    }
    // Hooks, initialises, and forgets what that produced.
    void initialize() {
        hook();
        ASSERT_NE(hostCommand(host::cmd::kInitializePlugin), 0);
        ASSERT_TRUE(endpoint->Initialized());
        hostWin.log().clear();
        timeline.clear();
        takeTraces();
    }

    // The trace lines that arrived at the viewer since the last call, without their stamps.
    std::vector<std::string> takeTraces() {
        std::ostringstream out;
        viewer.poll(out);
        std::vector<std::string> lines;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);) {
            const auto close = line.find(']');
            EXPECT_EQ(line.front(), '[') << line;
            EXPECT_NE(close, std::string::npos) << line;
            lines.push_back(line.substr(close + 1));
        }
        return lines;
    }

    // The host window's WM_COPYDATA messages and interface messages, in order.
    std::vector<CopyDataSeen> received() const {
        std::vector<CopyDataSeen> out;
        for (const auto& m : hostWin.seen({platform::wm::kCopyData}))
            out.push_back({m.wParam, static_cast<std::int32_t>(m.copyCode), m.copyData});
        return out;
    }
    std::vector<SeenMessage> interfaceSeen() const { return hostWin.seen({interfaceMsg}); }
    // What received() holds when the plug-in has sent the host one record.
    std::vector<CopyDataSeen> onlyReply(std::int32_t code, std::vector<std::byte> data) const {
        return {{pluginHwnd, code, std::move(data)}};
    }

    sim::World world;
    sim::SimProcess& viewerProc;
    sim::SimProcess& plugin;
    sim::SimProcess& hostProc;
    tools::TraceViewer viewer;
    trace::Trace trace;
    host::XrayIfc xray;
    RecordingWindow form;  // the plug-in main window's own procedure
    std::vector<std::string> timeline;
    const MsgId interfaceMsg = hostProc.windows().registerWindowMessage("Kelvora2XrayInterface0");
    RecordingWindow hostWin;
    LResult hostAnswer = 1;
    EventRecorder events;
    Hwnd pluginHwnd = form.hwnd();
    Hwnd hostHwnd = hostWin.hwnd();
    sim::LiveCounts baseline;
    std::unique_ptr<host::clsPlugin> endpoint;
    Registration eventsLink;
};

}  // namespace quilo::test
