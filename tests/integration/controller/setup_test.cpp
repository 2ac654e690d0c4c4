// The setup cycle: the setup dialog's load state and click rules, OK and Cancel, what doSetup
// saves and tells the host, the two advanced dialogs' entry rules, and the About box.
#include <filesystem>
#include <functional>

#include "plugin_world.h"
#include "settings/dialogs/frm_advanced.h"
#include "settings/dialogs/frm_setup.h"
#include "support/numbered_captions.h"
#include "ui/frm_about.h"

namespace quilo::test {
namespace {

using settings::frmSetup;

class Setup : public PluginWorld {
  protected:
    settings::PluginSettings& options() { return plugin->settings().settings(); }
    // Opens the setup dialog from the main form and runs `whileOpen` on it once it is up; a
    // dialog still open afterwards is cancelled.
    void openSetup(const std::function<void(frmSetup&)>& whileOpen) {
        world.after(5, [this, whileOpen] {
            auto* f = dynamic_cast<frmSetup*>(plugin->forms().find("frmSetup"));
            ASSERT_NE(f, nullptr);
            whileOpen(*f);
            if (plugin->forms().find("frmSetup") == f && f->visible()) f->CancelButton.click();
        });
        main().doSetup();
    }
    std::string machineValue(const std::string& section, const std::string& name) {
        platform::RegValue v;
        if (pluginProcess->registry().queryValue(
                platform::RegRoot::LocalMachine,
                plugin->settings().names().RegistryBase + "\\" + section, name, 100, v) != 0)
            return "<absent>";
        return std::string(reinterpret_cast<const char*>(v.data.data()), v.data.size() - 1);
    }
};

// The enhancement, preview and depth controls as one line, for tables of states.
std::string state(frmSetup& f) {
    auto box = [](const forms::CheckBox& c) {
        return std::to_string(c.value()) + (c.enabled() ? "" : "-");
    };
    auto on = [](const forms::Control& c) { return c.enabled() ? "1" : "0"; };
    return "kv" + box(f.chkKVEnhancement) + " alt" + box(f.chkEnhancement) + " std" +
           box(f.chkOptimize) + " adv" + on(f.cmdAdvanced) + on(f.cmdLeadAdvanced) + " save" +
           on(f.chkSaveCopy) + on(f.lnkKVEnhancement) + " | imp" + box(f.chkNoPreview) + " prev" +
           box(f.chkPreview) + " close" + box(f.chkClose) + " mode" +
           std::to_string(f.previewMode()) + " | depth" + std::to_string(f.cboDepth.listIndex());
}

TEST_F(Setup, LoadShowsTheSettings) {
    struct Row {
        std::int16_t noPreview, closeDone;
        std::int32_t enhancement;
        std::int16_t depth;
        const char* expected;
    };
    const Row rows[] = {
        {0, 1, 0, 16, "kv0 alt0 std0 adv00 save11 | imp0 prev0- close0- mode0 | depth0"},
        {1, 1, 1, 12, "kv0 alt1 std0 adv01 save11 | imp1 prev0 close0- mode1 | depth1"},
        {2, 1, 2, 8, "kv0 alt0 std1 adv10 save11 | imp1 prev1 close1 mode2 | depth2"},
        {2, 0, 3, 10, "kv1 alt0 std0 adv00 save11 | imp1 prev1 close0 mode2 | depth0"},
        {0, 0, 7, 8, "kv0 alt0 std0 adv00 save11 | imp0 prev0- close0- mode0 | depth2"},
    };
    ASSERT_TRUE(startPlugin());
    for (const Row& r : rows) {
        options().NoPreview = r.noPreview;
        options().CloseDone = r.closeDone;
        options().ImageEnhancement = r.enhancement;
        options().BitDepth = r.depth;
        openSetup([&](frmSetup& f) {
            EXPECT_EQ(state(f), r.expected) << r.noPreview << "/" << r.enhancement;
            const std::string& model = plugin->sensors().ScannerModel;
            EXPECT_EQ(std::tuple(f.caption(), f.lstParams.listCount(), f.lstParams.list(1),
                                 f.lstParams.itemData(3), f.Text1.text().empty()),
                      std::tuple((model.empty() ? "Quilo" : model) + " Setup", 4,
                                 "Intraoral size 2 PERIO (#2)", 4, false));
        });
    }
}

TEST_F(Setup, ClickRules) {
    struct Step {
        const char* box;
        const char* expected;
    };
    const Step steps[] = {
        {"chkOptimize", "kv0 alt0 std1 adv10 save11 | imp0 prev0- close0- mode0"},
        {"chkEnhancement", "kv0 alt1 std0 adv01 save11 | imp0 prev0- close0- mode0"},
        {"chkKVEnhancement", "kv1 alt0 std0 adv00 save11 | imp0 prev0- close0- mode0"},
        {"chkKVEnhancement", "kv0 alt0 std0 adv00 save00 | imp0 prev0- close0- mode0"},
        {"chkEnhancement", "kv0 alt1 std0 adv01 save00 | imp0 prev0- close0- mode0"},
        {"chkNoPreview", "kv0 alt1 std0 adv01 save00 | imp1 prev0 close0- mode1"},
        {"chkPreview", "kv0 alt1 std0 adv01 save00 | imp1 prev1 close0 mode2"},
        // Clearing "Import at once" keeps the preview mark; checking it again gives mode 2.
        {"chkNoPreview", "kv0 alt1 std0 adv01 save00 | imp0 prev1- close0- mode0"},
        {"chkNoPreview", "kv0 alt1 std0 adv01 save00 | imp1 prev1 close0 mode2"},
        {"chkPreview", "kv0 alt1 std0 adv01 save00 | imp1 prev0 close0- mode1"},
    };
    ASSERT_TRUE(startPlugin());
    options().ImageEnhancement = 0;
    openSetup([&](frmSetup& f) {
        for (const Step& s : steps) {
            ASSERT_TRUE(f.control(s.box)->click()) << s.box;
            const std::string now = state(f);
            EXPECT_EQ(now.substr(0, now.find(" | depth")), s.expected);
        }
    });
}

TEST_F(Setup, OkClosesAndStopsOnlyForScannerChanges) {
    namespace fs = std::filesystem;
    const std::string otherIni = std::string(kProgramFolder) + "\\Other.ini";
    fs::copy_file(world.nativePath(std::string(kProgramFolder) + "\\OrvaneEx.ini"),
                  world.nativePath(otherIni));
    struct Row {
        const char* what;
        std::function<void(frmSetup&)> change;
        bool closed, stopped, iniSet;
    };
    const Row rows[] = {
        {"depth", [](frmSetup& f) { f.cboDepth.selectItem(1); }, false, false, false},
        {"preview", [](frmSetup& f) { f.chkNoPreview.click(); }, true, true, false},
        {"ini", [&](frmSetup& f) { f.Text1.typeText(otherIni); }, true, true, true},
    };
    for (const Row& r : rows) {
        ASSERT_TRUE(startPlugin()) << r.what;
        const std::string iniBefore = library->device().iniPath();
        bool openDuring = false;
        openSetup([&](frmSetup& f) {
            r.change(f);
            ASSERT_TRUE(f.OKButton.click());
            EXPECT_TRUE(f.pressedOK());
            EXPECT_FALSE(f.visible());
            openDuring = plugin->sensors().HardwareInitialized;
        });
        EXPECT_EQ(openDuring, !r.closed) << r.what;
        EXPECT_EQ(main().stopRequested(), r.stopped) << r.what;
        EXPECT_EQ(library->device().iniPath() != iniBefore, r.iniSet) << r.what;
        kill();
    }
}

TEST_F(Setup, OkRefusesWithoutParameterSetOrIniFile) {
    closeDialogs = true;
    ASSERT_TRUE(startPlugin());
    openSetup([&](frmSetup& f) {
        for (int i = 0; i < f.lstParams.listCount(); ++i)
            f.lstParams.setSelected(i, false);
        ASSERT_TRUE(f.OKButton.click());
        ASSERT_FALSE(pluginProcess->messageBoxes().empty());
        EXPECT_EQ(pluginProcess->messageBoxes().back().text,
                  "Please make sure you have at least one scan parameter checked to show on "
                  "toolbar.");
        EXPECT_TRUE(f.visible());
        f.lstParams.setSelected(2, true);
        f.Text1.typeText("C:\\nowhere\\missing.ini");
        ASSERT_TRUE(f.OKButton.click());
        EXPECT_EQ(dialogs,
                  (std::vector<std::string>{"INI-file not found. Please enter a valid filename"}));
        EXPECT_EQ(std::tuple(f.visible(), f.pressedOK(), f.mousePointer()),
                  std::tuple(true, false, forms::pointer::kDefault));
    });
    EXPECT_TRUE(plugin->sensors().HardwareInitialized);  // ready at open: Cancel leaves it open
    EXPECT_EQ(machineValue("Options", "BitDepth"), "<absent>");
}

// The host's commands are worked off while the dialog is open; OK saves and sends the
// capabilities again.
TEST_F(Setup, HostCommandsAreWorkedOffWhileOpenAndOkSavesAndSendsTheCapabilitiesAgain) {
    ASSERT_TRUE(startPlugin());
    initialize();
    const std::size_t from = host->received().size();
    std::size_t whileOpen = 0;
    world.after(1, [&] {
        ASSERT_NE(plugin->forms().find("frmSetup"), nullptr);
        whileOpen = host->received().size();
        host->send(pluginWindow(), testhost::kGetStatus, testhost::handleBytes(host->hwnd()));
        host->send(pluginWindow(), testhost::kStopCapture, testhost::handleBytes(host->hwnd()));
    });
    openSetup([&](frmSetup& f) {
        EXPECT_FALSE(statusesSince(whileOpen).empty());
        EXPECT_TRUE(main().stopRequested());
        f.cboDepth.selectItem(1);
        f.lstParams.setSelected(2, true);
        f.chkSaveCopy.setValue(0);
        f.chkVerbose.click();
        ASSERT_TRUE(f.OKButton.click());
    });
    EXPECT_EQ(
        (std::vector{machineValue("Options", "BitDepth"), machineValue("Options", "SavePreview"),
                     machineValue("Devices", "Panoramic 15x30_AsTool"),
                     machineValue("Devices", "Cephalometric 24x30_AsTool")}),
        (std::vector<std::string>{"12", "0", "1", "0"}));
    EXPECT_EQ(std::pair(int{options().BitDepth}, int{options().Verbose}), std::pair(12, 1));
    std::vector<std::string> statuses;
    bool capabilities = false;
    for (std::size_t i = from; i < host->received().size(); ++i) {
        const auto& m = host->received()[i];
        if (m.code == testhost::kGetStatus && m.data.size() == 12)
            statuses.push_back(testhost::decodeRecord(m.code, m.data));
        capabilities = capabilities || m.code == testhost::kGetCapabilities;
    }
    EXPECT_TRUE(capabilities);
    ASSERT_GE(statuses.size(), 2u);
    // The dialog-active flag while it is open.
    EXPECT_EQ(statuses.front(), "GetStatus(6) 12 bytes: status=16 Idle dialog=-1");
    EXPECT_EQ(statuses.back(), "GetStatus(6) 12 bytes: status=16 Idle dialog=0");
    EXPECT_EQ(plugin->forms().find("frmSetup"), nullptr);
}

// --- the advanced dialogs' entry rules ------------------------------------------------------

TEST(AdvancedEntries, StandardLimits) {
    const std::pair<const char*, std::optional<std::int32_t>> rows[] = {
        {"2.5", 25000},       {".5", 5000},          {"40", 400000}, {"40.1", std::nullopt},
        {"41", std::nullopt}, {"", std::nullopt},    {"3,5", 35000}, {" 0 ", 0},
        {"-1", std::nullopt}, {"abc", std::nullopt}, {"2.", 20000}};
    for (const auto& [text, want] : rows)
        EXPECT_EQ(settings::parseLimit(text), want) << text;
    EXPECT_EQ((std::vector{settings::percentText(25000, 10000), settings::percentText(5000, 10000),
                           settings::percentText(0, 10000), settings::percentText(400000, 10000),
                           settings::percentText(125, 10)}),
              (std::vector<std::string>{"2.5", ".5", ".0", "40.0", "12.5"}));
}

TEST(AdvancedEntries, AlternateCutoffsInBothLocales) {
    using Rows = std::vector<std::pair<const char*, std::optional<std::int32_t>>>;
    const Rows percent = {
        {"12.5", 125},        {"12,5", 125}, {"100", 1000}, {"100.1", std::nullopt},
        {"-1", std::nullopt}, {"0.05", 0},   {"0.15", 2}};
    const Rows absolute = {{"65535", 65535}, {"65536", std::nullopt}, {"300.5", 300},
                           {"301,5", 302},   {"", std::nullopt},      {"1.2.3", std::nullopt}};
    for (const char separator : {'.', ','}) {  // either locale reads both
        for (const auto& [text, want] : percent)
            EXPECT_EQ(settings::parseCutoff(text, true, separator), want) << text << separator;
        for (const auto& [text, want] : absolute)
            EXPECT_EQ(settings::parseCutoff(text, false, separator), want) << text << separator;
    }
}

TEST_F(Setup, AdvancedDialogsKeepBothPairsAndWriteOnlyOnOk) {
    sim::ProcessOptions commaLocale;
    commaLocale.decimalSeparator = ',';
    ASSERT_TRUE(startPlugin({}, commaLocale));
    options().IntraLeadCutoff = 1;
    options().IntraLeadLow = 125;
    options().IntraLeadLowAbs = 300;
    options().IntraLeadStretch = 0;
    settings::frmLeadSettings lead(plugin->forms(), plugin->settings(), plugin->language());
    lead.show();
    auto& intra = lead.type(0);
    EXPECT_EQ(std::tuple(intra.txtLow.text(), intra.lblUnitLow.caption(), intra.txtLow.enabled(),
                         intra.cmbCut.enabled(), intra.cboNR.listCount(), intra.cboNR.list(15)),
              std::tuple("12.5", "%", false, false, 16, "15 (16x16)"));
    ASSERT_TRUE(intra.chkHisto.click());
    ASSERT_TRUE(intra.cmbCut.selectItem(0));
    EXPECT_EQ(std::tuple(intra.txtLow.text(), intra.lblUnitUpp.caption()),
              std::tuple("300", "(0-65535)"));
    ASSERT_TRUE(intra.cmbCut.selectItem(1));
    EXPECT_EQ(intra.txtLow.text(), "12.5");  // the percent pair, unchanged
    ASSERT_TRUE(intra.txtLow.setFocus());
    intra.txtLow.typeText("100,1");
    EXPECT_FALSE(lead.Command1.click());
    EXPECT_TRUE(lead.loaded());
    EXPECT_EQ(pluginProcess->messageBoxes().back().text, plugin->language().LangText(3720));
    EXPECT_TRUE(intra.txtLow.hasFocus());
    intra.txtLow.typeText("7.5");
    ASSERT_TRUE(lead.Command1.click());
    EXPECT_FALSE(lead.loaded());
    EXPECT_EQ(
        std::tuple(options().IntraLeadLow, options().IntraLeadLowAbs, options().IntraLeadStretch),
        std::tuple(75, 300, 1));

    settings::frmSettings standard(plugin->forms(), plugin->settings(), plugin->language());
    standard.show();
    auto& pano = standard.type(1);
    EXPECT_EQ(pano.cboMapping.list(1), plugin->language().LangText(3540));
    ASSERT_TRUE(pano.txtUpp.setFocus());
    pano.txtUpp.typeText("3,5");
    ASSERT_TRUE(standard.Command2.click());  // Cancel: no validation, nothing written
    EXPECT_EQ(options().PanoLimitHigh, 100000);
}

// Every word of the four dialogs comes from the language file. The hidden menu's own caption is
// never shown; the About box's version and copyright lines are data.
TEST_F(Setup, EveryCaptionIsANumberedText) {
    ASSERT_TRUE(startPlugin());
    plugin->language().setTranslatorMode(true);
    plugin->language().Initlanguage("English");
    openSetup([](frmSetup& f) {
        expectNumberedCaptions(f, {"mnuPopup"});
        EXPECT_EQ(f.cboDepth.list(0), "3170* 16-bit");
    });
    settings::frmSettings standard(plugin->forms(), plugin->settings(), plugin->language());
    standard.show();
    expectNumberedCaptions(standard);
    standard.Command2.click();
    settings::frmLeadSettings lead(plugin->forms(), plugin->settings(), plugin->language());
    lead.show();
    expectNumberedCaptions(lead);
    EXPECT_EQ(lead.type(0).cboNR.list(0), "3740* None");
    lead.Command2.click();
    ui::frmAbout about(plugin->forms(), plugin->language(), {"Q2", "Kelvora AB", "2.1", "SN-1"});
    about.show();
    expectNumberedCaptions(about, {"lblVersion", "lblDescription"});
}

// --- the About box ------------------------------------------------------------------------

// Without the system information program in the registry the About box says so; with it, the
// program is started.
TEST_F(Setup, AboutBoxTextsAndSystemInformation) {
    ASSERT_TRUE(startPlugin());
    for (const char* serial : {"", "SN-0042"}) {
        ui::frmAbout about(plugin->forms(), plugin->language(),
                           {"Q2", "Kelvora AB", "2.1.7", serial});
        about.show();
        EXPECT_EQ(std::tuple(about.caption(), about.lblTitle.caption(), about.lblVersion.caption(),
                             about.lblDescription.caption()),
                  std::tuple("About Q2 Plugin", "Q2 Plugin", "Version 1.0.0",
                             "Copyright \u00A9 2002-2026 Kelvora AB"));
        EXPECT_EQ(about.lbl_DLLInfo.caption(),
                  std::string("Hardware DLL version: (Orvane.dll)\r\n  2.1.7") +
                      (*serial ? "\r\n\r\nHardware serial number: \r\n  SN-0042" : ""));
        about.StartSysInfo();
        EXPECT_EQ(pluginProcess->messageBoxes().back().text,
                  "System Information Is Unavailable At This Time");
    }
    pluginProcess->registry().setValue(
        platform::RegRoot::LocalMachine, "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH",
        platform::RegType::Sz, platform::regSzBytes("C:\\Tools\\msinfo32.exe"));
    ui::frmAbout about(plugin->forms(), plugin->language(), {});
    about.show();
    about.StartSysInfo();
    ASSERT_FALSE(pluginProcess->startedPrograms().empty());
    EXPECT_EQ(pluginProcess->startedPrograms().back(), "C:\\Tools\\msinfo32.exe");
}

}  // namespace
}  // namespace quilo::test
