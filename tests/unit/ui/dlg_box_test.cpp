// The message dialog on the virtual clock: its caption rule, the sound and the reminders, the
// layout of its message, closing, modal and modeless showing, and the error path.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "forms/forms.h"
#include "platform/sim/world.h"
#include "ui/dlg_box.h"
#include "ui/language/language_selector.h"

namespace quilo::ui {
namespace {

struct DlgBoxTest : ::testing::Test {
    sim::World world;
    sim::SimProcess& proc = world.createProcess();
    forms::Forms forms{proc};
    modLAnguageSelector texts{proc.files(), proc.process()};
    std::string model;
    platform::Hwnd host = 0;
    DlgBoxContext context{forms, &texts, [this] { return model; }, [this] { return host; },
                          nullptr};
    std::uint32_t t0 = world.nowMs();

    DlgBoxTest() {
        const std::string lan = "100 XXX Plugin (XXX)\r\n6000 Okay\r\n";
        platform::writeWholeFile(proc.files(), texts.languageFilePath("English"),
                                 std::as_bytes(std::span(lan)));
        texts.Initlanguage("English");
    }

    frmDlgBox* openDialog() { return static_cast<frmDlgBox*>(forms.find("frmDlgBox")); }
    std::vector<std::uint32_t> soundTimes() const {
        std::vector<std::uint32_t> out;
        for (const auto& s : proc.sounds()) {
            EXPECT_EQ(s.name, "SystemExclamation");
            EXPECT_EQ(s.flags, 1u);  // asynchronous
            out.push_back(s.atMs - t0);
        }
        return out;
    }
};

TEST_F(DlgBoxTest, AnEmptyCaptionIsBuiltFromText100AndTheModel) {
    const struct {
        const char *model, *given, *caption;
    } rows[] = {{"", "", "Quilo Plugin (Quilo) error!"},
                {"  Q-7 ", "", "Q-7 Plugin (Q-7) error!"},
                {"", "My own caption", "My own caption"}};
    for (const auto& r : rows) {
        model = r.model;
        std::string caption = r.given;
        ShowDlg(context, "Scanner not found", caption);
        frmDlgBox* dlg = openDialog();
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(
            std::tuple(caption, proc.windows().windowText(dlg->hwnd()), dlg->msgLabel.caption()),
            std::tuple(r.caption, r.caption, "Scanner not found"));
        dlg->unload();
    }
    context.texts = nullptr;  // without a language table the caption is only the suffix
    std::string caption;
    ShowDlg(context, "m", caption);
    EXPECT_EQ(caption, " error!");
}

TEST_F(DlgBoxTest, TheDialogIsTranslatedTopmostCentredAndFocusesItsButton) {
    ShowDlg(context, "Hello");
    frmDlgBox* dlg = openDialog();
    ASSERT_NE(dlg, nullptr);
    // The default monitor is 1920 by 1080 at 15 twips per pixel.
    EXPECT_EQ(std::tuple(dlg->OKButton.caption(), proc.windows().isTopmost(dlg->hwnd()),
                         proc.windows().isVisible(dlg->hwnd()), dlg->activeControl(), dlg->left(),
                         dlg->top()),
              std::tuple("Okay", true, true, &dlg->OKButton, 15 * 960 - dlg->width() / 2,
                         15 * 540 - dlg->height() / 2));
    // A plain dialog sounds once and never reminds.
    world.advance(70000);
    EXPECT_EQ(std::tuple(soundTimes(), dlg->tmrAnnoyance.running()),
              std::tuple(std::vector<std::uint32_t>{0}, false));
}

TEST_F(DlgBoxTest, AnAnnoyingDialogRemindsAtTenThenEveryThirtySeconds) {
    ShowDlg(context, "Plate stuck", 0, true);
    frmDlgBox* dlg = openDialog();
    ASSERT_NE(dlg, nullptr);
    // Something else takes the top in between; every reminder brings the dialog back up.
    world.after(15000, [&] {
        proc.windows().setWindowPos(dlg->hwnd(), platform::kHwndNoTopmost, {},
                                    platform::swp::kNoMove | platform::swp::kNoSize);
    });
    world.advance(39999);
    EXPECT_FALSE(proc.windows().isTopmost(dlg->hwnd()));
    world.advance(70000 - 39999);
    EXPECT_EQ(soundTimes(), (std::vector<std::uint32_t>{0, 10000, 40000, 70000}));
    EXPECT_EQ(std::tuple(proc.windows().isTopmost(dlg->hwnd()), dlg->tmrAnnoyance.interval()),
              std::tuple(true, 30000u));

    // Dismissed: no more reminders, and no timer left behind.
    const auto timers = world.live().timers;
    EXPECT_TRUE(dlg->OKButton.click());
    EXPECT_EQ(world.live().timers, timers - 1);
    world.advance(120000);
    EXPECT_EQ(std::tuple(proc.sounds().size(), forms.isLoaded("frmDlgBox")), std::tuple(4u, false));
}

TEST_F(DlgBoxTest, SeveralModelessDialogsKeepTheirOwnReminders) {
    ShowDlg(context, "first", 0, true);
    world.advance(5000);
    ShowDlg(context, "second", 0, true);
    world.advance(35000);
    EXPECT_EQ(soundTimes(), (std::vector<std::uint32_t>{0, 5000, 10000, 15000, 40000}));
    ASSERT_EQ(forms.loaded().size(), 2u);
    static_cast<frmDlgBox*>(forms.loaded()[0])->OKButton.click();
    world.advance(10000);  // only the second one reminds at 45 s
    EXPECT_EQ(std::tuple(soundTimes().back(), proc.sounds().size()), std::tuple(45000u, 6u));
    forms.doEvents();
    EXPECT_EQ(forms.adoptedCount(), 1u);  // the closed one is gone, the open one is kept
}

// The modal show itself (messages and timers keep running) is the form model's; here the
// dialog's own part: it blocks until OK, reminds meanwhile, and shows the arrow while open.
TEST_F(DlgBoxTest, AModalDialogBlocksUntilOkWithTheArrowPointer) {
    forms::Form main(forms, "frmMain");
    main.load();
    forms.setScreenMousePointer(forms::pointer::kHourglass);
    int pointerWhileOpen = -1;
    world.after(75000, [&] {
        frmDlgBox* dlg = openDialog();
        ASSERT_NE(dlg, nullptr);
        pointerWhileOpen = forms.screenMousePointer();
        EXPECT_TRUE(dlg->modal());
        EXPECT_FALSE(main.userCanReach());
        EXPECT_TRUE(dlg->OKButton.click());
    });

    ShowDlg(context, "Insert a plate", 1, true);

    EXPECT_EQ(soundTimes(), (std::vector<std::uint32_t>{0, 10000, 40000, 70000}));
    // The pointer is restored after.
    EXPECT_EQ(std::tuple(world.nowMs() - t0, pointerWhileOpen, forms.screenMousePointer(),
                         forms.isLoaded("frmDlgBox"), forms.adoptedCount()),
              std::tuple(75000u, forms::pointer::kArrow, forms::pointer::kHourglass, false, 0u));
}

TEST_F(DlgBoxTest, EscapeClosesFromTheFormAndFromTheButtonAndSoDoesTheCloseBox) {
    const std::function<void(frmDlgBox&)> closers[] = {
        // The form has the focus; other keys do nothing.
        [](frmDlgBox& d) {
            d.deliverKey(nullptr, true, 'A', 0);
            EXPECT_TRUE(d.loaded());
            d.deliverKey(nullptr, true, forms::key::kEscape, 0);
        },
        [](frmDlgBox& d) { EXPECT_TRUE(d.OKButton.pressKey(forms::key::kEscape)); },
        [](frmDlgBox& d) { EXPECT_TRUE(d.close()); }};
    for (const auto& close : closers) {
        ShowDlg(context, "message", 0, true);
        frmDlgBox* dlg = openDialog();
        close(*dlg);
        EXPECT_FALSE(dlg->loaded());
    }
    world.advance(60000);
    EXPECT_EQ(proc.sounds().size(), 3u);  // one each, no reminders from closed dialogs
}

// The window keeps its designed size unless the message needs more: the label at (120, 120)
// as large as its text, the button centred below it, the window centred on the monitor.
TEST_F(DlgBoxTest, TheWindowGrowsWithTheMessageAndKeepsTheButtonCentredBelowIt) {
    constexpr int kWidth = frmDlgBox::kDesignClientWidth, kHeight = frmDlgBox::kDesignClientHeight;
    const std::string longLine(120, 'W');
    const int line = forms.measureText("1").height, longWidth = forms.measureText(longLine).width;
    const struct {
        std::string message;
        int labelWidth, labelHeight, width, height;
    } rows[] = {
        {"Short.", forms.measureText("Short.").width, line, kWidth, kHeight},
        {"First line\r\n" + longLine + "\r\nlast", longWidth, 3 * line, longWidth + 240, kHeight},
        {"1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7", forms.measureText("1").width, 7 * line, kWidth,
         7 * line + frmDlgBox::kButtonHeight + 360},
    };
    for (const auto& r : rows) {
        ShowDlg(context, r.message);
        frmDlgBox* dlg = openDialog();
        EXPECT_EQ(
            std::tuple(dlg->msgLabel.left(), dlg->msgLabel.top(), dlg->msgLabel.width(),
                       dlg->msgLabel.height(), dlg->scaleWidth(), dlg->scaleHeight(),
                       dlg->OKButton.left(), dlg->OKButton.top(), dlg->left()),
            std::tuple(120, 120, r.labelWidth, r.labelHeight, r.width, r.height,
                       (r.width - frmDlgBox::kButtonWidth) / 2,
                       r.height - frmDlgBox::kButtonHeight - 120, 15 * 960 - dlg->width() / 2))
            << r.message;
        dlg->unload();
    }
}

TEST_F(DlgBoxTest, AnErrorInsideIsReportedInAMessageBoxAndLeavesThePointer) {
    world.setMonitors({});  // no monitor to centre on
    forms.setScreenMousePointer(forms::pointer::kHourglass);
    ShowDlg(context, "lost", 1, true);
    ASSERT_EQ(proc.messageBoxes().size(), 1u);
    const auto& box = proc.messageBoxes()[0];
    EXPECT_EQ(std::tuple(box.text, box.caption, box.style),
              std::tuple("Error: 9\r\nSubscript out of range\r\nIn: frmDialogBox.ShowDlg()",
                         proc.process().version().title, 48u));
    // The pointer is not restored; the half-made dialog went away.
    EXPECT_EQ(std::tuple(forms.screenMousePointer(), forms.loaded().size()),
              std::tuple(forms::pointer::kArrow, 0u));
    world.advance(60000);
    EXPECT_EQ(proc.sounds().size(), 1u);
}

}  // namespace
}  // namespace quilo::ui
