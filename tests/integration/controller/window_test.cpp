// The main form's own user interface: status display, the window's Close command and the
// pop-up menu.
#include "plugin_world.h"

namespace quilo::test {
namespace {

using Window = PluginWorld;
constexpr platform::WParam kScClose = 0xF060;

// The status display follows the status; the pop-up menu stops the capture and ends the
// process.
TEST_F(Window, StatusDisplayFollowsTheStatusAndThePopupMenuStopsAndEnds) {
    ASSERT_TRUE(startPlugin("/TEST"));
    initialize();
    controller::frmMain& f = main();
    host::clsPlugin& p = *plugin->plugin();
    p.ExStatusCode(32, "Contacting hardware...");
    // The scan button is left as it was; an unknown status keeps the status line.
    EXPECT_EQ(statusView(f), "YellowCir 'Busy' scan1 menus000 'Contacting hardware...'");
    EXPECT_NE(f.txtLog.text().find("Contacting hardware..."), std::string::npos);
    p.ExStatusCode(64, "Scanner activated");  // the status line stays at 64
    EXPECT_EQ(statusView(f), "GreenCir 'Active' scan1 menus011 'Contacting hardware...'");
    p.StatusCode(0x8000);
    EXPECT_EQ(statusView(f), "BlackCir 'Error(undef)' scan1 menus000 'Contacting hardware...'");
    EXPECT_EQ(f.imgStatus.picture(), f.imgICONS.image("BlackCir"));
    p.StatusCode(16);
    EXPECT_EQ(statusView(f),
              "RedCir 'Idle' scan1 menus101 '" + plugin->language().LangText(2030) + "'");
    EXPECT_EQ(f.imgStatus.picture(), f.imgICONS.image("RedCir"));

    // The pop-up menu opens on a right click and on the context key.
    int shown = 0;
    forms::Menu* choice = nullptr;
    plugin->forms().headlessPopupChoice = [&](forms::Form&, forms::Menu& menu) {
        EXPECT_EQ(&menu, &main().mnuPopUp);
        ++shown;
        return choice;
    };
    EXPECT_TRUE(main().mouseDown(forms::mouse::kRight));
    EXPECT_TRUE(main().lblStatus.mouseDown(forms::mouse::kRight));
    EXPECT_TRUE(main().mouseDown(forms::mouse::kLeft));
    EXPECT_EQ(shown, 2);
    main().pressKey(93);
    EXPECT_EQ(shown, 3);

    // "Abort Capture" stops and reports Idle; "Exit" ends the process.
    plugin->plugin()->StatusCode(64);
    choice = &main().mnuCancelScan;
    main().mouseDown(forms::mouse::kRight);
    world.runUntilIdle();
    EXPECT_EQ(plugin->plugin()->StatusCode(), 16);
    choice = &main().mnuExit;
    const std::size_t from = host->received().size();
    main().mouseDown(forms::mouse::kRight);
    world.runUntilIdle();
    EXPECT_TRUE(plugin->ended());
    EXPECT_EQ(statusesSince(from), std::vector<std::int32_t>{0});
}

// Close hides the window of a plug-in at work; before the initialisation it ends the process.
// Other system commands are left alone.
TEST_F(Window, CloseHidesAWorkingPluginAndEndsAnUninitialisedOne) {
    for (const bool working : {true, false}) {
        SCOPED_TRACE(working);
        ASSERT_TRUE(startPlugin("/TEST"));
        if (working) initialize();
        platform::LResult result = 7;
        main().WmSysCommand(0xF020 /* minimise */, 0, result);
        EXPECT_EQ(result, 7);
        ASSERT_TRUE(main().visible());
        pluginProcess->windows().sendMessage(pluginWindow(), platform::wm::kSysCommand, kScClose,
                                             0);
        world.runUntilIdle();
        EXPECT_EQ(std::tuple(plugin->ended(), main().loaded(), main().visible()),
                  std::tuple(!working, working, false));
        if (working) {
            EXPECT_EQ(plugin->settings().settings().Visible, 0);
            EXPECT_FALSE(pluginProcess->windows().isTopmost(pluginWindow()));
            EXPECT_EQ(le32At(askHandle(testhost::kGetStatus), 4), 16);  // still at work
        }
        kill();
    }
}

TEST_F(Window, PlacementKeepsAPositionOnTheScreenAndCentresOneOffIt) {
    ASSERT_TRUE(startPlugin());
    controller::frmMain& f = main();
    settings::PluginSettings& s = plugin->settings().settings();
    const int screenWidth = 1920 * 15, screenHeight = 1080 * 15;  // the world's one monitor
    s.Left = 3000;
    s.Top = screenHeight;  // the bottom edge still counts as on the screen
    f.PlaceMainForm();
    EXPECT_EQ(std::pair(f.left(), f.top()), std::pair(3000, screenHeight));
    s.Left = -1;
    s.Top = screenHeight + 1;
    f.PlaceMainForm();
    EXPECT_EQ(std::pair(f.left(), f.top()),
              std::pair((screenWidth - f.width()) / 2, (screenHeight - f.height()) / 2));
    EXPECT_FALSE(f.visible());
    s.Visible = 1;
    f.PlaceMainForm();
    EXPECT_TRUE(f.visible());
}

}  // namespace
}  // namespace quilo::test
