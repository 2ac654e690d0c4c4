// Start-up and shut-down of the plug-in process, as the host sees them and as the process
// leaves things behind.
#include "core/text.h"
#include "plugin_world.h"

namespace quilo::test {
namespace {

using Lifecycle = PluginWorld;

// "/TEST" in any letter case anywhere on the command line; the enhancement options are a modal
// form of the plug-in. ShutdownPlugin reports Un-Initialized and ends the process, taking every
// other form with it.
TEST_F(Lifecycle, TestModeThenShutdownKeepsThePlaceLogsTheEndAndLeavesNothing) {
    ASSERT_TRUE(startPlugin("-x /tEsT -y"));
    controller::frmMain& f = main();
    EXPECT_TRUE(f.visible());
    EXPECT_TRUE(f.caption().ends_with(" [Testmode]")) << f.caption();
    // Visible: the log box shows the start line on top.
    EXPECT_NE(f.txtLog.text().find("Plugin started --------------------------"), std::string::npos);
    world.advance(100000);  // the watchdog is idle in test mode
    EXPECT_EQ(f.hostWatchdogCount(), 0);
    // The enhancement options are a modal form of the plug-in.
    bool shown = false;
    world.after(10, [&] {
        forms::Form* options = plugin->forms().find("frmEnhancementOptions");
        ASSERT_NE(options, nullptr);
        shown = true;
        EXPECT_EQ(plugin->forms().modalForm(), options);
        EXPECT_EQ(options->caption(), "Enhancement options - Intraoral");
        options->unload(forms::UnloadMode::Code);
    });
    EXPECT_FALSE(plugin->enhancement()->showOptions("Intraoral", 0, pluginWindow(), true));
    EXPECT_TRUE(shown);
    initialize();
    f.move(3000, 1500, f.width(), f.height());
    const std::size_t from = host->received().size();
    {
        forms::Form stray(plugin->forms(), "frmStray");
        stray.load();
        ASSERT_NE(sendHandle(testhost::kShutdownPlugin), 0);
        EXPECT_FALSE(stray.loaded());
    }
    EXPECT_EQ(statusesSince(from), std::vector<std::int32_t>{0});
    ASSERT_TRUE(plugin->ended());
    EXPECT_EQ(std::tuple(plugin->exitCode(), f.loaded(), plugin->plugin(), plugin->enhancement()),
              std::tuple(0, false, nullptr, nullptr));
    EXPECT_EQ(std::pair(plugin->settings().settings().Left, plugin->settings().settings().Top),
              std::pair(3000, 1500));
    const std::string file = readLogFile();
    EXPECT_NE(file.find("Plugin started --------------------------"), std::string::npos);
    EXPECT_NE(file.find("Plugin closed --------------------------"), std::string::npos);
    // Nothing more reaches the host when the retired endpoint finally goes.
    plugin.reset();
    world.runUntilIdle();
    EXPECT_EQ(statusesSince(from), std::vector<std::int32_t>{0});
}

// The plug-in starts hidden, announced and uninitialised; its watchdog forgives a host that comes
// back and closes on the second tick without one.
TEST_F(Lifecycle, StartsHiddenThenTheWatchdogForgivesAHostAndClosesOnTheSecondTickWithoutOne) {
    ASSERT_TRUE(startPlugin());
    controller::frmMain& f = main();
    EXPECT_EQ(host->plugins(), std::vector<Hwnd>{f.hwnd()});
    EXPECT_FALSE(f.visible());
    // Caption from text 100 with the model's place taken by "Quilo" before the scanner opened.
    EXPECT_EQ(f.caption(), replaceAll(plugin->language().LangText(100), "XXX", "Quilo"));
    EXPECT_EQ(statusView(f), "StopSign 'Un-Initialized' scan0 menus001 '" +
                                 plugin->language().LangText(2020) + "' red");
    // Translated from the tags: the buttons carry the texts of 1020 and 1030.
    EXPECT_EQ(std::pair(f.cmdScan.caption(), f.Command1.caption()),
              std::pair(plugin->language().LangText(1020), plugin->language().LangText(1030)));
    EXPECT_FALSE(f.ActiveTimer.enabled());
    // Nothing of the scanner is touched before InitializePlugin.
    EXPECT_EQ(std::pair(plugin->sensors().Sensors.count(), plugin->sensors().HardwareInitialized),
              std::pair(std::size_t{0}, false));
    world.advance(20000);  // no host yet: the first tick counts 1
    EXPECT_EQ(main().hostWatchdogCount(), 1);
    // The host initialises through a window of its own that then goes away.
    testhost::HostCore doomed(*hostProcess, "Vanishing host");
    ASSERT_NE(doomed.sendHandleCommand(pluginWindow(), testhost::kInitializePlugin), 0);
    world.runUntilIdle();
    ASSERT_TRUE(plugin->plugin()->Initialized());
    // The plug-in's windows go into the lasting host window, so they stay when the other goes.
    ASSERT_NE(doomed.send(pluginWindow(), testhost::kSetSettings,
                          testhost::settingsBlock(
                              "PHW " + std::to_string(platform::handleToRecord(host->hwnd())))),
              0);
    world.runUntilIdle();
    ASSERT_EQ(pluginProcess->windows().getParent(plugin->applicationWindow()), host->hwnd());
    world.advance(20000);  // the tick at 40 s finds the host: forgiven
    EXPECT_EQ(main().hostWatchdogCount(), 0);
    hostProcess->windows().destroyWindow(doomed.hwnd());
    world.advance(20000);  // the tick at 60 s finds no host
    EXPECT_EQ(main().hostWatchdogCount(), 1);
    EXPECT_FALSE(plugin->ended());
    EXPECT_NE(main().lblStatus.caption().find(") : 0 0"), std::string::npos)
        << main().lblStatus.caption();
    world.advance(20000);
    EXPECT_EQ(std::pair(plugin->ended(), plugin->exitCode()), std::pair(true, 0));
}

TEST_F(Lifecycle, HostWindowDestroyedWithThePluginInsideEndsTheProcessCleanly) {
    ASSERT_TRUE(startPlugin("/TEST"));  // test mode: the log is written
    testhost::HostCore doomed(*hostProcess, "Vanishing host");
    ASSERT_NE(doomed.sendHandleCommand(pluginWindow(), testhost::kInitializePlugin), 0);
    world.runUntilIdle();
    ASSERT_TRUE(plugin->sensors().HardwareInitialized);
    const Hwnd app = plugin->applicationWindow();
    ASSERT_EQ(hostProcess->windows().getParent(app), doomed.hwnd());
    hostProcess->windows().destroyWindow(doomed.hwnd());
    world.runUntilIdle();
    // The main form went with the application window; the process does not linger.
    EXPECT_EQ(std::tuple(pluginProcess->windows().isWindow(app), plugin->ended(),
                         plugin->exitCode(), plugin->sensors().HardwareInitialized),
              std::tuple(false, true, 0, false));
    EXPECT_NE(readLogFile().find("Plugin closed"), std::string::npos);
}

TEST_F(Lifecycle, LoadErrorIsShownAndClosesTheProcess) {
    // Test mode writes the start line to the log file, which cannot be created.
    world.failAlways(sim::Fault::FileCreate);
    sim::ProcessOptions options;
    options.commandLine = "/TEST";
    pluginProcess = &world.createProcess(options);
    library = orvanesim::WorldLibrary::install(world, *pluginProcess);
    plugin = std::make_unique<controller::PluginProcess>(*pluginProcess);
    forms::Form* dialog = nullptr;
    plugin->forms().onFormLoad = [&](forms::Form& f) {
        if (f.name() == "frmDlgBox") dialog = &f;
    };
    EXPECT_TRUE(plugin->start());
    ASSERT_NE(dialog, nullptr);
    const std::string message = static_cast<ui::frmDlgBox*>(dialog)->msgLabel.caption();
    EXPECT_EQ(message.rfind("Error during frmMain.Load(), can't continue\r\nErrno:", 0), 0u)
        << message;
    EXPECT_NE(message.find("\r\nDescription:"), std::string::npos);
    EXPECT_FALSE(plugin->ended());  // the close is posted, not done inside the load
    world.runUntilIdle();
    world.failAlways(sim::Fault::FileCreate, false);
    EXPECT_EQ(std::tuple(plugin->ended(), main().loaded(), plugin->forms().isLoaded("frmDlgBox")),
              std::tuple(true, false, false));
}

}  // namespace
}  // namespace quilo::test
