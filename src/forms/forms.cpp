#include "forms/forms.h"

#include <algorithm>

namespace quilo::forms {

Forms::Forms(platform::Platform& platform) : platform_(platform) {}

Forms::~Forms() {
    // Adopted forms go first (they may still be loaded); the others belong to their owners.
    adopted_.clear();
}

bool Forms::isLoaded(std::string_view name) const {
    return find(name) != nullptr;
}

Form* Forms::find(std::string_view name) const {
    for (Form* f : loaded_) {
        if (f->name() == name) return f;
    }
    return nullptr;
}

std::vector<std::string> Forms::names() const {
    std::vector<std::string> out;
    out.reserve(loaded_.size());
    for (const Form* f : loaded_)
        out.push_back(f->name());
    return out;
}

int Forms::unloadAllExcept(const Form* keep, bool ignoreErrors) {
    int count = 0;
    const std::vector<Form*> snapshot(loaded_.rbegin(), loaded_.rend());
    for (Form* f : snapshot) {
        if (f == keep) continue;
        // A form unloaded by an earlier one's Unload handler is gone from the list.
        if (std::find(loaded_.begin(), loaded_.end(), f) == loaded_.end()) continue;
        try {
            if (f->unload(UnloadMode::Code)) ++count;
        } catch (...) {
            if (!ignoreErrors) throw;
        }
    }
    return count;
}

void Forms::adopt(std::unique_ptr<Form> form) {
    purge();
    if (form) adopted_.push_back(std::move(form));
}

void Forms::purge() {
    std::erase_if(adopted_, [](const std::unique_ptr<Form>& f) {
        return !f->loaded() && f->dispatching_ == 0;
    });
}

void Forms::doEvents() {
    platform_.windows().pumpPending();
    purge();
}

int Forms::screenMousePointer() const {
    return platform_.process().mousePointer();
}

void Forms::setScreenMousePointer(int pointer) {
    platform_.process().setMousePointer(pointer);
}

TwipSize Forms::measureText(std::string_view text, bool bold) const {
    if (renderer_ != nullptr) return renderer_->measureText(text, bold);
    const int charPx = bold ? 8 : 7;
    int lines = 0;
    std::size_t longest = 0;
    while (true) {
        const auto nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        longest = std::max(longest, line.size());
        ++lines;
        if (nl == std::string_view::npos) break;
        text.remove_prefix(nl + 1);
    }
    return {static_cast<int>(longest) * charPx * twipsPerPixelX(), lines * 13 * twipsPerPixelY()};
}

TwipSize Forms::nonClientSize(const Form& form) const {
    if (renderer_ != nullptr) return renderer_->nonClientSize(form);
    // Headless: the borders and title bar of the classic window frame, in pixels.
    int w = 0, h = 0;
    switch (form.borderStyle()) {
        case BorderStyle::None:
            break;
        case BorderStyle::FixedSingle:
        case BorderStyle::FixedDialog:
            w = 6, h = 6 + 22;
            break;
        case BorderStyle::Sizable:
            w = 8, h = 8 + 22;
            break;
        case BorderStyle::FixedToolWindow:
            w = 6, h = 6 + 16;
            break;
    }
    return {w * twipsPerPixelX(), h * twipsPerPixelY()};
}

int Forms::twipsPerPixelX() const {
    return std::max(1, platform_.display().twipsPerPixelX());
}
int Forms::twipsPerPixelY() const {
    return std::max(1, platform_.display().twipsPerPixelY());
}

void Forms::formLoaded(Form& form) {
    if (std::find(loaded_.begin(), loaded_.end(), &form) == loaded_.end()) loaded_.push_back(&form);
}

void Forms::formUnloaded(Form& form) {
    std::erase(loaded_, &form);
    if (active_ == &form) {
        active_ = nullptr;
        activateNext(form);
    }
}

void Forms::activateNext(const Form& leaving) {
    auto usable = [&](const Form* f) {
        return f != nullptr && f != &leaving && f->loaded() && f->visible();
    };
    Form* next = nullptr;
    if (usable(leaving.owner()))
        next = leaving.owner();
    else if (usable(modalForm()))
        next = modalForm();
    else {
        for (auto it = loaded_.rbegin(); it != loaded_.rend() && next == nullptr; ++it) {
            if (usable(*it)) next = *it;
        }
    }
    setActive(next);
}

void Forms::formDestroyed(Form& form) {
    std::erase(loaded_, &form);
    std::erase(modal_, &form);
    if (active_ == &form) active_ = nullptr;
    for (Form* f : loaded_) {
        if (f->owner_ == &form) f->owner_ = nullptr;
    }
}

void Forms::setActive(Form* form) {
    if (active_ == form) return;
    Form* old = active_;
    active_ = form;
    if (old != nullptr && old->loaded()) old->setActive(false);
    if (form != nullptr) form->setActive(true);
}

void Forms::popModal(Form& form) {
    auto it = std::find(modal_.rbegin(), modal_.rend(), &form);
    if (it != modal_.rend()) modal_.erase(std::next(it).base());
}

}  // namespace quilo::forms
