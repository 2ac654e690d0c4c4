// Translating forms of the forms model from their controls' tags.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

#include "forms/forms.h"
#include "support/world.h"
#include "ui/language/language_selector.h"

namespace quilo::ui {
namespace {

using forms::Control;

// A toolbar: buttons with tags and indexes of their own.
class TestToolbar final : public forms::Label, public ToolbarTexts {
  public:
    TestToolbar(forms::Form& f, std::string name, std::optional<int> index)
        : forms::Label(f, std::move(name), index) {
        setTypeName("Toolbar");
    }
    struct Button {
        std::string tag, caption, tip;
        int index;
    };
    std::vector<Button> buttons;
    int buttonCount() const override { return static_cast<int>(buttons.size()); }
    std::string buttonTag(int i) const override { return buttons[i].tag; }
    int buttonIndex(int i) const override { return buttons[i].index; }
    void setButtonCaption(int i, std::string_view t) override { buttons[i].caption = t; }
    void setButtonToolTip(int i, std::string_view t) override { buttons[i].tip = t; }
};

// A list with column headers.
class TestListView final : public forms::Label, public ColumnHeaderTexts {
  public:
    TestListView(forms::Form& f, std::string name, std::optional<int> index)
        : forms::Label(f, std::move(name), index) {
        setTypeName("ListView");
    }
    std::vector<std::pair<std::string, std::string>> columns;  // tag, text
    int columnCount() const override { return static_cast<int>(columns.size()); }
    std::string columnTag(int i) const override { return columns[i].first; }
    void setColumnText(int i, std::string_view t) override { columns[i].second = t; }
};

// A grid whose header cells are set by column.
class TestGrid final : public forms::Label, public GridHeaderTexts {
  public:
    TestGrid(forms::Form& f, std::string name, std::optional<int> index)
        : forms::Label(f, std::move(name), index) {
        setTypeName("vaSpread");
    }
    std::map<int, std::string> headers;
    int cols = 3;
    int maxCols() const override { return cols; }
    void setHeaderText(int column, std::string_view t) override { headers[column] = t; }
};

const char* const kTexts =
    "3000 XXX Setup\n3010 Plugin Options\n3020 Plugin Visible\n30201 Show the window\n"
    "3050 Scan parameters\n3060 Driver INI-file:\n30601 Path of the INI file\n3120 About...\n"
    "3130 OK\n31301 Save and close\n2 Second item\n500 Tab A\n5001 Tip A\n600 Tab B\n6002 Tip B\n"
    "7001 One\n7003 Three\n800 Browse\n900 Column\n100 Title\n1001 Title tip\n0 Zero\n";

// Every test starts from kTexts, loaded.
class Translate : public ::testing::Test {
  protected:
    void SetUp() override { load(kTexts); }

    void load(const std::string& text) {
        w.put(table_.languageFilePath("English"), text);
        table_.Initlanguage("English");
        ASSERT_TRUE(process_.messageBoxes().empty());
    }
    template <class T>
    T& add(const std::string& name, const std::string& tag, const std::string& caption = "design",
           std::optional<int> index = std::nullopt) {
        T& c = target_->add<T>(name, index);
        c.setTag(tag);
        c.setCaption(caption);
        c.setToolTipText("design tip");
        return c;
    }

    test::TestWorld w;
    sim::SimProcess& process_ = w.proc;
    forms::Forms forms_{process_};
    forms::Form form_{forms_, "frmTest"};
    modLAnguageSelector table_{process_.files(), process_.process()};
    forms::Form* target_ = &form_;  // where add() puts its controls
};

TEST_F(Translate, CaptionsAndToolTipsOfTheCommonKinds) {
    auto& label = add<forms::Label>("Label5", "3050");
    auto& button = add<forms::CommandButton>("OKButton", "3130");
    auto& check = add<forms::CheckBox>("chkVisible", "3020");
    auto& option = add<forms::OptionButton>("optA", "3120");
    auto& text = add<forms::TextBox>("Text1", "3060");
    auto& frame = add<forms::Frame>("fraPluginOptions", "3010");
    auto& missing = add<forms::Label>("l", "4321");
    auto& browse = add<forms::CommandButton>("cmdBrowse", "800");
    browse.setTypeName("BrowseButton");
    auto& spin = add<forms::Label>("UpDown1", "800");
    spin.setTypeName("UpDown");
    auto& picture = add<forms::Picture>("imgArray", "100", "design", 1);
    auto& item = add<forms::Menu>("mnuItem", "99", "design", 2);
    auto& negative = add<forms::Label>("UpDown2", "-800");
    negative.setTypeName("UpDown");
    table_.TranslateForm(form_);
    // 31201 is missing: the option's tip is set empty; a number without a text empties the
    // caption. Browse and spin buttons take the text as their tip; other kinds take the caption
    // and the tip of their index, menus the text of their index.
    const std::pair<Control*, std::tuple<const char*, const char*>> expected[] = {
        {&label, {"Scan parameters", "design tip"}},
        {&button, {"OK", "Save and close"}},
        {&check, {"Plugin Visible", "Show the window"}},
        {&option, {"About...", ""}},
        {&text, {"design", "Path of the INI file"}},
        {&frame, {"Plugin Options", "design tip"}},
        {&missing, {"", "design tip"}},
        {&browse, {"design", "Browse"}},
        {&spin, {"design", "Browse"}},
        {&picture, {"Title", "Title tip"}},
        {&item, {"Second item", "design tip"}},
        {&negative, {"design", "design tip"}}};
    for (const auto& [c, texts] : expected)
        EXPECT_EQ(std::tuple(c->caption(), c->toolTipText()), texts) << c->name();
}

TEST_F(Translate, ControlsWithoutANumberListsAndTimersAreLeftAlone) {
    auto& empty = add<forms::Label>("a", "");
    auto& zero = add<forms::Label>("b", "0");
    auto& picture = add<forms::Picture>("imgStatus", "RedCir");  // the status icon's own data
    // Lists and timers are not translated whatever their tag.
    auto& combo = add<forms::ComboBox>("cboDepth", "3050");
    auto& list = add<forms::ListBox>("lstParams", "3050");
    auto& timer = add<forms::Timer>("tmrAlive", "3050");
    auto& after = add<forms::Label>("c", "3050");
    table_.TranslateForm(form_);
    for (const forms::Control* c :
         std::initializer_list<const forms::Control*>{&empty, &zero, &picture, &combo, &timer})
        EXPECT_EQ(c->caption(), "design") << c->name();
    EXPECT_EQ(list.toolTipText(), "design tip");
    EXPECT_EQ(after.caption(), "Scan parameters");
}

TEST_F(Translate, FormCaptionOnlyFromANonEmptyText) {
    form_.setCaption("Dialog Caption");
    // No tag: number 0, whose text "Zero" is taken. 4444 has no text, then the text "0", which
    // does not count either: the caption stays.
    for (const auto& [tag, texts, caption] :
         {std::tuple("", "", "Zero"), std::tuple("3000", "", "XXX Setup"),
          std::tuple("4444", "", "XXX Setup"), std::tuple("4444", "4444 0\n", "XXX Setup")}) {
        if (*texts) load(texts);
        form_.setTag(tag);
        table_.TranslateForm(form_);
        EXPECT_EQ(form_.caption(), caption) << tag;
    }
}

// Tab strips, toolbars and list views take their parts' tags; tabbed dialogs and grids number
// their parts from the control's tag.
TEST_F(Translate, TabsToolbarsListViewsAndGridsTranslateTheirParts) {
    auto& strip = add<forms::TabControl>("TabStrip1", "1");
    strip.addTab("a", "500");
    strip.addTab("b", "600");
    auto& tabs = add<forms::TabControl>("SSTab1", "700");
    tabs.setTypeName("SSActiveTabs");
    tabs.addTab("Intraoral");
    tabs.addTab("Panoramic");
    tabs.addTab("Cephalometric");
    auto& bar = add<TestToolbar>("Toolbar1", "1");
    bar.buttons = {{"500", "", "", 1}, {"600", "", "", 2}};
    auto& view = add<TestListView>("ListView1", "1");
    view.columns = {{"900", "x"}, {"3130", "y"}};
    auto& grid = add<TestGrid>("vaSpread1", "700");
    grid.headers[2] = "kept";
    table_.TranslateForm(form_);
    // The tips: tag 500 and index 1, tag 600 and index 2.
    EXPECT_EQ(std::tuple(strip.tab(0).caption, strip.tab(0).toolTip, strip.tab(1).caption,
                         strip.tab(1).toolTip),
              std::tuple("Tab A", "Tip A", "Tab B", "Tip B"));
    EXPECT_EQ(std::tuple(tabs.tab(0).caption, tabs.tab(1).caption, tabs.tab(2).caption),
              std::tuple("One", "", "Three"));
    EXPECT_EQ(std::tuple(bar.buttons[0].caption, bar.buttons[0].tip, bar.buttons[1].caption,
                         bar.buttons[1].tip, view.columns[0].second, view.columns[1].second),
              std::tuple("Tab A", "Tip A", "Tab B", "Tip B", "Column", "OK"));
    // An empty text leaves a header alone.
    EXPECT_EQ(grid.headers, (std::map<int, std::string>{{1, "One"}, {2, "kept"}, {3, "Three"}}));
}

// A menu outside a menu array, a picture not in a control array (no index for its tip), a kind
// without its parts (a list view without column headers).
TEST_F(Translate, TheFirstControlThatCannotBeTranslatedEndsTheWalkSilently) {
    const std::function<void()> blockers[] = {
        [&] { add<forms::Menu>("mnuSetup", "5"); },
        [&] { add<forms::Picture>("imgSingle", "100"); },
        [&] { add<forms::Label>("lv", "900").setTypeName("ListView"); }};
    for (const auto& block : blockers) {
        forms::Form form(forms_, "frmWalk");
        target_ = &form;
        auto& before = add<forms::Label>("before", "3050");
        block();
        auto& after = add<forms::Label>("after", "3060");
        table_.TranslateForm(form);
        EXPECT_EQ(std::tuple(before.caption(), after.caption()),
                  std::tuple("Scan parameters", "design"));
    }
    EXPECT_TRUE(process_.messageBoxes().empty());
}

TEST_F(Translate, ACollectionOfControlsWithoutTheFormCaption) {
    form_.setTag("3000");
    form_.setCaption("Main");
    auto& label = add<forms::Label>("Label5", "3050");
    table_.TranslateForm(form_.controls());
    EXPECT_EQ(form_.caption(), "Main");
    EXPECT_EQ(label.caption(), "Scan parameters");
    // The dialogs reach the same table through their lookup.
    TextLookup& lookup = table_;
    EXPECT_EQ(lookup.langText(100), "Title");
    label.setCaption("design");
    lookup.translateForm(form_);
    EXPECT_EQ(label.caption(), "Scan parameters");
    EXPECT_EQ(form_.caption(), "XXX Setup");
}

}  // namespace
}  // namespace quilo::ui
