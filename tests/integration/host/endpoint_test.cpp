// The endpoint in a simulated world: a host window sends real WM_COPYDATA commands to the
// hooked plug-in window; every reply is checked byte for byte and every trace line as the
// viewer reads it.
#include "host_world.h"

namespace quilo::test {
namespace {

using namespace host::cmd;
using Lines = std::vector<std::string>;

using Enumeration = HostWorld;

TEST_F(Enumeration, CreationHookAndAnnouncement) {
    EXPECT_EQ(takeTraces(), Lines{"clsPlugin: Class_Initialize:App:QuiloPlugin"});
    hook(true);
    // The announcement is a broadcast: the host sees the plug-in's window with lParam 1.
    world.runUntilIdle();
    ASSERT_EQ(interfaceSeen().size(), 1u);
    EXPECT_EQ(std::tuple(interfaceSeen()[0].wParam, interfaceSeen()[0].lParam),
              std::tuple(pluginHwnd, 1));
    // A second Hook does nothing.
    endpoint->Hook(hostHwnd, true);
    world.runUntilIdle();
    EXPECT_EQ(endpoint->HookedHWnd(), pluginHwnd);
    EXPECT_EQ(interfaceSeen().size(), 1u);
}

// Answered whether initialised or not; the own announcement coming back is passed on. From no
// window it is traced and passed on; other lParam values are not the endpoint's: passed on,
// nothing traced.
TEST_F(Enumeration, HostEnumerationRaisesBothEventsAndAnnouncesOnceAndOthersArePassedOn) {
    hook();
    const MsgId im = interfaceMsg;
    EXPECT_EQ(hostProc.windows().sendMessage(pluginHwnd, im, hostHwnd, 0), -1);
    world.runUntilIdle();
    EXPECT_EQ(timeline,
              (Lines{"event:EnumeratePlugins(0)", "event:RegisterPlugin(1)", "host:interface(1)"}));
    ASSERT_EQ(interfaceSeen().size(), 1u);
    EXPECT_EQ(interfaceSeen()[0].wParam, pluginHwnd);
    EXPECT_FALSE(endpoint->Initialized());
    EXPECT_NE(form.count(im), 0u);
    timeline.clear();
    EXPECT_EQ(hostProc.windows().sendMessage(pluginHwnd, im, 0x7777, 0), 0);
    world.runUntilIdle();
    EXPECT_TRUE(timeline.empty());
    EXPECT_EQ(interfaceSeen().size(), 1u);
    EXPECT_EQ(takeTraces(),
              Lines{"Error:clsPlugin:Invalid window handle, when received:EnumeratePlugIns(0)"});
    EXPECT_EQ(form.log().back().msg, im);  // went on to the window's own procedure
    form.log().clear();
    EXPECT_EQ(hostProc.windows().sendMessage(pluginHwnd, im, hostHwnd, 5), 0);
    EXPECT_EQ(form.order({}), std::vector<MsgId>{im});
    EXPECT_TRUE(takeTraces().empty());
}

using Initialize = HostWorld;

TEST_F(Initialize, ValidInitializeReportsIdleThenRaisesTheEventASecondIsTracedAndDropped) {
    hook();
    EXPECT_EQ(sendHostCommand(kInitializePlugin), -1);
    EXPECT_TRUE(timeline.empty());  // queued: nothing happens inside the host's call
    world.runUntilIdle();
    EXPECT_TRUE(endpoint->Initialized());
    EXPECT_EQ(timeline, (Lines{"event:StatusChange(16,-,'')", "host:GetStatus",
                               "event:InitializePlugin(2)"}));
    EXPECT_EQ(received(), onlyReply(6, testhost::expectedStatus(16)));
    EXPECT_EQ(takeTraces(), Lines{"XrayIfc:SendStatus(changed):Idle result=1"});
    // A second one is queued too, then traced and dropped.
    EXPECT_EQ(hostCommand(kInitializePlugin), -1);
    EXPECT_EQ(takeTraces(),
              Lines{"Error:clsPlugin:Already initialized, when received:InitializePlugin(2)"});
    EXPECT_EQ(std::pair(received().size(), timeline.size()),
              std::pair(std::size_t{1}, std::size_t{3}));
}

TEST_F(Initialize, InitializeWithoutAWindowIsRefusedAtOnce) {
    hook();
    const std::string refusal =
        "Error:clsPlugin:invalid window handle in: clsPlugin.InitializePlugin command";
    EXPECT_EQ(send(kInitializePlugin, le32(0x1234)), 0);                      // not a window
    EXPECT_EQ(send(kInitializePlugin, cat({le32(hostLong()), le32(0)})), 0);  // 8 bytes
    EXPECT_EQ(command(kInitializePlugin, {}), 0);
    EXPECT_EQ(takeTraces(), (Lines{refusal, refusal, refusal}));
    EXPECT_EQ(std::tuple(endpoint->Initialized(), endpoint->KV2hWnd(), received(), timeline),
              std::tuple(false, Hwnd{0}, std::vector<CopyDataSeen>{}, Lines{}));
    EXPECT_EQ(world.live(), baseline);
    // Status changes before it are raised but not sent.
    endpoint->ExStatusCode(32, "x");
    EXPECT_EQ(timeline, Lines{"event:StatusChange(32,-,'x')"});
    EXPECT_TRUE(received().empty());
}

TEST_F(Initialize, CommandsBeforeItFailBothWindowChecksOrAreDropped) {
    hook();
    const std::string window = "(" + std::to_string(hostLong()) + ")(window handle) ";
    EXPECT_EQ(hostCommand(kGetStatus), -1);
    EXPECT_EQ(takeTraces(), (Lines{"Error:clsPlugin:invalid wParam" + window + "GetStatus(6)",
                                   "Error:clsPlugininvalid lpData" + window + "GetStatus(6)"}));
    // Without a sender and without a window in the data both checks pass (the host window is
    // still 0), and the command is dropped for want of initialisation.
    EXPECT_EQ(send(kActivateCapture, le32(1)), -1);
    EXPECT_EQ(send(kGetSensorInformation, le32(1), Hwnd{0}), -1);
    world.runUntilIdle();
    EXPECT_EQ(takeTraces(),
              (Lines{"Error:clsPlugin:invalid wParam" + window + "ActivateCapture(20)",
                     "Error:clsPlugin:Not initialized, when received:GetSensorInformation(31)"}));
    EXPECT_TRUE(timeline.empty());
}

// The suites below start with the endpoint hooked and initialised by the host, and what that
// produced forgotten.
class Initialized : public HostWorld {
  protected:
    void SetUp() override { initialize(); }
};

using Replies = Initialized;

TEST_F(Replies, InformationIsSentAsTheHandlerLeftItWithSizeAndReservedFieldFixed) {
    host::InformationRecord& r = events.information;
    r.set(host::InformationRecord::size, 5);         // put right by the endpoint
    r.set(host::InformationRecord::reserved12, 77);  // cleared by the endpoint
    r.set(host::InformationRecord::imageKind, 1);
    r.set(host::InformationRecord::value8, 24);
    r.set(host::InformationRecord::productText, "Quilo Plugin ver: 1.0(.7)");
    r.set(host::InformationRecord::programPath, "C:\\Quilo\\QuiloPlugin.exe");
    EXPECT_EQ(hostCommand(kGetInformation), -1);
    EXPECT_EQ(timeline, (Lines{"event:GetInformation(4)", "host:GetInformation"}));
    EXPECT_EQ(received(),
              onlyReply(4, testhost::expectedInformation(1, "Quilo Plugin ver: 1.0(.7)",
                                                         "C:\\Quilo\\QuiloPlugin.exe")));
}

TEST_F(Replies, CapabilitiesSensorCountAndSensorInformation) {
    host::CapabilitiesRecord& c = events.capabilities;
    c.set(host::CapabilitiesRecord::flag8, true);
    c.set(host::CapabilitiesRecord::keepImages, true);
    c.set(host::CapabilitiesRecord::flag14, true);
    c.set(host::CapabilitiesRecord::flag16, true);
    events.sensorCount.set(host::SensorCountRecord::count, 3);
    host::SensorInfoRecord& r = events.sensorInformation;
    r.set(host::SensorInfoRecord::sensorNo, 2);
    r.set(host::SensorInfoRecord::imageKind, 5);
    r.set(host::SensorInfoRecord::name, "Ceph plate");
    r.set(host::SensorInfoRecord::showAsTool, true);
    r.set(host::SensorInfoRecord::value88, 2);
    r.set(host::SensorInfoRecord::text, "t");
    r.set(host::SensorInfoRecord::description, "24 x 30 cm");
    sendHostCommand(kGetCapabilities);
    sendHostCommand(kGetSensorCount);
    send(kGetSensorInformation, le32(2));  // the data is the sensor number, not a window
    world.runUntilIdle();
    EXPECT_EQ(timeline, (Lines{"event:GetCapabilities(5)", "host:GetCapabilities",
                               "event:GetSensorCount(30)", "host:GetSensorCount",
                               "event:GetsensorInformation(31,2)", "host:GetSensorInformation"}));
    EXPECT_EQ(received(),
              (std::vector<CopyDataSeen>{
                  {pluginHwnd, 5, testhost::expectedCapabilities()},
                  {pluginHwnd, 30, testhost::expectedSensorCount(3)},
                  {pluginHwnd, 31,
                   testhost::expectedSensor(2, 5, "Ceph plate", true, "t", "24 x 30 cm")}}));
    EXPECT_TRUE(endpoint->KeepImages());
    EXPECT_TRUE(takeTraces().empty());
}

TEST_F(Replies, GetStatusSendsTheShortOrTheExtendedRecordAndTracesAZeroAnswer) {
    hostCommand(kGetStatus);
    EXPECT_EQ(received(), onlyReply(6, testhost::expectedStatus(16)));
    EXPECT_TRUE(takeTraces().empty());  // unchanged: not traced again

    endpoint->ExStatusCode(32, "Contacting hardware...");
    hostWin.log().clear();
    takeTraces();
    hostAnswer = 0;
    hostCommand(kGetStatus);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0].data.size(), 256u);
    EXPECT_EQ(takeTraces(), Lines{"Error: clsPlugin.cmdGetStatus(), ExSendStatus failed."});

    endpoint->StatusCode(16);
    takeTraces();
    hostCommand(kGetStatus);
    EXPECT_EQ(takeTraces(), Lines{"Error: clsPlugin.cmdGetStatus(), SendStatus failed."});
}

using Refusals = Initialized;

TEST_F(Refusals, UnknownCodesWrongSizesAndWrongSenders) {
    EXPECT_EQ(send(9, le32(hostLong())), 0);
    EXPECT_EQ(send(21, {}), 0);
    EXPECT_EQ(send(-3, le32(0)), 0);
    // Wrong size: accepted into the ring, refused when taken out; no reply.
    EXPECT_EQ(send(kGetInformation, cat({le32(hostLong()), le32(0)})), -1);
    // Data that is not the host's window.
    EXPECT_EQ(command(kGetStatus, le32(hostLong() + 2)), -1);
    EXPECT_EQ(takeTraces(),
              (Lines{"Error:clsPlugin:Unknown command(dwData): 9 cbData=4",
                     "Error:clsPlugin:Unknown command(dwData): 21 cbData=0",
                     "Error:clsPlugin:Unknown command(dwData): -3 cbData=4",
                     "Error:clsPlugin:invalid data-size, GetInformation(4)",
                     "Error:clsPlugininvalid lpData(" + std::to_string(hostLong() + 2) +
                         ")(window handle) GetStatus(6)"}));
    EXPECT_TRUE(received().empty());
    EXPECT_TRUE(timeline.empty());

    // Another window than the host, once initialised: refused at once.
    platform::WindowSpec spec;
    const Hwnd stranger = hostProc.windows().createWindow(spec, nullptr);
    EXPECT_EQ(send(kGetStatus, le32(hostLong()), stranger), 0);
    EXPECT_EQ(takeTraces(), Lines{"Error:clsPlugin:invalid caller (wParam <> mvarKV2hWnd)"});
    EXPECT_EQ(events.traceEvents.back(), "Error:clsPlugin:invalid caller (wParam <> mvarKV2hWnd)");
    hostProc.windows().destroyWindow(stranger);
}

TEST_F(Refusals, ThirtyNineCommandsFillTheRingTheFortiethIsRefused) {
    for (int i = 0; i < 39; ++i)
        ASSERT_EQ(sendHostCommand(kGetSensorCount), -1) << i;
    EXPECT_EQ(sendHostCommand(kGetSensorCount), 0);
    EXPECT_EQ(takeTraces(), Lines{"Error:clsPlugin:Command FIFO full."});
    world.runUntilIdle();
    EXPECT_EQ(received().size(), 39u);
    EXPECT_TRUE(xray.fifo().empty());
    EXPECT_EQ(sendHostCommand(kGetSensorCount), -1);  // room again
    world.runUntilIdle();
    EXPECT_EQ(received().size(), 40u);
}

TEST_F(Refusals, AFailedPostLeavesTheCommandQueuedForTheNextPost) {
    world.failNth(sim::Fault::PostMessage);
    EXPECT_EQ(sendHostCommand(kGetInformation), -1);
    EXPECT_EQ(takeTraces(),
              Lines{"Error:clsPlugin:No: " + std::to_string(platform::err::kNotEnoughQuota) +
                    " when PostMessage."});
    world.runUntilIdle();
    EXPECT_TRUE(received().empty());
    EXPECT_EQ(hostCommand(kGetSensorCount), -1);
    ASSERT_EQ(received().size(), 1u);
    EXPECT_EQ(received()[0].code, kGetInformation);  // arrival order holds
    EXPECT_EQ(xray.fifo().count(), 1);
}

using Settings = Initialized;
using SettingsString = HostWorld;

TEST_F(Settings, TextsAreDeliveredBadBlocksTracedAndEveryCopyFreed) {
    const std::string long500(487, 'x');  // a 500-byte block
    EXPECT_EQ(send(kSetSettings, testhost::settingsBlock(long500)), -1);
    EXPECT_EQ(send(kSetSettings, testhost::settingsBlock("LAN=English")), -1);
    EXPECT_EQ(world.live().memoryBlocks, baseline.memoryBlocks + 2);  // two private copies
    // Stream settings, a text too long, 8 bytes (no header), 4 bytes (kept inline).
    send(kSetSettings, cat({le32(14), le16(1), le16(0), le32(2), text("x", 2)}));
    send(kSetSettings, cat({le32(14), le16(0), le16(0), le32(1025), text("y", 2)}));
    send(kSetSettings, cat({le32(12), le16(0), le16(0)}));
    send(kSetSettings, le32(hostLong()));
    world.runUntilIdle();
    EXPECT_EQ(
        takeTraces(),
        (Lines{"Error:clsPlugin:Stream-settings are unsupported when received:SetSettings(12)",
               "Error:clsPlugin:Retrieving string-settings when received:SetSettings(12)",
               "Error:clsPlugin:Retrieving settings when received:SetSettings(12)",
               "Error:clsPlugin:Retrieving settings when received:SetSettings(12)"}));
    EXPECT_EQ(events.settings, (Lines{long500, "LAN=English"}));
    EXPECT_EQ(world.live().memoryBlocks, baseline.memoryBlocks);
}

TEST_F(SettingsString, NeedsInitialisationThenAnswersGetSettings) {
    hook();
    EXPECT_EQ(endpoint->SendSettingsAsString("LAN=English"), 0);
    EXPECT_EQ(takeTraces(), Lines{"Error:clsPlugin:SendSettingsAsString :UN-initialized , when "
                                  "SendSetupH(.. was called."});
    endpoint->Unhook();
    initialize();
    hostAnswer = 42;
    EXPECT_EQ(endpoint->SendSettingsAsString("LAN=English"), 42);
    EXPECT_EQ(received(), onlyReply(11, testhost::settingsBlock("LAN=English")));
    EXPECT_EQ(world.live().memoryBlocks, baseline.memoryBlocks);

    world.failNth(sim::Fault::GlobalAlloc);
    EXPECT_EQ(endpoint->SendSettingsAsString("LAN=English"), 0);
    EXPECT_EQ(received().size(), 1u);
}

using Capture = Initialized;

TEST_F(Capture, ActivateAndStopSetTheirDefaultStatusUnlessTheHandlerKeepsIt) {
    command(kActivateCapture, le32(3));
    EXPECT_EQ(received().back().data, testhost::expectedStatus(64));
    events.stopNewStatus = -1;
    hostCommand(kStopCapture);
    EXPECT_EQ(endpoint->StatusCode(), 64);
    events.stopNewStatus.reset();
    hostCommand(kStopCapture);
    events.activateNewStatus = -1;
    command(kActivateCapture, le32(1));
    EXPECT_EQ(endpoint->StatusCode(), 16);
    EXPECT_EQ(timeline, (Lines{"event:ActivateCapture(20,3,64)", "event:StatusChange(64,-,'')",
                               "host:GetStatus", "event:StopCapture(23,16)",
                               "event:StopCapture(23,16)", "event:StatusChange(16,-,'')",
                               "host:GetStatus", "event:ActivateCapture(20,1,64)"}));
    EXPECT_EQ(takeTraces(), (Lines{"XrayIfc:SendStatus(changed):Active result=1",
                                   "XrayIfc:SendStatus(changed):Idle result=1"}));
}

TEST_F(Capture, ShutdownReportsUninitialisedAndForgetsTheHostUnlessRefused) {
    events.shutdownNewStatus = -1;
    hostCommand(kShutdownPlugin);
    EXPECT_EQ(std::tuple(endpoint->Initialized(), endpoint->KV2hWnd(), received().empty()),
              std::tuple(true, hostHwnd, true));

    events.shutdownNewStatus.reset();
    hostCommand(kShutdownPlugin);
    EXPECT_EQ(std::pair(endpoint->Initialized(), endpoint->KV2hWnd()), std::pair(false, Hwnd{0}));
    EXPECT_EQ(received(), onlyReply(6, testhost::expectedStatus(0)));
    // Initialising again works; a new host is accepted.
    EXPECT_EQ(hostCommand(kInitializePlugin), -1);
    EXPECT_TRUE(endpoint->Initialized());
}

using Status = Initialized;

TEST_F(Status, ExtendedStatusCarriesTheTextAndAPlainCodeEmptiesIt) {
    endpoint->ExStatusCode(32, "Contacting hardware...");
    ASSERT_EQ(received().size(), 1u);
    // The record's own layout is checked byte for byte with the records.
    host::ExStatusRecord ex;
    ex.set(host::ExStatusRecord::size, 256);
    ex.set(host::ExStatusRecord::statusCode, 32);
    ex.set(host::ExStatusRecord::infoText, u"Contacting hardware...");
    EXPECT_EQ(received()[0].data, std::vector<std::byte>(ex.bytes().begin(), ex.bytes().end()));
    EXPECT_EQ(endpoint->StatusInfoStr(), "Contacting hardware...");

    endpoint->StatusCode(16);
    EXPECT_EQ(endpoint->StatusInfoStr(), "");
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(received()[1].data, testhost::expectedStatus(16));
    // A status already sent is not traced again; the extended one is traced with its text.
    EXPECT_EQ(takeTraces(), Lines{"XrayIfc:ExSendStatus(changed):Busy 'Contacting hardware..." +
                                  std::string(100, ' ') + "' result=1"});
}

TEST_F(Status, OnlyChangesAreRaisedAndSentAndTheHandlerMayAdjustThem) {
    endpoint->StatusCode(16);  // unchanged
    endpoint->SetStatus(-1, true, "x");
    EXPECT_EQ(takeTraces(), Lines{"Error:clsPlugin:SetStatus:Me.DontChangeStatusCode"});
    EXPECT_TRUE(timeline.empty());
    EXPECT_EQ(endpoint->StatusCode(), 16);

    endpoint->SetupActive(true);
    EXPECT_EQ(received().back().data, testhost::expectedStatus(16, true));
    EXPECT_EQ(takeTraces(), Lines{"XrayIfc:SendStatus(changed):Idle(dlg) result=1"});
    endpoint->SetupActive(false);

    // What the StatusChange handler leaves is what the host gets.
    events.onStatusChange = [](std::int32_t& code, bool&, std::string&) { code = 0x8000; };
    hostWin.log().clear();
    endpoint->StatusCode(64);
    EXPECT_EQ(received(), onlyReply(6, testhost::expectedStatus(0x8000)));
    EXPECT_EQ(endpoint->StatusCode(), 0x8000);

    // A refused status message is traced.
    events.onStatusChange = nullptr;
    hostAnswer = 0;
    endpoint->StatusCode(16);
    EXPECT_EQ(takeTraces().back(), "Error: clsPlugin.SetStatus(), SendStatus failed.");
}

TEST_F(Status, SecondsLeftCountdown) {
    endpoint->ActiveSecondsLeft(-5);
    EXPECT_EQ(endpoint->ActiveSecondsLeft(), -1);
    EXPECT_EQ(received(), onlyReply(7, cat({le32(8), le32(-1)})));
    endpoint->ActiveSecondsLeft(-1);  // unchanged: nothing sent
    EXPECT_EQ(received().size(), 1u);
    // Traced: the last five seconds and a count after one <= 0; a failed send once, until one
    // succeeds again.
    const std::pair<std::int32_t, LResult> steps[] = {{30, 1}, {29, 1}, {5, 1}, {4, 0},
                                                      {3, 0},  {2, 1},  {1, 0}};
    for (const auto& [seconds, answer] : steps) {
        hostAnswer = answer;
        endpoint->ActiveSecondsLeft(seconds);
    }
    EXPECT_EQ(takeTraces(),
              (Lines{"clsPlugin.ActiveSecondsLeft.Let=-1", "clsPlugin.ActiveSecondsLeft.Let=30",
                     "clsPlugin.ActiveSecondsLeft.Let=5",
                     "Error: clsPlugin.ActiveSecondsLeft.Let, SendMessage failed.",
                     "clsPlugin.ActiveSecondsLeft.Let=2",
                     "Error: clsPlugin.ActiveSecondsLeft.Let, SendMessage failed."}));
}

using Window = HostWorld;

TEST_F(Window, ExtraMessagesSysCommandAndPassingOn) {
    hook();
    timeline.clear();
    form.log().clear();
    const std::int64_t ids[] = {0x8123, 0x8124};
    endpoint->HookMessages(ids);
    auto& w = hostProc.windows();
    events.hookedResult = 9;
    EXPECT_EQ(w.sendMessage(pluginHwnd, 0x8123, 1, 2), 9);
    EXPECT_EQ(w.sendMessage(pluginHwnd, 0x8124, 1, 2), 0);  // only the first id counts
    events.hookedResult = 0;
    EXPECT_EQ(w.sendMessage(pluginHwnd, 0x8123, 3, 4), 0);  // 0: on to the window's procedure
    EXPECT_EQ(w.sendMessage(pluginHwnd, platform::wm::kSysCommand, 0xF060, 0), 0);
    EXPECT_EQ(form.order({}), (std::vector<MsgId>{0x8124, 0x8123, platform::wm::kSysCommand}));
    endpoint->HookMessages({});
    w.sendMessage(pluginHwnd, 0x8123, 0, 0);  // no longer hooked: no event
    EXPECT_EQ(timeline, (Lines{"event:HookedMessage(33059,1,2)", "event:HookedMessage(33059,3,4)",
                               "event:WmSysCommand(61536,0)"}));

    // After Unhook the window's own procedure gets everything again.
    endpoint->Unhook();
    EXPECT_EQ(endpoint->HookedHWnd(), 0u);
    form.log().clear();
    EXPECT_EQ(sendHostCommand(kInitializePlugin), 0);
    EXPECT_EQ(form.order({}), std::vector<MsgId>{platform::wm::kCopyData});
    EXPECT_FALSE(endpoint->Initialized());
}

TEST_F(Window, CloseGoesToTheGivenWindowOrTheHookedOne) {
    hook();
    endpoint->WM_CLOSE(hostHwnd);
    world.runUntilIdle();
    EXPECT_EQ(static_cast<int>(hostWin.count(platform::wm::kClose)), 1);
    EXPECT_FALSE(hostProc.windows().isWindow(hostHwnd));
    endpoint->WM_CLOSE(0);
    world.runUntilIdle();
    EXPECT_NE(form.count(platform::wm::kClose), 0u);
}

TEST_F(Window, DestructionReportsUninitialisedUnhooksAndTraces) {
    initialize();
    sendHostCommand(kGetSensorCount);  // still queued when the endpoint goes
    endpoint->ActiveSecondsLeft(10);
    hostWin.log().clear();
    endpoint.reset();
    EXPECT_EQ(received(), onlyReply(6, testhost::expectedStatus(0)));
    EXPECT_EQ(takeTraces().back(), "clsPlugin: Class_Terminate");
    // The window works again without the endpoint; the queued post finds no one to act on it.
    form.log().clear();
    world.runUntilIdle();
    EXPECT_EQ(received().size(), 1u);
    EXPECT_EQ(form.log().size(), 1u);
}

struct RecordingDialogs final : host::DialogPort {
    void ShowDlg(std::string_view msg, const std::optional<std::string>& caption,
                 std::optional<std::int32_t> style, std::optional<bool> annoying) override {
        shown.push_back(std::string(msg) + "|" + caption.value_or("-") + "|" +
                        (style ? std::to_string(*style) : "-") + "|" +
                        (annoying ? (*annoying ? "annoying" : "calm") : "-"));
    }
    std::vector<std::string> shown;
};

TEST_F(Window, ShowDialogGoesToTheDialogPortWhileRegisteredOrFallsBackToAMessageBox) {
    hook();
    endpoint->ShowDialog("No scanner", std::nullopt, 1);
    ASSERT_EQ(plugin.messageBoxes().size(), 1u);
    EXPECT_EQ(plugin.messageBoxes()[0].text, "No scanner");
    EXPECT_EQ(plugin.messageBoxes()[0].caption, "QuiloPlugin");
    RecordingDialogs dialogs;
    Registration port = endpoint->attachDialogPort(dialogs);
    endpoint->ShowDialog("No scanner", "Quilo", 0, true);
    endpoint->ShowDialog("Plain");
    EXPECT_EQ(dialogs.shown, (Lines{"No scanner|Quilo|0|annoying", "Plain|-|-|-"}));
    EXPECT_EQ(plugin.messageBoxes().size(), 1u);
    port.reset();
    endpoint->ShowDialog("After");
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(plugin.messageBoxes().size(), 2u);
}

TEST_F(Window, CommandsArrivingInsideAModalHandlerAreWorkedOffInOrder) {
    initialize();
    bool done = false;
    events.onActivateSetup = [&] {
        // The setup dialog runs a modal loop; the host keeps sending meanwhile.
        world.after(10, [&] { sendHostCommand(kGetSensorCount); });
        world.after(20, [&] { sendHostCommand(kGetCapabilities); });
        world.after(30, [&] { done = true; });
        plugin.windows().runModalLoop([&] { return done; });
        timeline.push_back("setup closed");
    };
    hostCommand(kActivateSetup);
    EXPECT_EQ(timeline,
              (Lines{"event:ActivateSetup(10)", "event:GetSensorCount(30)", "host:GetSensorCount",
                     "event:GetCapabilities(5)", "host:GetCapabilities", "setup closed"}));
}

}  // namespace
}  // namespace quilo::test
