#include "forms/form.h"

#include <algorithm>

#include "core/error.h"
#include "forms/forms.h"

namespace quilo::forms {

namespace {
constexpr platform::WParam kScClose = 0xF060;
constexpr platform::MsgId kWmSysCommand = platform::wm::kSysCommand;
}  // namespace

Form::Form(Forms& forms, std::string name) : forms_(forms), name_(std::move(name)) {
    caption_ = name_;
}

Form::~Form() {
    if (loaded()) destroyWindow();
    forms_.formDestroyed(*this);
}

platform::Platform& Form::platform() const {
    return forms_.platform();
}

void Form::adopt(std::unique_ptr<Control> control) {
    control->id_ = nextId_++;
    controls_.push_back(std::move(control));
}

std::vector<Control*> Form::controls() const {
    std::vector<Control*> out;
    out.reserve(controls_.size());
    for (const auto& c : controls_)
        out.push_back(c.get());
    return out;
}

Control* Form::control(std::string_view name, std::optional<int> index) const {
    for (const auto& c : controls_) {
        if (c->name() == name && c->index() == index) return c.get();
    }
    return nullptr;
}

std::vector<Control*> Form::controlArray(std::string_view name) const {
    std::vector<Control*> out;
    for (const auto& c : controls_) {
        if (c->name() == name && c->index()) out.push_back(c.get());
    }
    std::sort(out.begin(), out.end(),
              [](const Control* a, const Control* b) { return *a->index() < *b->index(); });
    return out;
}

Control* Form::controlById(int id) const {
    for (const auto& c : controls_) {
        if (c->id() == id) return c.get();
    }
    return nullptr;
}

// --- properties ---------------------------------------------------------------------------

void Form::notify(FormProp what) {
    if (loaded() && forms_.renderer() != nullptr) forms_.renderer()->formChanged(*this, what);
}

void Form::setCaption(std::string_view caption) {
    if (caption == caption_) return;
    caption_ = caption;
    if (loaded()) platform().windows().setWindowText(hwnd_, caption_);
    notify(FormProp::Caption);
}

void Form::move(int left, int top, int width, int height) {
    if (width < 0 || height < 0) return;
    const bool resized = width != width_ || height != height_;
    if (left == left_ && top == top_ && !resized) return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (loaded()) applyWindowRect();
    notify(FormProp::Geometry);
    if (resized && loaded() && onResize) {
        Dispatch d(*this);
        onResize();
    }
}

void Form::applyWindowRect() {
    if (syncing_) return;
    const int tx = std::max(1, forms_.twipsPerPixelX());
    const int ty = std::max(1, forms_.twipsPerPixelY());
    const platform::Rect rect{left_ / tx, top_ / ty, (left_ + width_) / tx, (top_ + height_) / ty};
    platform().windows().setWindowPos(hwnd_, platform::kHwndTop, rect,
                                      platform::swp::kNoZOrder | platform::swp::kNoActivate);
}

void Form::syncGeometryFromWindow() {
    if (!loaded() || syncing_) return;
    const int tx = std::max(1, forms_.twipsPerPixelX());
    const int ty = std::max(1, forms_.twipsPerPixelY());
    const platform::Rect r = platform().windows().windowRect(hwnd_);
    // Only a change beyond the rounding of twips to pixels is the user's doing.
    if (r.left == left_ / tx && r.top == top_ / ty && r.right == (left_ + width_) / tx &&
        r.bottom == (top_ + height_) / ty)
        return;
    syncing_ = true;
    move(r.left * tx, r.top * ty, r.width() * tx, r.height() * ty);
    syncing_ = false;
}

int Form::scaleWidth() const {
    return std::max(0, width_ - forms_.nonClientSize(*this).width);
}

int Form::scaleHeight() const {
    return std::max(0, height_ - forms_.nonClientSize(*this).height);
}

void Form::setClientSize(int width, int height) {
    const TwipSize nc = forms_.nonClientSize(*this);
    move(left_, top_, width + nc.width, height + nc.height);
}

void Form::setEnabled(bool on) {
    if (enabled_ == on) return;
    enabled_ = on;
    notify(FormProp::Enabled);
}

void Form::setMousePointer(int pointer) {
    if (mousePointer_ == pointer) return;
    mousePointer_ = pointer;
    notify(FormProp::MousePointer);
}

void Form::setBackColor(Color c) {
    if (backColor_ == c) return;
    backColor_ = c;
    notify(FormProp::Colors);
}

void Form::setIcon(std::shared_ptr<const DisplayImage> icon) {
    icon_ = std::move(icon);
    notify(FormProp::Icon);
}

bool Form::setTopmost(bool on) {
    topmost_ = on;
    if (!loaded()) return false;
    return platform().windows().setWindowPos(hwnd_,
                                             on ? platform::kHwndTopmost : platform::kHwndNoTopmost,
                                             {}, platform::swp::kNoSize | platform::swp::kNoMove);
}

bool Form::topmost() const {
    return loaded() ? platform().windows().isTopmost(hwnd_) : topmost_;
}

// --- life cycle ---------------------------------------------------------------------------

void Form::load() {
    if (loaded() || loading_) return;
    loading_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{loading_};
    Dispatch d(*this);

    const int tx = std::max(1, forms_.twipsPerPixelX());
    const int ty = std::max(1, forms_.twipsPerPixelY());
    platform::WindowSpec spec;
    spec.title = caption_;
    spec.owner =
        owner_ != nullptr && owner_->loaded() ? owner_->hwnd() : forms_.applicationWindow();
    spec.rect = {left_ / tx, top_ / ty, (left_ + width_) / tx, (top_ + height_) / ty};
    spec.visible = false;
    spec.topmost = topmost_;
    spec.toolWindow = borderStyle_ == BorderStyle::FixedToolWindow;
    hwnd_ = platform().windows().createWindow(spec, this);
    if (hwnd_ == 0) throw RuntimeError(kErrOutOfMemory, "Out of memory", name_);

    forms_.formLoaded(*this);
    for (const auto& c : controls_) {
        if (c->kind() == ControlKind::Label) static_cast<Label&>(*c).fitToCaption();
    }
    if (forms_.renderer() != nullptr) forms_.renderer()->formLoaded(*this);
    for (const auto& c : controls_) {
        if (c->kind() == ControlKind::Timer) startTimer(static_cast<Timer&>(*c));
    }
    if (forms_.onFormLoad) forms_.onFormLoad(*this);
    if (onLoad) onLoad();
}

void Form::startTimer(Timer& timer) {
    stopTimer(timer);
    if (!loaded() || !timer.enabled() || timer.interval() == 0) return;
    timer.running_ = platform().windows().setTimer(hwnd_, static_cast<std::uintptr_t>(timer.id()),
                                                   timer.interval());
}

void Form::stopTimer(Timer& timer) {
    if (timer.running_ && loaded())
        platform().windows().killTimer(hwnd_, static_cast<std::uintptr_t>(timer.id()));
    timer.running_ = false;
}

void Form::setVisible(bool on) {
    if (on) {
        load();
        if (!loaded() || visible_) return;
        visible_ = true;
        layer_ = forms_.modal_.size();
        platform().windows().showWindow(hwnd_, true);
        // Some systems forget the topmost mark of a window that had never been shown.
        if (topmost_)
            platform().windows().setWindowPos(
                hwnd_, platform::kHwndTopmost, {},
                platform::swp::kNoSize | platform::swp::kNoMove | platform::swp::kNoActivate);
        notify(FormProp::Visible);
        activate();
        return;
    }
    if (!visible_) return;
    visible_ = false;
    if (loaded()) platform().windows().showWindow(hwnd_, false);
    notify(FormProp::Visible);
    if (forms_.activeForm() == this) forms_.activateNext(*this);
}

void Form::show(ShowMode mode, Form* owner) {
    if (mode == ShowMode::Modal && visible_)
        throw RuntimeError(400, "Form already displayed; can't show modally", name_);
    Dispatch d(*this);
    if (owner != owner_) {
        owner_ = owner;
        notify(FormProp::Owner);
    }
    setVisible(true);
    if (mode != ShowMode::Modal || !loaded() || !visible_) return;

    ++modalDepth_;
    forms_.pushModal(*this);
    if (forms_.renderer() != nullptr) forms_.renderer()->modalStateChanged();
    struct End {
        Form& form;
        ~End() {
            --form.modalDepth_;
            form.forms_.popModal(form);
            if (form.forms_.renderer() != nullptr) form.forms_.renderer()->modalStateChanged();
        }
    } end{*this};
    platform().windows().runModalLoop([this] { return !loaded() || !visible_; });
}

void Form::hide() {
    setVisible(false);
}

bool Form::unload(UnloadMode mode) {
    if (!loaded()) return true;
    if (unloading_ || loading_) return false;
    Dispatch d(*this);
    unloading_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{unloading_};
    bool cancel = false;
    if (onQueryUnload) onQueryUnload(cancel, mode);
    if (cancel || !loaded()) return !loaded();
    if (onUnload) onUnload(cancel);
    if (cancel || !loaded()) return !loaded();
    destroyWindow();
    return true;
}

void Form::destroyWindow() {
    for (const auto& c : controls_) {
        if (c->kind() == ControlKind::Timer) stopTimer(static_cast<Timer&>(*c));
    }
    if (forms_.renderer() != nullptr) forms_.renderer()->formUnloading(*this);
    const platform::Hwnd h = hwnd_;
    const bool wasVisible = visible_;
    visible_ = false;
    active_ = false;
    activeControl_ = nullptr;
    hwnd_ = 0;
    platform().windows().destroyWindow(h);
    (void)wasVisible;
    forms_.formUnloaded(*this);
}

void Form::release() {
    if (loaded() && !unload(UnloadMode::Code)) destroyWindow();
    if (terminated_) return;
    terminated_ = true;
    if (onTerminate) {
        Dispatch d(*this);
        onTerminate();
    }
}

// --- focus and activation -----------------------------------------------------------------

void Form::activate() {
    if (!loaded() || !visible_) return;
    forms_.setActive(this);
}

void Form::setActive(bool active) {
    if (active_ == active) return;
    active_ = active;
    Dispatch d(*this);
    if (!active) {
        if (onDeactivate) onDeactivate();
        return;
    }
    if (onActivate) onActivate();
    if (!loaded() || activeControl_ != nullptr) return;
    for (const auto& c : controls_) {
        if (c->canFocus() && c->userCanReach() && c->setFocus()) return;
    }
    if (onGotFocus) onGotFocus();
}

bool Form::moveFocus(Control* to) {
    if (to == activeControl_) return true;
    Dispatch d(*this);
    Control* from = activeControl_;
    if (from != nullptr && from->onValidate && (to == nullptr || to->causesValidation())) {
        bool cancel = false;
        from->onValidate(cancel);
        if (cancel) return false;
    }
    if (from != nullptr && from->onLostFocus) from->onLostFocus();
    activeControl_ = to;
    if (forms_.renderer() != nullptr && loaded()) forms_.renderer()->focusChanged(*this, to);
    if (to != nullptr && to->onGotFocus) to->onGotFocus();
    return true;
}

bool Form::userCanReach() const {
    return loaded() && visible_ && enabled_ && !blockedByModal();
}

bool Form::blockedByModal() const {
    const Form* modal = forms_.modalForm();
    return modal != nullptr && modal != this && layer_ < forms_.modal_.size();
}

// --- user input ---------------------------------------------------------------------------

void Form::deliverKey(Control* target, bool down, int keyCode, int shiftState) {
    if (!loaded()) return;
    Dispatch d(*this);
    auto& formHandler = down ? onKeyDown : onKeyUp;
    if ((target == nullptr || keyPreview_) && formHandler) formHandler(keyCode, shiftState);
    if (!loaded()) return;
    if (target != nullptr) {
        auto& handler = down ? target->onKeyDown : target->onKeyUp;
        if (handler) handler(keyCode, shiftState);
    }
    if (!down || !loaded()) return;
    // Enter clicks the focused button or else the default button; Escape the cancel button.
    // The keyboard presses a button without moving the focus to it.
    if (keyCode == key::kReturn && target != nullptr &&
        target->kind() == ControlKind::CommandButton) {
        if (target->userCanReach()) target->fireClick();
        return;
    }
    for (const auto& c : controls_) {
        if (c->kind() != ControlKind::CommandButton) continue;
        auto& b = static_cast<CommandButton&>(*c);
        if ((keyCode == key::kReturn && b.isDefault()) ||
            (keyCode == key::kEscape && b.isCancel())) {
            if (b.userCanReach()) b.fireClick();
            return;
        }
    }
}

bool Form::pressKey(int keyCode, int shiftState) {
    if (!userCanReach()) return false;
    Dispatch d(*this);
    deliverKey(activeControl_, true, keyCode, shiftState);
    if (loaded()) deliverKey(activeControl_, false, keyCode, shiftState);
    return true;
}

bool Form::mouseDown(int button, int x, int y, int shiftState) {
    if (!userCanReach()) return false;
    Dispatch d(*this);
    if (onMouseDown) onMouseDown(button, shiftState, x, y);
    return true;
}

bool Form::close() {
    if (!userCanReach()) return false;
    platform().windows().sendMessage(hwnd_, kWmSysCommand, kScClose, 0);
    return true;
}

Menu* Form::popupMenu(Menu& menu) {
    if (!loaded()) return nullptr;
    Dispatch d(*this);
    Menu* chosen = nullptr;
    if (forms_.renderer() != nullptr)
        chosen = forms_.renderer()->trackPopupMenu(*this, menu);
    else if (forms_.headlessPopupChoice)
        chosen = forms_.headlessPopupChoice(*this, menu);
    if (chosen != nullptr && chosen->enabled() && chosen->container() == &menu) {
        chosen->fireClick();
        return chosen;
    }
    return nullptr;
}

void Form::controlChanged(Control& control, Prop what) {
    if (control.kind() == ControlKind::Timer && (what == Prop::Enabled || what == Prop::Interval))
        startTimer(static_cast<Timer&>(control));
    if (control.kind() == ControlKind::Label && (what == Prop::Caption || what == Prop::Font))
        static_cast<Label&>(control).fitToCaption();
    if ((what == Prop::Visible || what == Prop::Enabled) && activeControl_ == &control &&
        (!control.visible() || !control.enabled()))
        activeControl_ = nullptr;
    if (loaded() && forms_.renderer() != nullptr) forms_.renderer()->controlChanged(control, what);
}

platform::LResult Form::windowProc(platform::Hwnd hwnd, platform::MsgId msg,
                                   platform::WParam wParam, platform::LParam lParam) {
    Dispatch d(*this);
    Renderer* renderer = forms_.renderer();
    switch (msg) {
        case platform::wm::kTimer: {
            Control* c = controlById(static_cast<int>(wParam));
            if (c != nullptr && c->kind() == ControlKind::Timer) {
                auto& timer = static_cast<Timer&>(*c);
                if (timer.running_ && timer.onTimer) timer.onTimer();
                return 0;
            }
            break;
        }
        case platform::wm::kClose:
            unload(UnloadMode::ControlMenu);
            return 0;
        case platform::wm::kSysCommand:
            if ((wParam & 0xFFF0) == kScClose) {
                if (userCanReach()) unload(UnloadMode::ControlMenu);
                return 0;
            }
            break;
        case platform::wm::kKeyDown:
        case platform::wm::kKeyUp:
            // With real control windows a key reaches the form's own window only while the
            // form itself has the focus; headless, the key is meant for the focused control.
            if (userCanReach())
                deliverKey(renderer != nullptr ? nullptr : activeControl_,
                           msg == platform::wm::kKeyDown, static_cast<int>(wParam), 0);
            return 0;
        case platform::wm::kActivate:
            if ((wParam & 0xFFFF) != 0) {
                if (visible_) forms_.setActive(this);
            } else if (forms_.activeForm() == this) {
                forms_.setActive(nullptr);
            }
            break;
        case platform::wm::kMove:
        case platform::wm::kSize:
            if (renderer != nullptr) syncGeometryFromWindow();
            break;
        default:
            break;
    }
    platform::LResult result = 0;
    if (renderer != nullptr && loaded() &&
        renderer->handleMessage(*this, msg, wParam, lParam, result))
        return result;
    return platform().windows().defWindowProc(hwnd, msg, wParam, lParam);
}

}  // namespace quilo::forms
