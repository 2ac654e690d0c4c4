// A form: a top-level window with its controls, its events and its place in the collection of
// loaded forms. Forms are headless unless a renderer is attached to the collection: tests read
// and drive them directly, and a modal Show runs the platform's modal loop, so posted messages
// and timers keep being worked off while it is open.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "forms/control.h"
#include "forms/controls.h"
#include "forms/types.h"
#include "platform/platform.h"

namespace quilo::forms {

class Forms;

// What changed on a form, as the renderer is told.
enum class FormProp { Caption, Geometry, Visible, Enabled, Colors, MousePointer, Icon, Owner };

class Form : public platform::WindowHandler {
  public:
    Form(Forms& forms, std::string name);
    // A form still loaded when destroyed goes away without its unload events: forms that
    // handle Unload unload themselves before they are destroyed.
    virtual ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    Forms& forms() const { return forms_; }
    platform::Platform& platform() const;
    const std::string& name() const { return name_; }
    std::string typeName() const { return "Form"; }

    // --- controls ------------------------------------------------------------------------
    template <class T>
    T& add(std::string name, std::optional<int> index = std::nullopt) {
        auto owned = std::make_unique<T>(*this, std::move(name), index);
        T& ref = *owned;
        adopt(std::move(owned));
        return ref;
    }
    // Every control in declaration order.
    std::vector<Control*> controls() const;
    // The control of that name (and array index); null when there is none.
    Control* control(std::string_view name, std::optional<int> index = std::nullopt) const;
    // The members of a control array, by ascending index.
    std::vector<Control*> controlArray(std::string_view name) const;
    Control* controlById(int id) const;

    // --- properties ----------------------------------------------------------------------
    const std::string& caption() const { return caption_; }
    void setCaption(std::string_view caption);
    const std::string& tag() const { return tag_; }
    void setTag(std::string_view tag) { tag_ = tag; }

    // Outer position and size in twips (screen coordinates).
    int left() const { return left_; }
    int top() const { return top_; }
    int width() const { return width_; }
    int height() const { return height_; }
    void setLeft(int v) { move(v, top_, width_, height_); }
    void setTop(int v) { move(left_, v, width_, height_); }
    void setWidth(int v) { move(left_, top_, v, height_); }
    void setHeight(int v) { move(left_, top_, width_, v); }
    void move(int left, int top, int width, int height);
    // The client area in twips (the outer size less the title bar and borders).
    int scaleWidth() const;
    int scaleHeight() const;
    // Sets the outer size so that the client area gets this size.
    void setClientSize(int width, int height);

    BorderStyle borderStyle() const { return borderStyle_; }
    void setBorderStyle(BorderStyle s) { borderStyle_ = s; }
    // Key events reach the form before the control that has the focus.
    bool keyPreview() const { return keyPreview_; }
    void setKeyPreview(bool on) { keyPreview_ = on; }
    bool enabled() const { return enabled_; }
    void setEnabled(bool on);
    int mousePointer() const { return mousePointer_; }
    void setMousePointer(int pointer);
    Color backColor() const { return backColor_; }
    void setBackColor(Color c);
    const std::shared_ptr<const DisplayImage>& icon() const { return icon_; }
    void setIcon(std::shared_ptr<const DisplayImage> icon);
    // Places the window above all others that are not topmost (SetWindowPos with the topmost
    // insert-after handle, position and size unchanged). False when the form is not loaded.
    bool setTopmost(bool on);
    bool topmost() const;

    // --- life cycle ----------------------------------------------------------------------
    bool loaded() const { return hwnd_ != 0; }
    // The form's window; 0 while it is not loaded.
    platform::Hwnd hwnd() const { return hwnd_; }
    // Loads the form (creates its window and raises Load) unless it is loaded already.
    void load();
    // Loads and shows. A modal show returns when the form is hidden or unloaded (or the
    // program quits); showing a visible form modally is refused with run-time error 400.
    void show(ShowMode mode = ShowMode::Modeless, Form* owner = nullptr);
    void hide();
    bool visible() const { return visible_; }
    void setVisible(bool on);
    bool modal() const { return modalDepth_ > 0; }
    Form* owner() const { return owner_; }
    // Unloads: QueryUnload and Unload may cancel it. Returns true when the form is unloaded
    // afterwards (also when it was not loaded).
    bool unload(UnloadMode mode = UnloadMode::Code);
    // Ends the form object's life: unloads it when loaded, then raises Terminate once.
    void release();

    Control* activeControl() const { return activeControl_; }

    // Shows a menu as a pop-up at the mouse position; the chosen item's Click runs before
    // this returns. Returns the chosen item, null when none was chosen.
    Menu* popupMenu(Menu& menu);

    // --- events --------------------------------------------------------------------------
    std::function<void()> onLoad;
    std::function<void()> onActivate;
    std::function<void()> onDeactivate;
    std::function<void()> onGotFocus;
    std::function<void(bool& cancel, UnloadMode mode)> onQueryUnload;
    std::function<void(bool& cancel)> onUnload;
    std::function<void()> onTerminate;
    std::function<void(int keyCode, int shift)> onKeyDown;
    std::function<void(int keyCode, int shift)> onKeyUp;
    std::function<void(int button, int shift, int x, int y)> onMouseDown;
    std::function<void()> onResize;

    // --- driving the form as a user would ------------------------------------------------
    // The title bar's close box (QueryUnload sees ControlMenu). False if not reachable.
    bool close();
    // A key pressed and released while the form is active: goes to the control that has
    // the focus (and to the form first when keyPreview is set, or when no control has it).
    bool pressKey(int keyCode, int shiftState = 0);
    bool mouseDown(int button, int x = 0, int y = 0, int shiftState = 0);
    // Makes this the active form (Activate, then focus).
    void activate();
    // Whether the user can reach the form now: loaded, shown, enabled and not behind a
    // modal form.
    bool userCanReach() const;
    // Whether a modal form shown after this one blocks it (forms shown while a modal form
    // is up stay reachable, such as a message that the modal form itself opens).
    bool blockedByModal() const;

    // --- for the renderer and the controls ------------------------------------------------
    // One key transition aimed at `target` (null: the form), routed as Windows routes it.
    void deliverKey(Control* target, bool down, int keyCode, int shiftState);
    void controlChanged(Control& control, Prop what);
    bool moveFocus(Control* to);
    // Updates the model's geometry from the window after the user moved or sized it.
    void syncGeometryFromWindow();

    platform::LResult windowProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                                 platform::LParam lParam) override;

    // Held while an event of this form runs, so the form object outlives its handlers.
    struct Dispatch {
        explicit Dispatch(Form& f) : form(f) { ++form.dispatching_; }
        ~Dispatch() { --form.dispatching_; }
        Dispatch(const Dispatch&) = delete;
        Dispatch& operator=(const Dispatch&) = delete;
        Form& form;
    };

  private:
    friend class Forms;
    void adopt(std::unique_ptr<Control> control);
    void startTimer(Timer& timer);
    void stopTimer(Timer& timer);
    void applyWindowRect();
    void notify(FormProp what);
    void destroyWindow();
    void setActive(bool active);

    Forms& forms_;
    std::string name_;
    std::vector<std::unique_ptr<Control>> controls_;
    int nextId_ = 1;
    std::string caption_;
    std::string tag_;
    int left_ = 0, top_ = 0, width_ = 4800, height_ = 3600;
    BorderStyle borderStyle_ = BorderStyle::Sizable;
    bool keyPreview_ = false;
    bool enabled_ = true;
    int mousePointer_ = pointer::kDefault;
    Color backColor_ = color::kSystemButtonFace;
    std::shared_ptr<const DisplayImage> icon_;
    bool topmost_ = false;
    platform::Hwnd hwnd_ = 0;
    bool visible_ = false;
    bool active_ = false;
    bool loading_ = false;
    bool unloading_ = false;
    bool terminated_ = false;
    bool syncing_ = false;
    int modalDepth_ = 0;
    int dispatching_ = 0;
    std::size_t layer_ = 0;  // how many modal forms were up when this one was shown  // event
                             // handlers of this form now running (see Forms::purge)
    Form* owner_ = nullptr;
    Control* activeControl_ = nullptr;
};

// Receives every change of the model and shows it; routes the user's input back through
// the model's driving calls. Attached to the collection of forms; absent when headless.
class Renderer {
  public:
    virtual ~Renderer() = default;
    // After the form's window exists and before Load runs: create the control windows.
    virtual void formLoaded(Form& form) = 0;
    // Before the form's window is destroyed.
    virtual void formUnloading(Form& form) = 0;
    virtual void formChanged(Form& form, FormProp what) = 0;
    virtual void controlChanged(Control& control, Prop what) = 0;
    virtual void focusChanged(Form& form, Control* control) = 0;
    // A modal form was shown or ended: forms behind it take no input meanwhile.
    virtual void modalStateChanged() = 0;
    // A message for the form's window that the model does not handle itself; true when the
    // renderer handled it and `result` holds the answer.
    virtual bool handleMessage(Form& form, platform::MsgId msg, platform::WParam wParam,
                               platform::LParam lParam, platform::LResult& result) = 0;
    // Shows a pop-up menu at the mouse position and waits for a choice (null: none).
    virtual Menu* trackPopupMenu(Form& form, Menu& menu) = 0;
    // The size of a text in the forms' font, every line measured, in twips.
    virtual TwipSize measureText(std::string_view text, bool bold) = 0;
    // Title bar and borders of a form with this border style, in twips.
    virtual TwipSize nonClientSize(const Form& form) = 0;
};

}  // namespace quilo::forms
