// The form model on the simulated Windows: loading, showing, modal loops, unloading, the
// collection of loaded forms, timers on the virtual clock and the routing of user input.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "forms/forms.h"
#include "platform/sim/world.h"
#include "support/errors.h"

namespace quilo::forms {
namespace {

namespace wm = platform::wm;

struct FormsTest : ::testing::Test {
    sim::World world;
    sim::SimProcess& proc = world.createProcess();
    Forms forms{proc};
    std::vector<std::string> log;
};

// A small form that writes its events into the test's log.
struct LoggingForm : Form {
    LoggingForm(Forms& f, std::string name, std::vector<std::string>& log)
        : Form(f, std::move(name)),
          first(add<CommandButton>("cmdFirst")),
          second(add<CommandButton>("cmdSecond")) {
        onLoad = [this, &log] { log.push_back(this->name() + ".Load"); };
        onActivate = [this, &log] { log.push_back(this->name() + ".Activate"); };
        onDeactivate = [this, &log] { log.push_back(this->name() + ".Deactivate"); };
        onQueryUnload = [this, &log](bool& cancel, UnloadMode mode) {
            log.push_back(this->name() + ".QueryUnload " + std::to_string(static_cast<int>(mode)));
            cancel = refuseQuery;
        };
        onUnload = [this, &log](bool& cancel) {
            log.push_back(this->name() + ".Unload");
            cancel = refuseUnload;
        };
        onTerminate = [this, &log] { log.push_back(this->name() + ".Terminate"); };
        first.onGotFocus = [this, &log] { log.push_back(this->name() + ".cmdFirst.GotFocus"); };
    }
    CommandButton& first;
    CommandButton& second;
    bool refuseQuery = false;
    bool refuseUnload = false;
};

TEST_F(FormsTest, LoadShowAndUnloadRaiseTheirEventsAndKeepTheCollection) {
    const auto before = world.live();
    LoggingForm a(forms, "frmA", log);
    LoggingForm b(forms, "frmB", log);

    a.show();
    b.load();
    // The first control that can take the focus has it.
    EXPECT_EQ(std::tuple(a.loaded(), proc.windows().isWindow(a.hwnd()),
                         proc.windows().isVisible(a.hwnd()), proc.windows().isVisible(b.hwnd()),
                         forms.isLoaded("frmB"), forms.find("frmA"), forms.activeForm(),
                         a.activeControl()),
              std::tuple(true, true, true, false, true, &a, &a, &a.first));
    EXPECT_EQ(forms.names(), (std::vector<std::string>{"frmA", "frmB"}));
    EXPECT_EQ(log, (std::vector<std::string>{"frmA.Load", "frmA.Activate", "frmA.cmdFirst.GotFocus",
                                             "frmB.Load"}));

    log.clear();
    EXPECT_TRUE(a.unload());
    EXPECT_EQ(log, (std::vector<std::string>{"frmA.QueryUnload 1", "frmA.Unload"}));
    EXPECT_EQ(std::tuple(a.loaded(), forms.isLoaded("frmA"), forms.names()),
              std::tuple(false, false, std::vector<std::string>{"frmB"}));

    log.clear();
    b.release();
    a.release();
    EXPECT_EQ(log, (std::vector<std::string>{"frmB.QueryUnload 1", "frmB.Unload", "frmB.Terminate",
                                             "frmA.Terminate"}));
    EXPECT_EQ(world.live(), before);  // windows and timers are all gone again
}

TEST_F(FormsTest, QueryUnloadAndUnloadCanCancelAndSeeTheReason) {
    LoggingForm a(forms, "frmA", log);
    a.show();
    a.refuseQuery = true;
    // The title bar's close box, and the close command that reaches the window by message.
    for (const auto& close : std::vector<std::function<void()>>{
             [&] { EXPECT_TRUE(a.close()); },
             [&] { proc.windows().sendMessage(a.hwnd(), wm::kClose, 0, 0); }}) {
        log.clear();
        close();
        EXPECT_TRUE(a.loaded());
        EXPECT_EQ(log, (std::vector<std::string>{"frmA.QueryUnload 0"}));
    }

    a.refuseQuery = false;
    a.refuseUnload = true;
    EXPECT_FALSE(a.unload());
    EXPECT_TRUE(a.loaded());
    a.refuseUnload = false;
    log.clear();
    EXPECT_TRUE(a.close());
    EXPECT_FALSE(a.loaded());
    EXPECT_EQ(log, (std::vector<std::string>{"frmA.QueryUnload 0", "frmA.Unload"}));
}

TEST_F(FormsTest, UnloadAllExceptGoesFromLastToFirstAndSurvivesARefusal) {
    LoggingForm main(forms, "frmMain", log), one(forms, "frmOne", log), two(forms, "frmTwo", log),
        three(forms, "frmThree", log);
    for (LoggingForm* f : {&main, &one, &two, &three})
        f->load();
    two.refuseQuery = true;
    log.clear();
    EXPECT_EQ(forms.unloadAllExcept(&main), 2);
    EXPECT_EQ(log, (std::vector<std::string>{"frmThree.QueryUnload 1", "frmThree.Unload",
                                             "frmTwo.QueryUnload 1", "frmOne.QueryUnload 1",
                                             "frmOne.Unload"}));
    EXPECT_EQ(forms.names(), (std::vector<std::string>{"frmMain", "frmTwo"}));
}

// A form nobody else holds outlives the handler that unloads it, even when that handler lets
// other events run; it goes at the next chance after the handler.
TEST_F(FormsTest, AnAdoptedFormUnloadedByItsOwnHandlerLivesUntilTheHandlerEnds) {
    auto owned = std::make_unique<Form>(forms, "frmDlgBox");
    auto& ok = owned->add<CommandButton>("OKButton");
    Form& f = *owned;
    ok.onClick = [&] {
        f.unload();
        forms.doEvents();
        log.push_back("kept " + std::to_string(forms.adoptedCount()));
    };
    f.show();
    forms.adopt(std::move(owned));
    EXPECT_TRUE(ok.click());
    forms.doEvents();
    EXPECT_EQ(log, std::vector<std::string>{"kept 1"});
    EXPECT_EQ(forms.adoptedCount(), 0u);
}

// The modal loop itself (posted messages worked off) is the window system's; here the forms'
// part: it blocks until hidden, the forms behind keep their timers but cannot be reached.
TEST_F(FormsTest, ModalShowKeepsTimersRunningUntilHidden) {
    Form owner(forms, "frmMain");
    auto& watchdog = owner.add<Timer>("tmrAlive");
    int ticks = 0;
    watchdog.onTimer = [&] { ++ticks; };
    watchdog.setInterval(1000);
    owner.show();

    Form dialog(forms, "frmSetup");
    auto& ok = dialog.add<CommandButton>("OKButton");
    ok.onClick = [&] { dialog.hide(); };

    const auto start = world.nowMs();
    world.after(2500, [&] {
        // While the dialog is modal the main form cannot be reached by the user...
        EXPECT_FALSE(owner.userCanReach());
        EXPECT_TRUE(dialog.userCanReach());
    });
    // A form that the modal dialog opens on its own stays usable; the one behind does not.
    Form message(forms, "frmDlgBox");
    auto& messageOk = message.add<CommandButton>("OKButton");
    messageOk.onClick = [&] { message.unload(); };
    world.after(3000, [&] {
        message.show();
        EXPECT_TRUE(message.userCanReach());
        EXPECT_TRUE(messageOk.click());
        EXPECT_FALSE(owner.userCanReach());
    });
    world.after(5500, [&] { EXPECT_TRUE(ok.click()); });

    dialog.show(ShowMode::Modal, &owner);

    EXPECT_EQ(std::tuple(world.nowMs() - start, ticks), std::tuple(5500u, 5));
    // Hidden, not unloaded: the caller reads it back.
    EXPECT_EQ(std::tuple(dialog.loaded(), dialog.visible(), dialog.owner(), forms.modalForm(),
                         owner.userCanReach(), forms.activeForm()),
              std::tuple(true, false, &owner, nullptr, true, &owner));
    // A form already visible cannot be shown modally.
    dialog.show();
    EXPECT_EQ(test::errorNumber([&] { dialog.show(ShowMode::Modal); }), 400);
}

TEST_F(FormsTest, FormsWithoutAnOwnerFormAreOwnedByTheApplicationWindow) {
    Form before(forms, "frmEarly");
    before.load();
    const platform::Hwnd app = proc.windows().createWindow({}, nullptr);
    forms.setApplicationWindow(app);
    Form main(forms, "frmMain");
    main.load();
    // A form shown with an owner form before it loads belongs to that form instead.
    Form setup(forms, "frmSetup");
    setup.show(ShowMode::Modeless, &main);
    const auto owner = [&](Form& f) { return proc.windows().getOwner(f.hwnd()); };
    EXPECT_EQ(std::tuple(owner(before), owner(main), owner(setup)),
              std::tuple(platform::Hwnd{0}, app, main.hwnd()));
}

TEST_F(FormsTest, TimersFollowEnabledAndIntervalAndStopWithTheForm) {
    Form f(forms, "frmA");
    auto& t = f.add<Timer>("tmr");
    std::vector<std::uint32_t> at;
    const auto start = world.nowMs();
    t.onTimer = [&] { at.push_back(world.nowMs() - start); };
    t.setInterval(200);
    t.setEnabled(false);
    f.load();
    world.advance(1000);
    EXPECT_EQ(std::tuple(at.size(), t.running()), std::tuple(0u, false));

    t.setEnabled(true);  // at 1000
    world.advance(450);
    EXPECT_EQ(at, (std::vector<std::uint32_t>{1200, 1400}));
    t.setInterval(500);  // restarts from now (1450)
    world.advance(1100);
    EXPECT_EQ(at, (std::vector<std::uint32_t>{1200, 1400, 1950, 2450}));
    t.setInterval(0);  // an interval of 0 stops it
    world.advance(1000);
    EXPECT_EQ(at.size(), 4u);
    t.setInterval(100);
    EXPECT_TRUE(t.running());
    const auto timersBefore = world.live().timers;
    f.unload();
    world.advance(1000);
    EXPECT_EQ(std::tuple(t.running(), world.live().timers, at.size()),
              std::tuple(false, timersBefore - 1, 4u));
}

TEST_F(FormsTest, KeysReachTheFocusedControlThenDefaultAndCancelButtons) {
    Form f(forms, "frmA");
    auto& text = f.add<TextBox>("txt");
    auto& ok = f.add<CommandButton>("OK");
    auto& cancel = f.add<CommandButton>("Cancel");
    ok.setDefault(true);
    cancel.setCancel(true);
    f.onKeyDown = [&](int k, int) { log.push_back("form " + std::to_string(k)); };
    text.onKeyDown = [&](int k, int) { log.push_back("txt " + std::to_string(k)); };
    text.onKeyUp = [&](int k, int) { log.push_back("txt up " + std::to_string(k)); };
    ok.onClick = [&] { log.push_back("ok"); };
    cancel.onClick = [&] { log.push_back("cancel"); };
    f.show();

    EXPECT_TRUE(f.pressKey('A'));
    log.push_back("|");
    f.setKeyPreview(true);
    f.pressKey(key::kReturn);
    log.push_back("|");
    f.setKeyPreview(false);
    // A key message that reaches the window goes to the focused control.
    proc.windows().sendMessage(f.hwnd(), wm::kKeyDown, key::kEscape, 0);
    log.push_back("|");
    // Enter on a focused button clicks that button, not the default one.
    EXPECT_TRUE(cancel.pressKey(key::kReturn));
    EXPECT_EQ(log, (std::vector<std::string>{"txt 65", "txt up 65", "|", "form 13", "txt 13", "ok",
                                             "txt up 13", "|", "txt 27", "cancel", "|", "cancel"}));
}

TEST_F(FormsTest, UserInputIsRefusedWhereAUserCouldNotReach) {
    Form f(forms, "frmA");
    auto& frame = f.add<Frame>("Frame1");
    auto& inFrame = f.add<CommandButton>("cmdIn");
    inFrame.setContainer(&frame);
    auto& tabs = f.add<TabControl>("SSTab1");
    tabs.addTab("Intraoral");
    tabs.addTab("Panoramic");
    auto& onTab1 = f.add<CheckBox>("chkPano");
    onTab1.setContainer(&tabs, 1);
    int clicks = 0;
    inFrame.onClick = [&] { ++clicks; };

    EXPECT_FALSE(inFrame.click());  // not loaded
    f.load();
    EXPECT_FALSE(inFrame.click());  // loaded but not shown
    f.show();
    EXPECT_TRUE(inFrame.click());
    frame.setEnabled(false);
    EXPECT_FALSE(inFrame.click());
    frame.setEnabled(true);
    inFrame.setVisible(false);
    EXPECT_FALSE(inFrame.click());
    EXPECT_EQ(clicks, 1);

    EXPECT_FALSE(onTab1.click());  // its tab is not the current one
    EXPECT_TRUE(tabs.selectTab(1));
    EXPECT_TRUE(onTab1.click());
    EXPECT_EQ(onTab1.value(), 1);
}

TEST_F(FormsTest, GeometryIsKeptInTwipsAndTheWindowFollowsInPixels) {
    world.setTwipsPerPixel(12, 12);  // 120 dpi
    Form f(forms, "frmA");
    f.setBorderStyle(BorderStyle::FixedDialog);
    f.move(1200, 2400, 6000, 3000);
    f.load();
    EXPECT_EQ(proc.windows().windowRect(f.hwnd()), (platform::Rect{100, 200, 600, 450}));
    f.setClientSize(4800, 1200);
    EXPECT_EQ(std::tuple(f.scaleWidth(), f.scaleHeight()), std::tuple(4800, 1200));
    EXPECT_GT(f.width(), 4800);
    EXPECT_EQ(proc.windows().windowRect(f.hwnd()).width(), f.width() / 12);
}

TEST_F(FormsTest, PopupMenusOfferTheirItemsEvenWhenTheMenuIsHidden) {
    Form f(forms, "frmMain");
    auto& popup = f.add<Menu>("mnuPopUp");
    popup.setVisible(false);
    auto& start = f.add<Menu>("mnuStartScan");
    start.setContainer(&popup);
    auto& exitItem = f.add<Menu>("mnuExit");
    exitItem.setContainer(&popup);
    int started = 0;
    start.onClick = [&] { ++started; };
    f.show();
    EXPECT_EQ(popup.items(), (std::vector<Menu*>{&start, &exitItem}));
    EXPECT_TRUE(start.click());

    forms.headlessPopupChoice = [&](Form&, Menu& m) -> Menu* { return m.items().front(); };
    EXPECT_EQ(f.popupMenu(popup), &start);
    EXPECT_EQ(started, 2);
    start.setEnabled(false);
    EXPECT_EQ(f.popupMenu(popup), nullptr);  // a disabled item cannot be chosen
    EXPECT_EQ(started, 2);
}

}  // namespace
}  // namespace quilo::forms
