// Shared by the translation units of the Windows renderer; nothing outside this folder includes
// it. The renderer's work is split by what it does: form windows and their layout
// (form_windows.cpp), control windows and their items (control_windows.cpp), input, commands
// and notifications (input.cpp), and the pictures on the screen (screen_bitmap.cpp).
#pragma once

#include <windows.h>
// windows.h first: the common controls header needs its types.
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "forms/forms.h"
#include "forms/win32/screen_bitmap.h"
#include "platform/platform.h"
#include "platform/win32/text.h"

namespace quilo::forms::win32 {

using platform::LParam;
using platform::LResult;
using platform::MsgId;
using platform::Platform;
using platform::WParam;
using platform::win32::utf8ToWide;
using platform::win32::wideToUtf8;

class Win32FormsRenderer;

// What a control's child window carries to the subclass procedure.
struct ChildInfo {
    Win32FormsRenderer* renderer = nullptr;
    Form* form = nullptr;
    Control* control = nullptr;
};

struct ControlWindow {
    HWND hwnd = nullptr;
    std::unique_ptr<TabBody> body;  // tab controls: the look of their pages
    std::unique_ptr<ChildInfo> info;
    ScreenDib picture;
    HIMAGELIST thumbnails = nullptr;  // the list view's: destroyed with it
    int thumbPx = 0;
};

struct FormWindow {
    Form* form = nullptr;
    HWND hwnd = nullptr;
    WindowHandle tooltip;
    IconHandle bigIcon;
    IconHandle smallIcon;
    std::map<const Control*, ControlWindow> controls;
};

// A form colour as GDI takes it (system colours looked up).
COLORREF colorRef(Color c);
// A window's text in UTF-8.
std::string windowTextUtf8(HWND h);
// The subclass procedure of every control window: hands the message to its renderer.
LRESULT CALLBACK childProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                           DWORD_PTR data);

class Win32FormsRenderer final : public Renderer {
  public:
    explicit Win32FormsRenderer(Platform& platform);
    ~Win32FormsRenderer() override;
    Win32FormsRenderer(const Win32FormsRenderer&) = delete;
    Win32FormsRenderer& operator=(const Win32FormsRenderer&) = delete;

    // --- Renderer (form_windows.cpp, control_windows.cpp, input.cpp) ----------------------
    void formLoaded(Form& form) override;
    void formUnloading(Form& form) override;
    void formChanged(Form& form, FormProp what) override;
    void controlChanged(Control& control, Prop what) override;
    void focusChanged(Form& form, Control* control) override;
    void modalStateChanged() override { updateEnabledForms(); }
    bool handleMessage(Form& form, MsgId msg, WParam wParam, LParam lParam,
                       LResult& result) override;
    Menu* trackPopupMenu(Form& form, Menu& menu) override;
    TwipSize measureText(std::string_view text, bool bold) override;
    TwipSize nonClientSize(const Form& form) override;

    // --- input from the child windows (input.cpp) -----------------------------------------
    LRESULT childMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, ChildInfo& info);

  private:
    static bool isContainer(const Control& c) {
        return c.kind() == ControlKind::Frame || c.kind() == ControlKind::TabControl;
    }
    HFONT fontOf(const Control& c) const {
        return (c.fontBold() ? boldFont_ : c.fontUnderline() ? underlineFont_ : font_).get();
    }
    int tppX() const { return std::max(1, platform_.display().twipsPerPixelX()); }
    int tppY() const { return std::max(1, platform_.display().twipsPerPixelY()); }
    FormWindow* find(const Form& form) {
        auto it = windows_.find(&form);
        return it == windows_.end() ? nullptr : it->second.get();
    }

    // form_windows.cpp
    HBRUSH background(FormWindow& state, const Control& c, HWND hwnd, HDC dc);
    HBRUSH brush(Color c);
    void applyIcon(FormWindow& state);
    void applyBorderStyle(FormWindow& state);
    void layout(FormWindow& state);
    void updateEnabledForms();

    // control_windows.cpp
    void create(FormWindow& state, Control& c);
    void update(FormWindow& state, Control& c, ControlWindow& window, Prop what);
    void fillItems(Control& c, ControlWindow& window);
    int addThumbnail(ControlWindow& window, const DisplayImage* picture, Color face);
    void showSelection(Control& c, ControlWindow& window);

    // input.cpp
    MenuHandle buildMenu(Menu& menu);
    bool onCommand(Form& form, WParam wParam, LParam lParam, LResult& result);
    bool onNotify(Form& form, const NMHDR& header, LResult& result);

    Platform& platform_;
    GdiObject<HFONT> font_;
    GdiObject<HFONT> boldFont_;
    GdiObject<HFONT> underlineFont_;
    std::map<const Form*, std::unique_ptr<FormWindow>> windows_;
    std::vector<std::unique_ptr<FormWindow>> retired_;
    std::map<Color, GdiObject<HBRUSH>> brushes_;
    int updating_ = 0;
};

}  // namespace quilo::forms::win32
