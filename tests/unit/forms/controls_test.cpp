// The controls' own rules: values that raise Click or Change only when they change, option
// groups, lists with check boxes and item data, the image view's grey mapping,
// a click past the thumbnails and wrapped labels that size themselves.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "forms/forms.h"
#include "platform/sim/world.h"
#include "support/errors.h"

namespace quilo::forms {
namespace {

struct ControlsTest : ::testing::Test {
    sim::World world;
    sim::SimProcess& proc = world.createProcess();
    Forms forms{proc};
    Form form{forms, "frmSetup"};
};

using test::errorNumber;

TEST_F(ControlsTest, CheckBoxValueRaisesClickOnlyWhenItChanges) {
    auto& box = form.add<CheckBox>("chkInvert");
    std::vector<int> seen;
    box.onClick = [&] { seen.push_back(box.value()); };
    box.setValue(1);
    box.setValue(1);
    box.setValue(0);
    EXPECT_EQ(seen, (std::vector<int>{1, 0}));
    EXPECT_EQ(errorNumber([&] { box.setValue(3); }), 380);
    form.show();
    EXPECT_TRUE(box.click());
    EXPECT_TRUE(box.click());
    EXPECT_EQ(seen, (std::vector<int>{1, 0, 1, 0}));
    box.setValue(2);  // greyed: a click checks it
    box.click();
    EXPECT_EQ(box.value(), 1);
}

TEST_F(ControlsTest, OptionButtonsClearTheOthersOfTheirContainerOnly) {
    auto& frame = form.add<Frame>("fraMode");
    auto& a = form.add<OptionButton>("optA");
    auto& b = form.add<OptionButton>("optB");
    auto& outside = form.add<OptionButton>("optOutside");
    a.setContainer(&frame);
    b.setContainer(&frame);
    int bClicks = 0;
    b.onClick = [&] { ++bClicks; };
    outside.setValue(true);
    a.setValue(true);
    b.setValue(true);
    b.setValue(true);
    EXPECT_EQ(std::tuple(a.value(), b.value(), outside.value(), bClicks),
              std::tuple(false, true, true, 1));
}

TEST_F(ControlsTest, ListWithCheckBoxesKeepsItemDataAndChecksThroughEdits) {
    auto& list = form.add<ListBox>("lstParams");
    list.setStyle(ListBox::Style::CheckBox);
    std::vector<int> checks;
    int clicks = 0;
    list.onItemCheck = [&](int i) { checks.push_back(i); };
    list.onClick = [&] { ++clicks; };
    for (int n : {3, 5, 7}) {
        const int at = list.addItem("Set (#" + std::to_string(n) + ")");
        list.setItemData(at, n);
    }
    list.setSelected(1, true);
    list.setSelected(1, true);  // no change, no event
    EXPECT_EQ(std::tuple(checks, list.selCount()), std::tuple(std::vector<int>{1}, 1));

    // Inserting in front moves the lines and their data and marks with them.
    EXPECT_EQ(list.addItem("first", 0), 0);
    EXPECT_EQ(std::tuple(list.itemData(2), list.selected(2), list.selected(1)),
              std::tuple(5, true, false));
    list.removeItem(0);
    // Reading past the end gives an empty line.
    EXPECT_EQ(std::tuple(list.itemData(0), list.list(1), list.list(9)),
              std::tuple(3, "Set (#5)", ""));
    EXPECT_EQ(errorNumber([&] { list.itemData(3); }), 381);
    EXPECT_EQ(errorNumber([&] { list.setListIndex(3); }), 380);
    EXPECT_EQ(errorNumber([&] { list.removeItem(3); }), 5);

    form.show();
    checks.clear();
    EXPECT_TRUE(list.toggleCheck(2));
    EXPECT_EQ(std::tuple(checks, list.selected(2), list.listIndex(), clicks),
              std::tuple(std::vector<int>{2}, true, 2, 1));
    list.clear();
    EXPECT_EQ(std::tuple(list.listCount(), list.listIndex()), std::tuple(0, -1));
}

TEST_F(ControlsTest, ListOnlyComboBoxTextSelectsTheMatchingLine) {
    auto& depth = form.add<ComboBox>("cboDepth");
    for (const char* t : {"16-bit", "12-bit", "8-bit"})
        depth.addItem(t);
    int clicks = 0;
    depth.onClick = [&] { ++clicks; };
    EXPECT_EQ(depth.text(), "");
    depth.setText("8-bit");  // a list-only box selects the matching line
    EXPECT_EQ(std::tuple(depth.listIndex(), clicks), std::tuple(2, 1));
    EXPECT_EQ(errorNumber([&] { depth.setText("10-bit"); }), 383);
    depth.setListIndex(-1);
    EXPECT_EQ(depth.text(), "");
}

TEST_F(ControlsTest, TextBoxChangeAndLocking) {
    auto& box = form.add<TextBox>("Text1");
    std::vector<std::string> seen;
    box.onChange = [&] { seen.push_back(box.text()); };
    box.setText("C:\\a.ini");
    box.setText("C:\\a.ini");
    form.show();
    EXPECT_TRUE(box.typeText("C:\\b.ini"));
    box.setLocked(true);
    EXPECT_FALSE(box.typeText("C:\\c.ini"));
    EXPECT_EQ(seen, (std::vector<std::string>{"C:\\a.ini", "C:\\b.ini"}));
}

TEST_F(ControlsTest, TheCurrentTabClicksOnceAndMustExist) {
    auto& tabs = form.add<TabControl>("SSTab1");
    tabs.addTab("Intraoral");
    tabs.addTab("Panoramic");
    int clicks = 0;
    tabs.onClick = [&] { ++clicks; };
    tabs.setCurrentTab(1);
    tabs.setCurrentTab(1);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(errorNumber([&] { tabs.setCurrentTab(2); }), 381);
}

TEST_F(ControlsTest, ImageViewMapsTheGreyWindowToEightBits) {
    auto& view = form.add<ImageView>("LEAD2");
    // 0, 1000, 2048 and 4095, little-endian.
    std::vector<std::uint8_t> bytes = {0x00, 0x00, 0xE8, 0x03, 0x00, 0x08, 0xFF, 0x0F};
    auto image = makeDisplayImage(4, 1, 12, bytes);
    ASSERT_TRUE(image && image->valid());
    view.setImage(image);
    const auto greys = [&](std::initializer_list<std::uint32_t> samples) {
        std::vector<int> out;
        for (std::uint32_t v : samples)
            out.push_back(view.screenGrey(v));
        return out;
    };
    // Without a window the picture's whole range is shown.
    EXPECT_EQ(greys({0, 4095, 2048}), (std::vector<int>{0, 255, 128}));
    view.setWindowLevel(1000, 400);  // 800 .. 1200
    EXPECT_EQ(std::tuple(view.windowLow(), view.windowHigh()), std::tuple(800u, 1200u));
    EXPECT_EQ(greys({700, 1000, 1300}), (std::vector<int>{0, 128, 255}));
    view.setWindowLevel(100, 1000);  // the low end is cut at 0
    EXPECT_EQ(view.windowLow(), 0u);
    view.setWindowLevel(5, 0);  // a zero width still maps without dividing by zero
    EXPECT_EQ(greys({4, 6}), (std::vector<int>{0, 255}));

    // A picture that claims more pixels than it holds is refused.
    EXPECT_EQ(makeDisplayImage(4, 4, 16, std::vector<std::uint8_t>(8)), nullptr);
    DisplayImage bad = *image;
    bad.bitsPerPixel = 10;
    EXPECT_EQ(errorNumber([&] { view.setImage(std::make_shared<DisplayImage>(bad)); }), 380);
}

TEST_F(ControlsTest, TheScreenImageMapsEveryPixelAndPicturesFitTheirBox) {
    auto& view = form.add<ImageView>("LEAD1");
    EXPECT_TRUE(view.screenImage().empty());
    // 16-bit values with the high byte set: the mapping must read both bytes.
    std::vector<std::uint8_t> bytes = {0x00, 0x00, 0xFF, 0xFF, 0x00, 0x80, 0xFF, 0x7F};
    view.setImage(makeDisplayImage(2, 2, 16, bytes));
    EXPECT_EQ(view.screenImage(), (std::vector<std::uint8_t>{0, 255, 128, 127}));
    view.setWindowLevel(0x8000, 2);
    EXPECT_EQ(view.screenImage(), (std::vector<std::uint8_t>{0, 255, 128, 0}));
    // A 12-bit picture with stray high bits is read within its 12 bits.
    view.setImage(makeDisplayImage(1, 1, 12, {0xFF, 0xFF}));
    view.resetWindowLevel();
    EXPECT_EQ(view.screenImage(), (std::vector<std::uint8_t>{255}));

    EXPECT_EQ(fitInside(200, 100, 100, 100), (FitRect{0, 25, 100, 50}));
    EXPECT_EQ(fitInside(100, 200, 100, 100), (FitRect{25, 0, 50, 100}));
    EXPECT_EQ(fitInside(10, 10, 300, 100), (FitRect{100, 0, 100, 100}));
    EXPECT_EQ(fitInside(4000, 1, 100, 100), (FitRect{0, 49, 100, 1}));  // never thinner than 1
    EXPECT_EQ(fitInside(0, 10, 100, 100), FitRect{});
}

TEST_F(ControlsTest, ThumbnailListRefusesAClickPastItsLastItem) {
    auto& strip = form.add<ThumbnailList>("ImgList");
    strip.addItem(makeDisplayImage(2, 2, 8, std::vector<std::uint8_t>(4, 9)), "Image 1");
    form.show();
    EXPECT_FALSE(strip.toggleItem(1));
}

// Wrapped labels keep their width and grow downwards.
TEST_F(ControlsTest, AutoSizedWrappedLabelsGrowDownwards) {
    auto& label = form.add<Label>("msgLabel");
    label.setAutoSize(true);
    label.setWordWrap(true);
    label.setWidth(forms.measureText("abcde").width);
    label.setCaption("abcdefghij");
    EXPECT_EQ(std::tuple(label.width(), label.height()),
              std::tuple(forms.measureText("abcde").width, 2 * forms.measureText("x").height));
}

// Which icon the status picture shows is the main window's test.
TEST_F(ControlsTest, ImageListsHoldColourPicturesByKey) {
    auto& icons = form.add<ImageList>("imgICONS");
    // Status pictures are in colour: blue, green, red and a spare byte per pixel.
    auto red = makeDisplayImage(2, 1, 32, {0, 0, 255, 0, 0, 128, 0, 0});
    ASSERT_TRUE(red && red->valid());
    EXPECT_EQ(std::tuple(red->grey(), red->at(0, 0), red->at(1, 0)),
              std::tuple(false, 0xFF0000u, 0x008000u));
    // The image view maps grey values only.
    auto& view = form.add<ImageView>("LEAD1");
    EXPECT_EQ(errorNumber([&] { view.setImage(red); }), 380);
    icons.add("RedCir", red);
    EXPECT_EQ(std::tuple(icons.visible(), icons.image("Missing"), icons.image("RedCir")),
              std::tuple(false, nullptr, red));
}

}  // namespace
}  // namespace quilo::forms
