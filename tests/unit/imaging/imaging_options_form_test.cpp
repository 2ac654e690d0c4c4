// The enhancement component's options form, driven as a user would on the simulated Windows.
#include <gtest/gtest.h>

#include "imaging/enhancement_options_form.h"
#include "platform/sim/world.h"
#include "support/images.h"

namespace quilo::imaging {
namespace {

struct OptionsFormTest : ::testing::Test {
    sim::World world;
    sim::SimProcess& proc = world.createProcess();
    forms::Forms forms{proc};
    EnhancementComponent ec{proc.memory()};

    void SetUp() override { ec.setOptionsPresenter(makeOptionsPresenter(forms, ec)); }
    EnhancementOptionsForm* open() {
        return dynamic_cast<EnhancementOptionsForm*>(forms.find("frmEnhancementOptions"));
    }
};

TEST_F(OptionsFormTest, OkTakesTheEditedValuesOfThatImageType) {
    const EnhancementOptions intraBefore = ec.options(kIntraoral);
    world.after(10, [&] {
        auto* f = open();
        ASSERT_NE(f, nullptr);
        // The panoramic defaults are shown; no preview image is kept.
        EXPECT_EQ(std::tuple(f->caption(), f->txtTilesX.text(), f->imgAfter.visible()),
                  std::tuple("Enhancement options - Panoramic", "12", false));
        f->txtTilesX.typeText("16");
        f->txtClip.typeText("3,5");  // either decimal separator
        f->txtBlend.typeText("70");
        f->cmdOK.click();
    });
    EXPECT_TRUE(ec.showOptions("Panoramic", kPanoramic, 0, true));
    EXPECT_EQ(
        std::tuple(ec.options(kPanoramic), ec.options(kIntraoral), open(), world.live().windows),
        std::tuple(EnhancementOptions{16, 6, 3.5, 50, 70}, intraBefore, nullptr, 0u));
}

TEST_F(OptionsFormTest, InvalidValuesKeepTheFormOpenAndCancelChangesNothing) {
    const EnhancementOptions before = ec.options(kCephalometric);
    world.after(10, [&] {
        auto* f = open();
        ASSERT_NE(f, nullptr);
        f->txtSharpen.typeText("250");
        f->txtTilesY.typeText("x");
        f->cmdOK.click();
        // Refused, with the reason shown.
        EXPECT_EQ(std::tuple(f->loaded(), f->invalidBox(), f->lblError.caption().empty()),
                  std::tuple(true, "txtTilesY", false));
        f->cmdCancel.click();
    });
    EXPECT_FALSE(ec.showOptions("Cephalometric", kCephalometric, 0, false));
    EXPECT_EQ(ec.options(kCephalometric), before);
    EXPECT_FALSE(ec.showOptions("Other", 5, 0, true));  // unknown type: nothing shown
}

TEST_F(OptionsFormTest, PreviewShowsTheLastImageBeforeAndAfter) {
    const Image img =
        test::imageOf(200, 150, 16, [](auto x, auto y) { return 30000 + x * 5 + (y / 10) * 40; });
    platform::HGlobal out = 0;
    ASSERT_EQ(ec.enhance(kIntraoral, &img, out, true), 0);
    proc.memory().free(out);
    world.after(10, [&] {
        auto* f = open();
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(f->imgAfter.image());
        const auto first = f->imgAfter.image();
        EXPECT_EQ(f->imgBefore.image()->width, 200);
        f->txtBlend.typeText("0");  // the preview follows the values
        EXPECT_NE(f->imgAfter.image(), first);
        f->cmdCancel.click();
    });
    EXPECT_FALSE(ec.showOptions("Intraoral", kIntraoral, 0, true));
}

}  // namespace
}  // namespace quilo::imaging
