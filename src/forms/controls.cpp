#include "forms/controls.h"

#include <algorithm>

#include "core/error.h"
#include "forms/form.h"
#include "forms/forms.h"

namespace quilo::forms {

namespace {
[[noreturn]] void invalidIndex() {
    throw RuntimeError(381, "Invalid property array index", "Forms");
}
[[noreturn]] void invalidValue() {
    throw RuntimeError(380, "Invalid property value", "Forms");
}
}  // namespace

std::shared_ptr<const DisplayImage> makeDisplayImage(int width, int height, int bitsPerPixel,
                                                     std::vector<std::uint8_t> bytes) {
    auto store = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
    auto image = std::make_shared<DisplayImage>();
    image->width = width;
    image->height = height;
    image->bitsPerPixel = bitsPerPixel;
    image->stride = static_cast<std::size_t>(width) * DisplayImage::bytesPerPixel(bitsPerPixel);
    if (store->size() < image->stride * static_cast<std::size_t>(height)) return nullptr;
    image->pixels = store->data();
    image->owner = store;
    return image;
}

// --- Label ----------------------------------------------------------------------------------

Label::Label(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::Label, std::move(name), index) {}

void Label::setAlignment(Alignment a) {
    if (alignment_ == a) return;
    alignment_ = a;
    changed(Prop::Caption);
}

void Label::setAutoSize(bool on) {
    autoSize_ = on;
    fitToCaption();
}

void Label::setWordWrap(bool on) {
    wordWrap_ = on;
    fitToCaption();
}

void Label::fitToCaption() {
    if (!autoSize_) return;
    const TwipSize text = form().forms().measureText(caption(), fontBold());
    if (!wordWrap_ || width() <= 0) {
        move(left(), top(), text.width, text.height);
        return;
    }
    // Wrapped: the width stays, the height grows by the lines the wrapping adds.
    const int lineHeight = form().forms().measureText("X", fontBold()).height;
    int lines = 0;
    std::string_view rest = caption();
    while (true) {
        const auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const int w = form().forms().measureText(line, fontBold()).width;
        lines += std::max(1, (w + width() - 1) / width());
        if (nl == std::string_view::npos) break;
        rest.remove_prefix(nl + 1);
    }
    move(left(), top(), width(), lines * lineHeight);
}

// --- buttons ----------------------------------------------------------------------------------

CommandButton::CommandButton(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::CommandButton, std::move(name), index) {}

CheckBox::CheckBox(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::CheckBox, std::move(name), index) {}

void CheckBox::setValue(int value) {
    if (value < 0 || value > 2) invalidValue();
    if (value == value_) return;
    value_ = value;
    changed(Prop::Value);
    fireClick();
}

OptionButton::OptionButton(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::OptionButton, std::move(name), index) {}

void OptionButton::setValue(bool on) {
    if (on == value_) return;
    value_ = on;
    changed(Prop::Value);
    if (on) {
        for (Control* c : form().controls()) {
            if (c != this && c->kind() == ControlKind::OptionButton &&
                c->container() == container() && c->containerTab() == containerTab())
                static_cast<OptionButton*>(c)->setValue(false);
        }
        fireClick();
    }
}

// --- text box ---------------------------------------------------------------------------------

TextBox::TextBox(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::TextBox, std::move(name), index) {}

void TextBox::setText(std::string_view text) {
    if (text == text_) return;
    text_ = text;
    changed(Prop::Text);
    fireChange();
}

void TextBox::setLocked(bool on) {
    if (locked_ == on) return;
    locked_ = on;
    changed(Prop::Enabled);
}

bool TextBox::typeText(std::string_view text) {
    if (locked_ || !userCanReach()) return false;
    Form::Dispatch d(form());
    if (!setFocus()) return false;
    setText(text);
    return true;
}

// --- lists ------------------------------------------------------------------------------------

ListControl::ListControl(Form& form, ControlKind kind, std::string name, std::optional<int> index)
    : Control(form, kind, std::move(name), index) {}

void ListControl::checkIndex(int i) const {
    if (i < 0 || i >= listCount()) invalidIndex();
}

int ListControl::addItem(std::string_view text, int at) {
    if (at < -1 || at > listCount())
        throw RuntimeError(5, "Invalid procedure call or argument", "Forms");
    const int pos = at < 0 ? listCount() : at;
    items_.insert(items_.begin() + pos, ListItem{std::string(text), 0, false});
    if (listIndex_ >= pos) ++listIndex_;
    changed(Prop::Items);
    return pos;
}

void ListControl::removeItem(int at) {
    if (at < 0 || at >= listCount())
        throw RuntimeError(5, "Invalid procedure call or argument", "Forms");
    items_.erase(items_.begin() + at);
    if (listIndex_ == at)
        listIndex_ = -1;
    else if (listIndex_ > at)
        --listIndex_;
    changed(Prop::Items);
}

void ListControl::clear() {
    items_.clear();
    listIndex_ = -1;
    changed(Prop::Items);
}

std::string ListControl::list(int i) const {
    if (i < 0 || i >= listCount()) return {};
    return items_[static_cast<std::size_t>(i)].text;
}

std::int32_t ListControl::itemData(int i) const {
    checkIndex(i);
    return items_[static_cast<std::size_t>(i)].itemData;
}

void ListControl::setItemData(int i, std::int32_t data) {
    checkIndex(i);
    items_[static_cast<std::size_t>(i)].itemData = data;
}

void ListControl::setListIndex(int i) {
    if (i < -1 || i >= listCount()) invalidValue();
    if (i == listIndex_) return;
    listIndex_ = i;
    changed(Prop::ListIndex);
    fireClick();
}

bool ListControl::selectItem(int i) {
    if (i < 0 || i >= listCount() || !userCanReach()) return false;
    Form::Dispatch d(form());
    if (!setFocus()) return false;
    setListIndex(i);
    return true;
}

ComboBox::ComboBox(Form& form, std::string name, std::optional<int> index)
    : ListControl(form, ControlKind::ComboBox, std::move(name), index) {}

std::string ComboBox::text() const {
    if (style_ == Style::DropdownList) return list(listIndex_);
    return editText_;
}

void ComboBox::setText(std::string_view text) {
    if (style_ == Style::DropdownList) {
        // A list without an edit field can only show one of its lines.
        for (int i = 0; i < listCount(); ++i) {
            if (items_[static_cast<std::size_t>(i)].text == text) {
                setListIndex(i);
                return;
            }
        }
        throw RuntimeError(383, "'Text' property is read-only", "Forms");
    }
    if (editText_ == text) return;
    editText_ = text;
    changed(Prop::Text);
    fireChange();
}

ListBox::ListBox(Form& form, std::string name, std::optional<int> index)
    : ListControl(form, ControlKind::ListBox, std::move(name), index) {}

bool ListBox::selected(int i) const {
    checkIndex(i);
    if (style_ == Style::Standard) return i == listIndex_;
    return items_[static_cast<std::size_t>(i)].selected;
}

void ListBox::setSelected(int i, bool on) {
    checkIndex(i);
    if (style_ == Style::Standard) {
        if (on)
            setListIndex(i);
        else if (listIndex_ == i)
            setListIndex(-1);
        return;
    }
    auto& item = items_[static_cast<std::size_t>(i)];
    if (item.selected == on) return;
    item.selected = on;
    changed(Prop::Selection);
    if (onItemCheck) onItemCheck(i);
}

bool ListBox::toggleCheck(int i) {
    if (style_ != Style::CheckBox || i < 0 || i >= listCount() || !userCanReach()) return false;
    Form::Dispatch d(form());
    if (!setFocus()) return false;
    setSelected(i, !selected(i));
    setListIndex(i);
    return true;
}

int ListBox::selCount() const {
    if (style_ == Style::Standard) return listIndex_ >= 0 ? 1 : 0;
    return static_cast<int>(std::count_if(items_.begin(), items_.end(),
                                          [](const ListItem& it) { return it.selected; }));
}

// --- containers -------------------------------------------------------------------------------

Frame::Frame(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::Frame, std::move(name), index) {}

TabControl::TabControl(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::TabControl, std::move(name), index) {}

int TabControl::addTab(std::string_view caption, std::string_view tag) {
    tabs_.push_back(Tab{std::string(caption), std::string(tag), {}});
    changed(Prop::Tabs);
    return tabCount() - 1;
}

const Tab& TabControl::tab(int i) const {
    if (i < 0 || i >= tabCount()) invalidIndex();
    return tabs_[static_cast<std::size_t>(i)];
}

void TabControl::setTabCaption(int i, std::string_view caption) {
    tab(i);
    tabs_[static_cast<std::size_t>(i)].caption = caption;
    changed(Prop::Tabs);
}

void TabControl::setTabToolTip(int i, std::string_view text) {
    tab(i);
    tabs_[static_cast<std::size_t>(i)].toolTip = text;
    changed(Prop::Tabs);
}

void TabControl::setTabTag(int i, std::string_view tag) {
    tab(i);
    tabs_[static_cast<std::size_t>(i)].tag = tag;
}

void TabControl::setCurrentTab(int i) {
    tab(i);
    if (i == current_) return;
    current_ = i;
    changed(Prop::CurrentTab);
    fireClick();
}

bool TabControl::selectTab(int i) {
    if (i < 0 || i >= tabCount() || !userCanReach()) return false;
    Form::Dispatch d(form());
    setCurrentTab(i);
    return true;
}

// --- pictures and timers ------------------------------------------------------------------------

ImageList::ImageList(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::ImageList, std::move(name), index) {
    setVisible(false);
}

void ImageList::add(std::string key, std::shared_ptr<const DisplayImage> image) {
    images_[std::move(key)] = std::move(image);
}

std::shared_ptr<const DisplayImage> ImageList::image(std::string_view key) const {
    auto it = images_.find(key);
    return it == images_.end() ? nullptr : it->second;
}

Picture::Picture(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::Picture, std::move(name), index) {}

void Picture::setPicture(std::shared_ptr<const DisplayImage> picture) {
    picture_ = std::move(picture);
    changed(Prop::Picture);
}

Timer::Timer(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::Timer, std::move(name), index) {}

void Timer::setInterval(std::uint32_t ms) {
    if (ms == interval_) return;
    interval_ = ms;
    changed(Prop::Interval);
}

Menu::Menu(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::Menu, std::move(name), index) {}

void Menu::setChecked(bool on) {
    if (checked_ == on) return;
    checked_ = on;
    changed(Prop::Value);
}

std::vector<Menu*> Menu::items() const {
    std::vector<Menu*> out;
    for (Control* c : form().controls()) {
        if (c->kind() == ControlKind::Menu && c->container() == this)
            out.push_back(static_cast<Menu*>(c));
    }
    return out;
}

// --- image view -------------------------------------------------------------------------------

ImageView::ImageView(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::ImageView, std::move(name), index) {}

void ImageView::setImage(std::shared_ptr<const DisplayImage> image) {
    // The view maps grey values; a colour picture has none to map.
    if (image && (!image->valid() || !image->grey())) invalidValue();
    image_ = std::move(image);
    changed(Prop::Picture);
}

void ImageView::setWindowLevel(std::uint32_t center, std::uint32_t width) {
    window_ = std::make_pair(center, std::max<std::uint32_t>(width, 1));
    changed(Prop::Picture);
}

void ImageView::setTopAligned(bool on) {
    if (topAligned_ == on) return;
    topAligned_ = on;
    changed(Prop::Picture);
}

void ImageView::resetWindowLevel() {
    window_.reset();
    changed(Prop::Picture);
}

std::uint32_t ImageView::windowLow() const {
    if (!window_) return 0;
    const auto [center, width] = *window_;
    return center > width / 2 ? center - width / 2 : 0;
}

std::uint32_t ImageView::windowHigh() const {
    if (!window_) return image_ ? image_->maxValue() : 255u;
    const auto [center, width] = *window_;
    return std::max(windowLow() + 1, center + (width - width / 2));
}

std::uint8_t ImageView::screenGrey(std::uint32_t value) const {
    const std::uint32_t low = windowLow();
    const std::uint32_t high = windowHigh();
    if (value <= low) return 0;
    if (value >= high) return 255;
    const std::uint64_t num = static_cast<std::uint64_t>(value - low) * 255u;
    const std::uint64_t den = high - low;
    return static_cast<std::uint8_t>((num + den / 2) / den);
}

std::vector<std::uint8_t> ImageView::screenImage() const {
    std::vector<std::uint8_t> out;
    if (!image_ || !image_->valid()) return out;
    // One table entry per possible value keeps the mapping to a lookup per pixel.
    std::vector<std::uint8_t> table(static_cast<std::size_t>(image_->maxValue()) + 1);
    for (std::uint32_t v = 0; v < table.size(); ++v)
        table[v] = screenGrey(v);
    out.resize(static_cast<std::size_t>(image_->width) * static_cast<std::size_t>(image_->height));
    std::size_t k = 0;
    const std::uint32_t mask = image_->maxValue();
    for (int y = 0; y < image_->height; ++y) {
        for (int x = 0; x < image_->width; ++x)
            out[k++] = table[image_->at(x, y) & mask];
    }
    return out;
}

FitRect fitInside(int width, int height, int boxWidth, int boxHeight) {
    if (width <= 0 || height <= 0 || boxWidth <= 0 || boxHeight <= 0) return {};
    // Scale by the tighter of the two ratios (compared without rounding).
    int w = boxWidth;
    int h = static_cast<int>(static_cast<long long>(height) * boxWidth / width);
    if (static_cast<long long>(height) * boxWidth > static_cast<long long>(boxHeight) * width) {
        h = boxHeight;
        w = static_cast<int>(static_cast<long long>(width) * boxHeight / height);
    }
    w = std::max(w, 1);
    h = std::max(h, 1);
    return {(boxWidth - w) / 2, (boxHeight - h) / 2, w, h};
}

// --- thumbnails ---------------------------------------------------------------------------------

ThumbnailList::ThumbnailList(Form& form, std::string name, std::optional<int> index)
    : Control(form, ControlKind::ThumbnailList, std::move(name), index) {}

const Thumbnail& ThumbnailList::item(int i) const {
    if (i < 0 || i >= count()) invalidIndex();
    return items_[static_cast<std::size_t>(i)];
}

int ThumbnailList::addItem(std::shared_ptr<const DisplayImage> picture, std::string_view text) {
    items_.push_back(Thumbnail{std::string(text), {}, std::move(picture), false});
    changed(Prop::Items);
    return count() - 1;
}

void ThumbnailList::setItemText(int i, std::string_view text) {
    item(i);
    items_[static_cast<std::size_t>(i)].text = text;
    changed(Prop::Items);
}

void ThumbnailList::setItemTag(int i, std::string_view tag) {
    item(i);
    items_[static_cast<std::size_t>(i)].tag = tag;
}

void ThumbnailList::setSelected(int i, bool on) {
    item(i);
    auto& it = items_[static_cast<std::size_t>(i)];
    if (it.selected == on) return;
    it.selected = on;
    changed(Prop::Selection);
}

void ThumbnailList::clear() {
    items_.clear();
    ensured_ = -1;
    changed(Prop::Items);
}

void ThumbnailList::ensureVisible(int i) {
    item(i);
    ensured_ = i;
    changed(Prop::EnsureVisible);
}

bool ThumbnailList::toggleItem(int i) {
    if (i < 0 || i >= count() || !userCanReach()) return false;
    Form::Dispatch d(form());
    if (!setFocus()) return false;
    const bool now = !items_[static_cast<std::size_t>(i)].selected;
    setSelected(i, now);
    if (now) {
        if (onItemSelected) onItemSelected(i);
    } else if (onItemDeselected) {
        onItemDeselected(i);
    }
    return true;
}

}  // namespace quilo::forms
