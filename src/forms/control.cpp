#include "forms/control.h"

#include "forms/form.h"
#include "forms/forms.h"

namespace quilo::forms {

std::string_view defaultTypeName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Label:
            return "Label";
        case ControlKind::CommandButton:
            return "CommandButton";
        case ControlKind::CheckBox:
            return "CheckBox";
        case ControlKind::OptionButton:
            return "OptionButton";
        case ControlKind::TextBox:
            return "TextBox";
        case ControlKind::ComboBox:
            return "ComboBox";
        case ControlKind::ListBox:
            return "ListBox";
        case ControlKind::Frame:
            return "Frame";
        case ControlKind::TabControl:
            return "TabStrip";
        case ControlKind::ImageList:
            return "ImageList";
        case ControlKind::Picture:
            return "Image";
        case ControlKind::Timer:
            return "Timer";
        case ControlKind::Menu:
            return "Menu";
        case ControlKind::ImageView:
            return "ImageView";
        case ControlKind::ThumbnailList:
            return "ThumbnailList";
    }
    return "Control";
}

Control::Control(Form& form, ControlKind kind, std::string name, std::optional<int> index)
    : form_(form),
      kind_(kind),
      name_(std::move(name)),
      index_(index),
      typeName_(defaultTypeName(kind)) {
    if (kind == ControlKind::TextBox || kind == ControlKind::ListBox ||
        kind == ControlKind::ComboBox) {
        backColor_ = color::kSystemWindow;
        foreColor_ = color::kSystemWindowText;
    }
}

Control::~Control() = default;

void Control::changed(Prop what) {
    form_.controlChanged(*this, what);
}

void Control::setContainer(Control* frameOrTabs, int tab) {
    if (frameOrTabs != nullptr && &frameOrTabs->form() != &form_) return;
    container_ = frameOrTabs;
    containerTab_ = tab;
    changed(Prop::Container);
}

void Control::setCaption(std::string_view caption) {
    if (caption_ == caption) return;
    caption_ = caption;
    changed(Prop::Caption);
}

void Control::setToolTipText(std::string_view text) {
    if (toolTip_ == text) return;
    toolTip_ = text;
    changed(Prop::ToolTip);
}

void Control::setEnabled(bool on) {
    if (enabled_ == on) return;
    enabled_ = on;
    changed(Prop::Enabled);
}

void Control::setVisible(bool on) {
    if (visible_ == on) return;
    visible_ = on;
    changed(Prop::Visible);
}

void Control::move(int left, int top, int width, int height) {
    if (width < 0 || height < 0) return;  // a negative size is not a size
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    changed(Prop::Geometry);
}

void Control::setBackColor(Color c) {
    if (backColor_ == c) return;
    backColor_ = c;
    changed(Prop::Colors);
}

void Control::setForeColor(Color c) {
    if (foreColor_ == c) return;
    foreColor_ = c;
    changed(Prop::Colors);
}

void Control::setMousePointer(int pointer) {
    if (mousePointer_ == pointer) return;
    mousePointer_ = pointer;
    changed(Prop::MousePointer);
}

void Control::setFontUnderline(bool on) {
    if (fontUnderline_ == on) return;
    fontUnderline_ = on;
    changed(Prop::Font);
}

void Control::setFontBold(bool bold) {
    if (fontBold_ == bold) return;
    fontBold_ = bold;
    changed(Prop::Font);
}

bool Control::canFocus() const {
    switch (kind_) {
        case ControlKind::CommandButton:
        case ControlKind::CheckBox:
        case ControlKind::OptionButton:
        case ControlKind::TextBox:
        case ControlKind::ComboBox:
        case ControlKind::ListBox:
        case ControlKind::TabControl:
        case ControlKind::ThumbnailList:
            return true;
        default:
            return false;
    }
}

bool Control::setFocus() {
    if (!canFocus() || !form_.loaded()) return false;
    for (const Control* c = this; c != nullptr; c = c->container()) {
        if (!c->visible() || !c->enabled()) return false;
    }
    return form_.moveFocus(this);
}

bool Control::hasFocus() const {
    return form_.activeControl() == this;
}

bool Control::userCanReach() const {
    if (!form_.userCanReach()) return false;
    const Control* child = this;
    for (const Control* c = this; c != nullptr; c = c->container()) {
        // A hidden menu still opens as a pop-up menu; its items count, not the menu.
        const bool hiddenPopup = c != this && c->kind() == ControlKind::Menu;
        if ((!c->visible() && !hiddenPopup) || !c->enabled()) return false;
        if (c != this && c->kind() == ControlKind::TabControl &&
            static_cast<const TabControl*>(c)->currentTab() != child->containerTab())
            return false;
        child = c;
    }
    return true;
}

void Control::fireClick() {
    if (onClick) onClick();
}

void Control::fireChange() {
    if (onChange) onChange();
}

bool Control::click() {
    if (!userCanReach()) return false;
    Form::Dispatch d(form_);
    if (kind_ == ControlKind::Timer || kind_ == ControlKind::ImageList) return false;
    if (canFocus() && !setFocus()) return false;
    switch (kind_) {
        case ControlKind::CheckBox: {
            auto& box = static_cast<CheckBox&>(*this);
            box.setValue(box.value() == 1 ? 0 : 1);
            return true;
        }
        case ControlKind::OptionButton:
            static_cast<OptionButton&>(*this).setValue(true);
            return true;
        default:
            fireClick();
            return true;
    }
}

bool Control::mouseDown(int button, int x, int y, int shiftState) {
    if (!userCanReach()) return false;
    Form::Dispatch d(form_);
    if (onMouseDown) onMouseDown(button, shiftState, x, y);
    return true;
}

bool Control::pressKey(int keyCode, int shiftState) {
    if (!userCanReach()) return false;
    Form::Dispatch d(form_);
    if (!setFocus()) return false;
    form_.deliverKey(this, true, keyCode, shiftState);
    if (form_.loaded()) form_.deliverKey(this, false, keyCode, shiftState);
    return true;
}

}  // namespace quilo::forms
