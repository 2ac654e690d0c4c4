// The controls of a form. A form declares its controls once, in code, with their names,
// captions, tags and positions in twips; the model keeps every property and raises the events.
// With a renderer attached the same properties appear in real windows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "forms/types.h"

namespace quilo::forms {

class Form;

enum class ControlKind {
    Label,
    CommandButton,
    CheckBox,
    OptionButton,
    TextBox,
    ComboBox,
    ListBox,
    Frame,
    TabControl,
    ImageList,
    Picture,  // a small picture, such as the status icon
    Timer,
    Menu,
    ImageView,
    ThumbnailList,
};

// What changed, as the renderer is told.
enum class Prop {
    Caption,
    ToolTip,
    Enabled,
    Visible,
    Geometry,
    Colors,
    MousePointer,
    Value,
    Text,
    Items,
    ListIndex,
    Selection,
    Tabs,
    CurrentTab,
    Picture,
    Interval,
    Font,
    EnsureVisible,
    Container,
};

class Control {
  public:
    virtual ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    Form& form() const { return form_; }
    ControlKind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    // The position in a control array; empty for a control that is not part of one.
    std::optional<int> index() const { return index_; }
    // The class name the translator dispatches on ("Label", "CommandButton", ...).
    const std::string& typeName() const { return typeName_; }
    void setTypeName(std::string typeName) { typeName_ = std::move(typeName); }
    // A serial number unique within the form (renderers use it as the child window id).
    int id() const { return id_; }

    // The frame or tab page this control sits in; null for the form itself.
    Control* container() const { return container_; }
    int containerTab() const { return containerTab_; }
    void setContainer(Control* frameOrTabs, int tab = 0);

    const std::string& caption() const { return caption_; }
    void setCaption(std::string_view caption);
    const std::string& tag() const { return tag_; }
    void setTag(std::string_view tag) { tag_ = tag; }
    const std::string& toolTipText() const { return toolTip_; }
    void setToolTipText(std::string_view text);
    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    bool visible() const { return visible_; }
    void setVisible(bool on);

    // Position and size in twips, relative to the container's client area.
    int left() const { return left_; }
    int top() const { return top_; }
    int width() const { return width_; }
    int height() const { return height_; }
    void setLeft(int v) { move(v, top_, width_, height_); }
    void setTop(int v) { move(left_, v, width_, height_); }
    void setWidth(int v) { move(left_, top_, v, height_); }
    void setHeight(int v) { move(left_, top_, width_, v); }
    void move(int left, int top, int width, int height);

    Color backColor() const { return backColor_; }
    void setBackColor(Color c);
    Color foreColor() const { return foreColor_; }
    void setForeColor(Color c);
    int mousePointer() const { return mousePointer_; }
    void setMousePointer(int pointer);
    bool fontBold() const { return fontBold_; }
    void setFontBold(bool bold);
    bool fontUnderline() const { return fontUnderline_; }
    void setFontUnderline(bool on);
    // False: moving the focus here does not validate the control that loses it (a Cancel
    // button must work while a box holds text that would not pass).
    bool causesValidation() const { return causesValidation_; }
    void setCausesValidation(bool on) { causesValidation_ = on; }

    // Whether the control can take the keyboard focus at all (labels, frames, timers cannot).
    bool canFocus() const;
    // Moves the keyboard focus here (the control that loses it may refuse through Validate).
    bool setFocus();
    bool hasFocus() const;

    // --- events (left empty when the form does not handle them) -------------------------
    std::function<void()> onClick;
    std::function<void()> onDblClick;
    std::function<void()> onChange;
    std::function<void(int keyCode, int shift)> onKeyDown;
    std::function<void(int keyCode, int shift)> onKeyUp;
    std::function<void(int button, int shift, int x, int y)> onMouseDown;
    std::function<void()> onGotFocus;
    std::function<void()> onLostFocus;
    // Before the focus leaves: setting cancel keeps it here.
    std::function<void(bool& cancel)> onValidate;

    // --- driving the control as a user would (tests, and the renderer for real input) ----
    // Each returns false and does nothing when a user could not do it now: the form is not
    // shown, another form is modal, or the control (or its container) is hidden or disabled.
    bool click();
    bool mouseDown(int button, int x = 0, int y = 0, int shiftState = 0);
    bool pressKey(int keyCode, int shiftState = 0);

    // Whether the user can reach the control now (see above).
    bool userCanReach() const;

    // For the renderer: raise an event without the reachability check.
    void fireClick();
    void fireChange();

  protected:
    Control(Form& form, ControlKind kind, std::string name, std::optional<int> index);
    void changed(Prop what);

  private:
    friend class Form;
    Form& form_;
    ControlKind kind_;
    std::string name_;
    std::optional<int> index_;
    std::string typeName_;
    int id_ = 0;
    Control* container_ = nullptr;
    int containerTab_ = 0;
    std::string caption_;
    std::string tag_;
    std::string toolTip_;
    bool enabled_ = true;
    bool visible_ = true;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    Color backColor_ = color::kSystemButtonFace;
    Color foreColor_ = color::kSystemButtonText;
    int mousePointer_ = pointer::kDefault;
    bool fontBold_ = false;
    bool fontUnderline_ = false;
    bool causesValidation_ = true;
};

// The type name each kind has unless a form says otherwise.
std::string_view defaultTypeName(ControlKind kind);

}  // namespace quilo::forms
