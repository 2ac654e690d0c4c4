// The control kinds the forms of the program use.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forms/control.h"

namespace quilo::forms {

// Where a label's caption sits across its width.
enum class Alignment { Left, Right, Center };

class Label : public Control {
  public:
    Label(Form& form, std::string name, std::optional<int> index = std::nullopt);
    Alignment alignment() const { return alignment_; }
    void setAlignment(Alignment a);
    // With automatic sizing the label takes the size of its caption (every line, unwrapped).
    bool autoSize() const { return autoSize_; }
    void setAutoSize(bool on);
    bool wordWrap() const { return wordWrap_; }
    void setWordWrap(bool on);
    // Re-measures an automatically sized label (the form calls this when the caption changes).
    void fitToCaption();

  private:
    bool autoSize_ = false;
    bool wordWrap_ = false;
    Alignment alignment_ = Alignment::Left;
};

class CommandButton : public Control {
  public:
    CommandButton(Form& form, std::string name, std::optional<int> index = std::nullopt);
    // The default button is clicked by Enter, the cancel button by Escape.
    bool isDefault() const { return default_; }
    void setDefault(bool on) { default_ = on; }
    bool isCancel() const { return cancel_; }
    void setCancel(bool on) { cancel_ = on; }

  private:
    bool default_ = false;
    bool cancel_ = false;
};

// Value 0 cleared, 1 checked, 2 greyed. Setting a different value raises Click, as a user's
// click does.
class CheckBox : public Control {
  public:
    CheckBox(Form& form, std::string name, std::optional<int> index = std::nullopt);
    int value() const { return value_; }
    void setValue(int value);

  private:
    friend class Control;
    int value_ = 0;
};

// Option buttons in the same container form one group: setting one clears the others.
class OptionButton : public Control {
  public:
    OptionButton(Form& form, std::string name, std::optional<int> index = std::nullopt);
    bool value() const { return value_; }
    void setValue(bool on);

  private:
    bool value_ = false;
};

// Setting a different text raises Change.
class TextBox : public Control {
  public:
    TextBox(Form& form, std::string name, std::optional<int> index = std::nullopt);
    const std::string& text() const { return text_; }
    void setText(std::string_view text);
    bool multiLine() const { return multiLine_; }
    void setMultiLine(bool on) { multiLine_ = on; }
    bool locked() const { return locked_; }
    void setLocked(bool on);
    // The user types: replaces the text unless the box is locked or unreachable.
    bool typeText(std::string_view text);

  private:
    std::string text_;
    bool multiLine_ = false;
    bool locked_ = false;
};

struct ListItem {
    std::string text;
    std::int32_t itemData = 0;
    bool selected = false;  // the check mark of a list with check boxes
};

// What combo boxes and list boxes share: the items, their data and the current line.
class ListControl : public Control {
  public:
    int listCount() const { return static_cast<int>(items_.size()); }
    const std::vector<ListItem>& items() const { return items_; }
    // Adds a line at `at` (-1: the end); returns its index (NewIndex).
    int addItem(std::string_view text, int at = -1);
    void removeItem(int at);
    void clear();
    std::string list(int i) const;
    std::int32_t itemData(int i) const;
    void setItemData(int i, std::int32_t data);
    // The current line, -1 for none. Setting a different line raises Click.
    int listIndex() const { return listIndex_; }
    void setListIndex(int i);
    // The user picks a line (Click follows).
    bool selectItem(int i);

  protected:
    ListControl(Form& form, ControlKind kind, std::string name, std::optional<int> index);
    std::vector<ListItem> items_;
    int listIndex_ = -1;
    void checkIndex(int i) const;
};

class ComboBox : public ListControl {
  public:
    enum class Style { DropdownCombo, Simple, DropdownList };
    ComboBox(Form& form, std::string name, std::optional<int> index = std::nullopt);
    Style style() const { return style_; }
    void setStyle(Style s) { style_ = s; }
    // The text in the box: the current line's text, or what was typed into an editable one.
    std::string text() const;
    void setText(std::string_view text);

  private:
    Style style_ = Style::DropdownList;
    std::string editText_;
};

class ListBox : public ListControl {
  public:
    enum class Style { Standard, CheckBox };
    ListBox(Form& form, std::string name, std::optional<int> index = std::nullopt);
    Style style() const { return style_; }
    void setStyle(Style s) { style_ = s; }
    // The check mark of a line (lists with check boxes) or its selection (plain lists).
    bool selected(int i) const;
    // Changing the mark of a list with check boxes raises ItemCheck.
    void setSelected(int i, bool on);
    // The user toggles the check box of a line.
    bool toggleCheck(int i);
    std::function<void(int item)> onItemCheck;
    int selCount() const;

  private:
    Style style_ = Style::Standard;
};

class Frame : public Control {
  public:
    Frame(Form& form, std::string name, std::optional<int> index = std::nullopt);
};

struct Tab {
    std::string caption;
    std::string tag;
    std::string toolTip;
};

// A row of tabs; controls placed on tab n are shown only while tab n is current.
class TabControl : public Control {
  public:
    TabControl(Form& form, std::string name, std::optional<int> index = std::nullopt);
    int addTab(std::string_view caption, std::string_view tag = {});
    int tabCount() const { return static_cast<int>(tabs_.size()); }
    const Tab& tab(int i) const;
    void setTabCaption(int i, std::string_view caption);
    void setTabToolTip(int i, std::string_view text);
    void setTabTag(int i, std::string_view tag);
    // The current tab (0-based). Changing it raises Click.
    int currentTab() const { return current_; }
    void setCurrentTab(int i);
    bool selectTab(int i);  // the user clicks a tab

  private:
    std::vector<Tab> tabs_;
    int current_ = 0;
};

// Pictures kept by key for other controls to show; never visible itself.
class ImageList : public Control {
  public:
    ImageList(Form& form, std::string name, std::optional<int> index = std::nullopt);
    void add(std::string key, std::shared_ptr<const DisplayImage> image);
    // Null when no picture has that key.
    std::shared_ptr<const DisplayImage> image(std::string_view key) const;
    int count() const { return static_cast<int>(images_.size()); }

  private:
    std::map<std::string, std::shared_ptr<const DisplayImage>, std::less<>> images_;
};

// A small fixed picture (the status icon).
class Picture : public Control {
  public:
    Picture(Form& form, std::string name, std::optional<int> index = std::nullopt);
    const std::shared_ptr<const DisplayImage>& picture() const { return picture_; }
    void setPicture(std::shared_ptr<const DisplayImage> picture);

  private:
    std::shared_ptr<const DisplayImage> picture_;
};

// Raises Timer every `interval` milliseconds while enabled and its form is loaded. It runs on
// the platform's timers, so it ticks only while messages are pumped.
class Timer : public Control {
  public:
    Timer(Form& form, std::string name, std::optional<int> index = std::nullopt);
    std::uint32_t interval() const { return interval_; }
    void setInterval(std::uint32_t ms);
    std::function<void()> onTimer;
    // Whether the platform timer is running now.
    bool running() const { return running_; }

  private:
    friend class Form;
    std::uint32_t interval_ = 0;
    bool running_ = false;
};

// A menu or a menu item; items name their menu as container. A menu that is not visible is
// still available as a pop-up menu.
class Menu : public Control {
  public:
    Menu(Form& form, std::string name, std::optional<int> index = std::nullopt);
    bool checked() const { return checked_; }
    void setChecked(bool on);
    // The items of this menu, in declaration order.
    std::vector<Menu*> items() const;

  private:
    bool checked_ = false;
};

// Shows one grey picture scaled to fit, mapped to the screen's 8 bits through a window of
// grey values (centre and width). Without a window set, the picture's full range is shown.
class ImageView : public Control {
  public:
    ImageView(Form& form, std::string name, std::optional<int> index = std::nullopt);
    const std::shared_ptr<const DisplayImage>& image() const { return image_; }
    void setImage(std::shared_ptr<const DisplayImage> image);
    void setWindowLevel(std::uint32_t center, std::uint32_t width);
    void resetWindowLevel();
    // A top-aligned view puts its picture at the top of the box instead of its middle, so a
    // picture that grows downward (a plate being read) keeps its place.
    bool topAligned() const { return topAligned_; }
    void setTopAligned(bool on);
    // The grey value range [low, high] that maps to black .. white.
    std::uint32_t windowLow() const;
    std::uint32_t windowHigh() const;
    // The screen grey (0..255) for one picture value under the current window.
    std::uint8_t screenGrey(std::uint32_t value) const;
    // The whole picture mapped to screen greys, row by row without padding (empty when no
    // picture is set).
    std::vector<std::uint8_t> screenImage() const;

  private:
    std::shared_ptr<const DisplayImage> image_;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> window_;  // centre, width
    bool topAligned_ = false;
};

// Where a picture of w by h pixels lands when scaled to fit a box, aspect kept, centred.
struct FitRect {
    int x = 0, y = 0, width = 0, height = 0;
    friend bool operator==(const FitRect&, const FitRect&) = default;
};
FitRect fitInside(int width, int height, int boxWidth, int boxHeight);

struct Thumbnail {
    std::string text;
    std::string tag;
    std::shared_ptr<const DisplayImage> picture;
    bool selected = false;
};

// A strip of thumbnails with per-item text, tag and picture, and multiple selection.
class ThumbnailList : public Control {
  public:
    ThumbnailList(Form& form, std::string name, std::optional<int> index = std::nullopt);
    int count() const { return static_cast<int>(items_.size()); }
    const Thumbnail& item(int i) const;
    // Appends an item; returns its index.
    int addItem(std::shared_ptr<const DisplayImage> picture, std::string_view text);
    void setItemText(int i, std::string_view text);
    void setItemTag(int i, std::string_view tag);
    // Marks an item by code; raises no event.
    void setSelected(int i, bool on);
    bool selected(int i) const { return item(i).selected; }
    void clear();
    // Scrolls so that the item is visible.
    void ensureVisible(int i);
    int lastEnsuredVisible() const { return ensured_; }
    // The user clicks an item: toggles its selection and raises ItemSelected/ItemDeselected.
    bool toggleItem(int i);
    std::function<void(int item)> onItemSelected;
    std::function<void(int item)> onItemDeselected;

  private:
    std::vector<Thumbnail> items_;
    int ensured_ = -1;
};

}  // namespace quilo::forms
