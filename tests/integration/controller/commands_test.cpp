// The host commands the main form answers, driven through real WM_COPYDATA records. The
// records of a fresh installation, byte for byte, are the test host's lifecycle scenario
// (scenario_test.cpp); here what depends on the plug-in's state.
#include "plugin_world.h"

namespace quilo::test {
namespace {

using Commands = PluginWorld;
// The plug-in started and initialised by the host.
class Answers : public PluginWorld {
  protected:
    void SetUp() override {
        ASSERT_TRUE(startPlugin());
        initialize();
    }
};

TEST_F(Commands, CephalometricKindIsFourBeforeInitializeAndFiveAfter) {
    ASSERT_TRUE(startPlugin());
    plugin->sensors().CurrentParamSetNr() = 4;
    plugin->sensors().CurrentImageType() = scanner::kCephalometric;
    // Before InitializePlugin the endpoint refuses to answer, so the handler is asked directly.
    std::int32_t cmdNo = testhost::kGetInformation;
    host::InformationRecord before;
    main().GetInformation(cmdNo, before);
    EXPECT_EQ(before.get(host::InformationRecord::imageKind), 4);
    initialize();
    EXPECT_EQ(le32At(askHandle(testhost::kGetInformation), 4), 5);
    plugin->sensors().CurrentImageType() = scanner::kPanoramic;
    EXPECT_EQ(le32At(askHandle(testhost::kGetInformation), 4), 4);
}

TEST_F(Answers, DefaultEntryFollowsTheCurrentSetAndToolFlag) {
    plugin->sensors().CurrentParamSetNr() = 3;
    plugin->sensors().Sensors.find("K2")->bShowAsTool = true;
    const auto entry = [&](std::int32_t n) {
        return testhost::decodeRecord(
            testhost::kGetSensorInformation,
            ask(testhost::kGetSensorInformation, testhost::int32Bytes(n)));
    };
    const std::string head = "GetSensorInformation(31) 220 bytes: sensor=",
                      maker =
                          " value88=2 text=\"Stellan Inc.\" description=\"Quilo / QS-2026-0417\"";
    // The default entry is never a tool.
    EXPECT_EQ(entry(0), head + "0 kind=4 name=\"(Default) Panoramic 15x30\" tool=0" + maker);
    EXPECT_EQ(entry(2), head + "2 kind=1 name=\"Intraoral size 2 PERIO\" tool=-1" + maker);
}

TEST_F(Commands, LanguageSettingsInEitherLetterCase) {
    ASSERT_TRUE(startPlugin("/TEST"));
    initialize();
    const std::string englishStatus = main().lblStatus.caption();
    const std::string logBefore = main().txtLog.text();
    EXPECT_NE(setting("lan German"), 0);
    // The status line follows the language at once, and the status is not logged again.
    EXPECT_EQ(main().lblStatus.caption(), plugin->language().LangText(2030));
    EXPECT_EQ(main().lblStatus.foreColor(), forms::color::kSystemButtonText);
    EXPECT_EQ(main().txtLog.text(), logBefore);
    EXPECT_EQ(plugin->settings().names().Language, "German");
    // Visible: the controls are translated at once.
    EXPECT_EQ(main().Command1.caption(), "Testbild");
    EXPECT_NE(setting("TRA English"), 0);
    EXPECT_EQ(main().Command1.caption().rfind("1030", 0), 0u) << main().Command1.caption();
    EXPECT_NE(setting("LAN English"), 0);
    EXPECT_EQ(main().Command1.caption(), plugin->language().LangText(1030));
    EXPECT_EQ(main().lblStatus.caption(), englishStatus);
}

TEST_F(Answers, HiddenFormKeepsItsCaptionsParentWindowSettingAndOtherPrefixes) {
    const std::string before = main().Command1.caption();
    EXPECT_NE(setting("LAN German"), 0);
    EXPECT_EQ(plugin->language().LangText(1030), "Testbild");
    EXPECT_EQ(main().Command1.caption(), before);
    // The status line is drawn for the status, hidden or not: in the new language.
    EXPECT_EQ(main().lblStatus.caption(), plugin->language().LangText(2030));
    for (const auto& [text, parent] :
         {std::pair("PHW 0", 0u), {"PHW 4242.6xyz", 4243u}, {"PHW", 0u}}) {
        EXPECT_NE(setting(text), 0);
        EXPECT_EQ(main().hostParentWindow(), parent) << text;
    }
    EXPECT_NE(setting("XYZ English"), 0);
    EXPECT_NE(setting("LA"), 0);
    EXPECT_EQ(plugin->settings().names().Language, "German");
}

// The hidden application window owns the main form; a host takes it into its own window.
TEST_F(Commands, ApplicationWindowGoesIntoTheHostWindowAndBack) {
    ASSERT_TRUE(startPlugin());
    platform::WindowSystem& w = hostProcess->windows();
    const Hwnd app = plugin->applicationWindow();
    ASSERT_NE(app, 0u);
    EXPECT_EQ(w.getOwner(pluginWindow()), app);
    EXPECT_EQ(w.getParent(app), 0u);
    initialize();
    EXPECT_EQ(w.getParent(app), host->hwnd());
    // PHW 0 forgets the parent and moves nothing.
    EXPECT_NE(setting("PHW 0"), 0);
    EXPECT_EQ(w.getParent(app), host->hwnd());
    // Another window: the application window is first put back where it came from (top
    // level), so that is where a handle that is no window leaves it.
    testhost::HostCore other(*hostProcess, "Other host window");
    const auto phw = [&](Hwnd h) {
        return setting("PHW " + std::to_string(platform::handleToRecord(h)));
    };
    EXPECT_NE(phw(other.hwnd()), 0);
    EXPECT_EQ(w.getParent(app), other.hwnd());
    // A handle that is no window: put back, and left there.
    EXPECT_NE(phw(static_cast<Hwnd>(4242)), 0);
    EXPECT_EQ(w.getParent(app), 0u);
    // A second InitializePlugin takes it into the host's window again.
    EXPECT_NE(phw(other.hwnd()), 0);
    EXPECT_NE(sendHandle(testhost::kInitializePlugin), 0);
    EXPECT_EQ(w.getParent(app), other.hwnd());
    // The unload puts it back under its previous parent.
    EXPECT_NE(sendHandle(testhost::kShutdownPlugin), 0);
    ASSERT_TRUE(plugin->ended());
    EXPECT_TRUE(w.isWindow(app));
    EXPECT_EQ(w.getParent(app), 0u);
    plugin.reset();
    EXPECT_FALSE(w.isWindow(app));
}

}  // namespace
}  // namespace quilo::test
