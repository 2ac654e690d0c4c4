// The collection of forms of one program: which forms are loaded, which is active and which
// is modal, the screen's mouse pointer, and the renderer (if any) that shows them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forms/form.h"
#include "platform/platform.h"

namespace quilo::forms {

class Forms {
  public:
    explicit Forms(platform::Platform& platform);
    ~Forms();
    Forms(const Forms&) = delete;
    Forms& operator=(const Forms&) = delete;

    platform::Platform& platform() const { return platform_; }

    // Attaches the renderer that shows every form loaded from now on (null: headless).
    void attachRenderer(Renderer* renderer) { renderer_ = renderer; }
    Renderer* renderer() const { return renderer_; }

    // --- the loaded forms ----------------------------------------------------------------
    // In the order in which they were loaded.
    const std::vector<Form*>& loaded() const { return loaded_; }
    bool isLoaded(std::string_view name) const;
    // The first loaded form of that name (forms of one kind share the name), or null.
    Form* find(std::string_view name) const;
    std::vector<std::string> names() const;
    // Unloads every loaded form but `keep`, from the last loaded to the first. With
    // `ignoreErrors` a form that fails or refuses does not stop the others. Returns the
    // number of forms unloaded.
    int unloadAllExcept(const Form* keep, bool ignoreErrors = true);

    // Keeps a form object alive until it is unloaded (a modeless dialog that nobody else
    // holds). Unloaded adopted forms are destroyed at the next adopt() or doEvents() at
    // which none of their own event handlers is running.
    void adopt(std::unique_ptr<Form> form);
    std::size_t adoptedCount() const { return adopted_.size(); }

    // The hidden window of the application that owns every form loaded without an owner
    // form (0: such forms have no owner). The program creates it and sets it before the first
    // form loads; GetWindow(form, GW_OWNER) then finds it, as re-parenting into a host needs.
    void setApplicationWindow(platform::Hwnd hwnd) { applicationWindow_ = hwnd; }
    platform::Hwnd applicationWindow() const { return applicationWindow_; }

    Form* activeForm() const { return active_; }
    // The innermost modal form being shown, or null.
    Form* modalForm() const { return modal_.empty() ? nullptr : modal_.back(); }

    // Works off every pending window message once ("process pending events").
    void doEvents();

    int screenMousePointer() const;
    void setScreenMousePointer(int pointer);

    // Text size in the forms' font: the renderer's when attached, else a fixed estimate of
    // 7 by 13 pixels per character (the 8-point dialog font's average) so layouts are
    // deterministic.
    TwipSize measureText(std::string_view text, bool bold = false) const;
    TwipSize nonClientSize(const Form& form) const;
    int twipsPerPixelX() const;
    int twipsPerPixelY() const;

    // Raised for every form as it loads, before its own Load event.
    std::function<void(Form&)> onFormLoad;
    // Headless pop-up menus: chooses the item the "user" picks (null: dismissed).
    std::function<Menu*(Form&, Menu&)> headlessPopupChoice;

  private:
    friend class Form;
    void formLoaded(Form& form);
    void formUnloaded(Form& form);
    void formDestroyed(Form& form);
    void setActive(Form* form);
    // The active form is going away: activates its owner, else the modal form, else the last
    // shown form that is left (as Windows activates the next window).
    void activateNext(const Form& leaving);
    void pushModal(Form& form) { modal_.push_back(&form); }
    void popModal(Form& form);
    void purge();

    platform::Platform& platform_;
    Renderer* renderer_ = nullptr;
    std::vector<Form*> loaded_;
    std::vector<Form*> modal_;
    std::vector<std::unique_ptr<Form>> adopted_;
    Form* active_ = nullptr;
    platform::Hwnd applicationWindow_ = 0;
};

}  // namespace quilo::forms
