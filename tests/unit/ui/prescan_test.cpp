// The preview window, headless in a simulated world with the shipped English texts: its layout,
// the thumbnails and status line as images come in, the selection and the buttons, handing the
// selected images over, every way of closing it, and the temporary files it leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "forms/forms.h"
#include "imaging/image_control.h"
#include "platform/sim/world.h"
#include "support/images.h"
#include "support/numbered_captions.h"
#include "support/recording_window.h"
#include "ui/lead_control.h"
#include "ui/prescan/frm_prescan.h"

namespace quilo::ui {
namespace {

struct RecordingHost final : PrescanHost {
    bool scan = false, stop = false, shown = true;
    int noPreview = 0, clears = 0;
    std::int32_t paramSet = 3;
    std::vector<std::string> log, dialogs;
    std::vector<std::pair<std::string, std::int32_t>> sent;
    std::vector<std::pair<float, float>> pitches;
    std::function<void()> onSend;

    void LogMsg(std::string_view m) override { log.emplace_back(m); }
    void doShowDialog(std::string_view msg, std::string_view caption, int modal) override {
        dialogs.push_back(std::string(msg) + "|" + std::string(caption) + "|" +
                          std::to_string(modal));
    }
    void SendSelected(const std::string& file, std::int32_t ordinal) override {
        sent.emplace_back(file, ordinal);
        if (onSend) onSend();
    }
    bool ScanInProgress() const override { return scan; }
    bool StopRequested() const override { return stop; }
    void setPreviewShown(bool on) override { shown = on; }
    void setPixelPitch(float x, float y) override { pitches.emplace_back(x, y); }
    std::int32_t CurrentParamSetNr() const override { return paramSet; }
    int NoPreview() const override { return noPreview; }
    void ClearPrescanImage() override { ++clears; }
    std::string ApplicationTitle() const override { return "QuiloPlugin"; }
};

struct PrescanTest : ::testing::Test {
    sim::World world;
    sim::SimProcess& proc = world.createProcess();
    forms::Forms forms{proc};
    modLAnguageSelector lang{proc.files(), proc.process()};
    RecordingHost host;
    frmPrescan frm{forms, proc.memory(), lang, host};
    std::vector<std::string> files;

    PrescanTest() {
        const auto shipped = std::filesystem::path(QUILO_SOURCE_DIR) / "lang";
        const auto to = world.nativePath(lang.languageFilePath("English"));
        std::filesystem::create_directories(to.parent_path());
        std::filesystem::copy_file(shipped / "Quilo Plugin_English.lan", to);
        lang.Initlanguage("English");
    }
    std::string t(std::int32_t n) const { return lang.LangText(n); }
    // A plate of w by h pixels whose values run from `low` upward, put into LEAD2 and added.
    void add(std::uint32_t w, std::uint32_t h, int bits = 16, std::uint32_t low = 20000) {
        frm.LEAD2.control().setBitmap(
            test::imageOf(w, h, bits, [&](auto x, auto y) { return low + (x + y) % 500; }));
        files.push_back(proc.files().tempFileName(proc.files().tempFolder(), "prv"));
        frm.AddCaptured(files.back(), 500, 250);
    }
    bool exists(const std::string& f) { return proc.files().exists(f); }
    std::vector<bool> enabled() const {
        return {frm.Command1.enabled(), frm.Command3.enabled(), frm.Command4.enabled()};
    }
};

TEST_F(PrescanTest, LayoutKeepsEveryControlInsideBothWidths) {
    frm.show();
    EXPECT_EQ(std::tuple(frm.caption(), frm.width(), frm.Label3.caption()),
              std::tuple("Quilo Plugin", 10680, "No images captured"));
    EXPECT_EQ(enabled(), (std::vector<bool>{false, false, false}));
    for (forms::Control* c : frm.controls()) {
        EXPECT_LE(c->left() + c->width(), frm.scaleWidth()) << c->name();
        EXPECT_LE(c->top() + c->height(), frm.scaleHeight()) << c->name();
    }
    // The slots read 4 3 2 1 from the left edge; all of the row shows in the narrow window.
    const int slotLeft[] = {3120, 2130, 1125, 120};
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(std::tuple(frm.lblSlot(k).caption(), frm.lblSlot(k).left(), frm.lblSlot(k).top()),
                  std::tuple(std::to_string(k), slotLeft[k - 1], 4365));
    frm.unload();
    host.noPreview = 2;
    frm.show();
    EXPECT_EQ(frm.width(), 4275);
    EXPECT_LE(frm.lblSlot1.left() + frm.lblSlot1.width(), frm.scaleWidth());
    EXPECT_LE(frm.lblSlot1.top() + frm.lblSlot1.height(), frm.scaleHeight());
    EXPECT_LT(frm.height(), 5670);
    EXPECT_LE(frm.Label2.left() + forms.measureText(frm.Label2.caption()).width, frm.scaleWidth());
}

// Every word of the window comes from the language file, the status line's too.
TEST_F(PrescanTest, EveryCaptionIsANumberedText) {
    lang.setTranslatorMode(true);
    lang.Initlanguage("English");
    frm.show();
    quilo::test::expectNumberedCaptions(frm);
}

TEST_F(PrescanTest, ImagesBecomeThumbnailsWithStatusTagAndTemporaryTiff) {
    frm.show();
    add(300, 400);
    add(320, 410, 12, 1000);  // 12-bit values in 1000 .. 1499
    ASSERT_TRUE(frm.ImgList.toggleItem(0));
    add(640, 480);
    const std::string status =
        t(4020) + " 3" + " " + t(4022) + " 3" + " (640x480 " + t(4024) + " 2" + " " + t(4026);
    EXPECT_EQ(std::tuple(frm.Label3.caption(), frm.ImgList.item(1).text, frm.ImgList.item(2).tag,
                         frm.ImgList.lastEnsuredVisible()),
              std::tuple(status, t(4020) + " 2 (320x410)", "500,250,3", 2));
    EXPECT_EQ(std::vector(host.log.begin(), host.log.begin() + 3),
              (std::vector<std::string>{"Add captured image 1", "Saving temp file: " + files[0],
                                        "Done with AddCaptured"}));

    // The file holds the image at its own depth, and its thumbnail spans black to white.
    imaging::ImageControl back(proc.memory());
    back.loadFile(proc.files(), files[1]);
    EXPECT_EQ(std::tuple(back.bitsPerPixel(), back.bitmapImage()->at(3, 4)), std::tuple(12, 1007u));
    const auto& thumb = *frm.ImgList.item(1).picture;
    EXPECT_EQ(greyRange(thumb), (std::pair<std::uint32_t, std::uint32_t>{0, 255}));

    // Clicking an image shows it large and names it in the status line.
    ASSERT_TRUE(frm.ImgList.toggleItem(0));
    EXPECT_EQ(frm.LEAD2.control().bitmapWidth(), 300u);
    EXPECT_EQ(frm.Label3.caption(), "Image 1 of 3 (300x400 pixels) 3 selected");

    // Another language composes the images' texts and the status line again.
    lang.setTranslatorMode(true);
    lang.Initlanguage("English");
    frm.translate();
    EXPECT_EQ(frm.ImgList.item(1).text, t(4020) + " 2 (320x410)");
    EXPECT_EQ(frm.Label3.caption(),
              t(4020) + " 1 " + t(4022) + " 3 (300x400 " + t(4024) + " 3 " + t(4026));
}

TEST_F(PrescanTest, SaveButtonFollowsTheSelection) {
    frm.show();
    add(100, 100);
    add(100, 100);
    // Clicks on thumbnail 0 or 1, "Select all" (a) or "Select none" (n); Save, All, None enabled.
    const std::tuple<char, std::vector<bool>, const char*> steps[] = {
        {'0', {true, true, true}, "Image 2 of 2 (100x100 pixels) 1 selected"},
        {'1', {false, true, true}, "Image 2 of 2 (100x100 pixels)"},
        {'a', {true, true, true}, "Image 2 of 2 (100x100 pixels) 2 selected"},
        {'n', {false, true, true}, "Image 2 of 2 (100x100 pixels)"},
        {'0', {true, true, true}, "Image 1 of 2 (100x100 pixels) 1 selected"},
    };
    for (const auto& [act, buttons, status] : steps) {
        ASSERT_TRUE(act == 'a'   ? frm.Command3.click()
                    : act == 'n' ? frm.Command4.click()
                                 : frm.ImgList.toggleItem(act - '0'));
        EXPECT_EQ(enabled(), buttons) << status;
        EXPECT_EQ(frm.Label3.caption(), status);
    }
}

TEST_F(PrescanTest, SaveWaitsForTheScanThenSendsTheSelectedInOrder) {
    frm.show();
    for (int i = 0; i < 3; ++i)
        add(64, 64);
    host.scan = true;
    ASSERT_TRUE(frm.Command1.click());
    EXPECT_EQ(std::tuple(host.dialogs, host.sent.size(), frm.loaded()),
              std::tuple(std::vector<std::string>{t(4010) + "||0"}, 0u, true));

    host.scan = false;
    ASSERT_TRUE(frm.ImgList.toggleItem(1));
    // What is posted during a hand-over is worked off before the next one.
    test::RecordingWindow counter(proc.windows());
    std::vector<std::size_t> seenAtSend;
    host.onSend = [&] {
        seenAtSend.push_back(counter.count(0x8001));
        proc.windows().postMessage(counter.hwnd(), 0x8001, 0, 0);
    };
    ASSERT_TRUE(frm.Command1.click());
    // Only the selected, in ascending order; each tag 500,250,3: pitch 0.5 and 0.25, set 3.
    EXPECT_EQ(host.sent,
              (std::vector<std::pair<std::string, std::int32_t>>{{files[0], 3}, {files[2], 3}}));
    EXPECT_EQ(seenAtSend, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(host.pitches, (std::vector<std::pair<float, float>>(2, {0.5f, 0.25f})));
}

TEST_F(PrescanTest, CloseIsRefusedOnlyWhileAScanRunsUnstopped) {
    for (const auto& [scan, stop, closes] :
         {std::tuple{true, false, false}, std::tuple{true, true, true}}) {
        host = {};
        host.scan = scan;
        host.stop = stop;
        frm.show();
        ASSERT_TRUE(frm.Command2.click());
        EXPECT_EQ(!frm.loaded(), closes) << scan << stop;
        // Refused: the message, the window still counted as shown, the live picture kept.
        EXPECT_EQ(
            std::tuple(host.dialogs.size(), host.shown, host.clears),
            closes ? std::tuple(std::size_t{0}, false, 1) : std::tuple(std::size_t{1}, true, 0));
        host.stop = true;
        frm.unload();
    }
}

TEST_F(PrescanTest, TitleBarCloseAsksAndAScanStillRefuses) {
    frm.show();
    add(64, 64);
    proc.scriptMessageBoxAnswers({platform::mb::kIdNo, platform::mb::kIdYes, platform::mb::kIdYes});
    ASSERT_TRUE(frm.close());
    ASSERT_EQ(proc.messageBoxes().size(), 1u);
    const auto& box = proc.messageBoxes()[0];
    EXPECT_EQ(std::tuple(box.text, box.caption, box.style),
              std::tuple(t(4030), "QuiloPlugin", 36u));
    EXPECT_EQ(std::tuple(frm.loaded(), exists(files[0]), frm.ImgList.count()),
              std::tuple(true, true, 1));

    host.scan = true;
    ASSERT_TRUE(frm.close());
    EXPECT_TRUE(frm.loaded());
    EXPECT_EQ(host.dialogs, (std::vector<std::string>{t(4010) + "||0"}));

    host.scan = false;
    ASSERT_TRUE(frm.close());
    EXPECT_FALSE(frm.loaded());
    EXPECT_FALSE(exists(files[0]));
    EXPECT_EQ(proc.messageBoxes().size(), 3u);  // closing by code below asks nothing
    frm.show();
    frm.unload();
    EXPECT_EQ(proc.messageBoxes().size(), 3u);
}

TEST_F(PrescanTest, UnloadDeletesEveryFileEvenPastAMissingOne) {
    frm.show();
    for (int i = 0; i < 3; ++i)
        add(32, 32);
    proc.files().removeFile(files[1]);
    host.stop = true;
    EXPECT_TRUE(frm.unload());
    for (const auto& f : files)
        EXPECT_FALSE(exists(f)) << f;
    EXPECT_EQ(std::tuple(host.clears, host.shown), std::tuple(1, false));
}

// The view's reduced picture: each pixel the rounded mean of its block, at the image's depth.
TEST(DisplayPicture, EachPixelIsTheRoundedMeanOfItsBlock) {
    struct Row {
        std::uint32_t w, h;
        int bits, maxSide;
        std::vector<std::uint32_t> in, out;
        int outW, outH;
    };
    const std::vector<Row> rows = {
        {4, 2, 8, 2, {0, 1, 2, 3, 4, 5, 6, 7}, {3, 5}, 2, 1},  // 2 x 2 blocks, halves up
        {3, 3, 16, 1, {65535, 65535, 65535, 65535, 0, 65535, 65535, 65535, 65535}, {58253}, 1, 1},
        {5, 2, 16, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, {5}, 1, 1},  // a side shorter than a block
        {2, 2, 12, 4, {1, 4095, 300, 7}, {1, 4095, 300, 7}, 2, 2},  // small enough: unchanged
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.w << "x" << r.h << " bits " << r.bits);
        imaging::Image image(r.w, r.h, r.bits);
        for (std::uint32_t i = 0; i < r.in.size(); ++i)
            image.set(i % r.w, i / r.w, r.in[i]);
        const auto pic = displayPicture(image, r.maxSide);
        ASSERT_TRUE(pic);
        EXPECT_EQ(std::tie(pic->width, pic->height, pic->bitsPerPixel),
                  std::tie(r.outW, r.outH, r.bits));
        std::vector<std::uint32_t> got;
        for (int y = 0; y < pic->height; ++y)
            for (int x = 0; x < pic->width; ++x)
                got.push_back(pic->at(x, y));
        EXPECT_EQ(got, r.out);
    }
}

}  // namespace
}  // namespace quilo::ui
