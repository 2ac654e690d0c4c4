// The Windows renderer of the form model. Every control becomes a child window of its form's
// window (the form's own window comes from the platform); frames and tab controls are drawn
// beneath the controls they hold, whose positions are relative to them as in the model.
#include "platform/win32/forms_renderer/forms_renderer.h"

#include <windows.h>
// windows.h first: the common controls header needs its types.
#include <commctrl.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quilo::platform {

namespace {

using forms::Control;
using forms::ControlKind;
using forms::Form;
using forms::FormProp;
using forms::Prop;

std::wstring wide(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    return out;
}

std::string windowTextUtf8(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring text(static_cast<std::size_t>(std::max(n, 0)) + 1, L'\0');
    const int got = GetWindowTextW(h, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return utf8(text);
}

// Twips to pixels, rounding towards minus infinity so that edges meet without gaps.
int toPx(int twips, int tpp) {
    return twips >= 0 ? twips / tpp : -((-twips + tpp - 1) / tpp);
}

COLORREF colorRef(forms::Color c) {
    if (forms::color::isSystem(c)) return GetSysColor(static_cast<int>(c & 0xFF));
    return static_cast<COLORREF>(c & 0x00FFFFFF);
}

int shiftState() {
    int s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= forms::shift::kShift;
    if (GetKeyState(VK_CONTROL) < 0) s |= forms::shift::kCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= forms::shift::kAlt;
    return s;
}

void formStyles(forms::BorderStyle border, DWORD& style, DWORD& exStyle) {
    style = WS_CLIPCHILDREN;
    exStyle = 0;
    switch (border) {
        case forms::BorderStyle::None:
            style |= WS_POPUP;
            break;
        case forms::BorderStyle::FixedSingle:
            style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
            break;
        case forms::BorderStyle::Sizable:
            style |= WS_OVERLAPPEDWINDOW;
            break;
        case forms::BorderStyle::FixedDialog:
            style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
            exStyle |= WS_EX_DLGMODALFRAME;
            break;
        case forms::BorderStyle::FixedToolWindow:
            style |= WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
            exStyle |= WS_EX_TOOLWINDOW;
            break;
    }
}

// The static control type of a label: its alignment (centred and right-aligned text wraps; a
// left-aligned label wraps only when it is to).
DWORD labelAlignment(const forms::Label& label) {
    switch (label.alignment()) {
        case forms::Alignment::Right:
            return SS_RIGHT;
        case forms::Alignment::Center:
            return SS_CENTER;
        case forms::Alignment::Left:
            break;
    }
    return label.wordWrap() ? SS_LEFT : SS_LEFTNOWORDWRAP;
}

// A picture ready for StretchDIBits: 8-bit grey rows or 32-bit colour rows, padded to four
// bytes.
struct ScreenDib {
    int width = 0;
    int height = 0;
    int bitCount = 8;
    std::vector<std::uint8_t> bits;

    void assignGrey(int w, int h, const std::vector<std::uint8_t>& rows) {
        width = w;
        height = h;
        bitCount = 8;
        const std::size_t stride = (static_cast<std::size_t>(w) + 3) & ~std::size_t{3};
        bits.assign(stride * static_cast<std::size_t>(h), 0);
        for (int y = 0; y < h; ++y)
            std::copy_n(rows.begin() + static_cast<std::ptrdiff_t>(y) * w, w,
                        bits.begin() + static_cast<std::ptrdiff_t>(y * stride));
    }

    // Any picture: colour as it is, grey from its darkest to its brightest value (a 12-bit
    // plate in 16-bit samples, or any image that uses only part of its depth, would otherwise
    // look black).
    void assign(const forms::DisplayImage& image) {
        if (image.grey()) {
            std::uint32_t low = image.maxValue(), high = 0;
            for (int y = 0; y < image.height; ++y) {
                for (int x = 0; x < image.width; ++x) {
                    const std::uint32_t v = std::min(image.at(x, y), image.maxValue());
                    low = std::min(low, v);
                    high = std::max(high, v);
                }
            }
            if (high <= low) {  // one grey value: shown as it lies in the depth's range
                low = 0;
                high = image.maxValue();
            }
            std::vector<std::uint8_t> rows(static_cast<std::size_t>(image.width) *
                                           static_cast<std::size_t>(image.height));
            std::size_t k = 0;
            for (int y = 0; y < image.height; ++y) {
                for (int x = 0; x < image.width; ++x) {
                    const std::uint32_t v = std::clamp(image.at(x, y), low, high);
                    rows[k++] = static_cast<std::uint8_t>(
                        (static_cast<std::uint64_t>(v - low) * 255u) / (high - low));
                }
            }
            assignGrey(image.width, image.height, rows);
            return;
        }
        width = image.width;
        height = image.height;
        bitCount = 32;
        bits.resize(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y)
            std::copy_n(image.pixels + static_cast<std::size_t>(y) * image.stride,
                        static_cast<std::size_t>(width) * 4,
                        bits.begin() + static_cast<std::ptrdiff_t>(y) * width * 4);
    }

    // Scaled to fit the box with its aspect kept, centred; a top-aligned picture sits at the
    // top of the box.
    void draw(HDC dc, const RECT& box, bool topAligned = false) const {
        if (width <= 0 || height <= 0) return;
        struct {
            BITMAPINFOHEADER header;
            RGBQUAD palette[256];
        } info{};
        info.header.biSize = sizeof(BITMAPINFOHEADER);
        info.header.biWidth = width;
        info.header.biHeight = -height;  // top-down rows
        info.header.biPlanes = 1;
        info.header.biBitCount = static_cast<WORD>(bitCount);
        info.header.biCompression = BI_RGB;
        if (bitCount == 8) {
            info.header.biClrUsed = 256;
            for (int i = 0; i < 256; ++i) {
                const auto g = static_cast<BYTE>(i);
                info.palette[i] = RGBQUAD{g, g, g, 0};
            }
        }
        forms::FitRect fit =
            forms::fitInside(width, height, box.right - box.left, box.bottom - box.top);
        if (topAligned) fit.y = 0;
        SetStretchBltMode(dc, HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchDIBits(dc, box.left + fit.x, box.top + fit.y, fit.width, fit.height, 0, 0, width,
                      height, bits.data(), reinterpret_cast<const BITMAPINFO*>(&info),
                      DIB_RGB_COLORS, SRCCOPY);
    }
};

class Win32FormsRenderer;

struct ChildInfo {
    Win32FormsRenderer* renderer = nullptr;
    Form* form = nullptr;
    Control* control = nullptr;
};

// The look of a tab control's body, for the controls on its pages to paint their background
// with: a themed tab control paints its body itself, in a colour other than the dialog's.
class TabBody {
  public:
    TabBody() = default;
    TabBody(const TabBody&) = delete;
    TabBody& operator=(const TabBody&) = delete;
    ~TabBody() { reset(); }

    // The body's brush for the tab control's present size (drawn anew after a resize).
    HBRUSH brush(HWND tabs) {
        RECT rc;
        GetClientRect(tabs, &rc);
        if (brush_ != nullptr && rc.right == size_.cx && rc.bottom == size_.cy) return brush_;
        reset();
        if (rc.right <= 0 || rc.bottom <= 0) return nullptr;
        HDC screen = GetDC(tabs);
        HDC dc = CreateCompatibleDC(screen);
        bitmap_ = CreateCompatibleBitmap(screen, rc.right, rc.bottom);
        ReleaseDC(tabs, screen);
        HGDIOBJ old = SelectObject(dc, bitmap_);
        SendMessageW(tabs, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc),
                     PRF_CLIENT | PRF_ERASEBKGND);
        // The body's colour in its middle, for the space behind a caption's letters.
        RECT body = rc;
        TabCtrl_AdjustRect(tabs, FALSE, &body);
        color_ = GetPixel(dc, (body.left + body.right) / 2, (body.top + body.bottom) / 2);
        SelectObject(dc, old);
        DeleteDC(dc);
        brush_ = CreatePatternBrush(bitmap_);
        size_ = {rc.right, rc.bottom};
        return brush_;
    }
    COLORREF color() const { return color_; }

  private:
    void reset() {
        if (brush_ != nullptr) DeleteObject(brush_);
        if (bitmap_ != nullptr) DeleteObject(bitmap_);
        brush_ = nullptr;
        bitmap_ = nullptr;
    }

    HBITMAP bitmap_ = nullptr;
    HBRUSH brush_ = nullptr;
    SIZE size_{};
    COLORREF color_ = 0;
};

struct ControlWindow {
    HWND hwnd = nullptr;
    std::unique_ptr<TabBody> body;  // tab controls: the look of their pages
    std::unique_ptr<ChildInfo> info;
    ScreenDib picture;
    HIMAGELIST thumbnails = nullptr;
    int thumbPx = 0;
};

struct FormWindow {
    Form* form = nullptr;
    HWND hwnd = nullptr;
    HWND tooltip = nullptr;
    HICON bigIcon = nullptr;
    HICON smallIcon = nullptr;
    std::map<const Control*, ControlWindow> controls;

    FormWindow() = default;
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;
    ~FormWindow() {
        if (bigIcon != nullptr) DestroyIcon(bigIcon);
        if (smallIcon != nullptr) DestroyIcon(smallIcon);
    }
};

// An opaque icon of size by size pixels with the picture scaled into it.
HICON makeIcon(const forms::DisplayImage& picture, int size) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP color = CreateCompatibleBitmap(screen, size, size);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ReleaseDC(nullptr, screen);
    RECT box{0, 0, size, size};
    HGDIOBJ old = SelectObject(dc, mask);
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));  // all opaque
    SelectObject(dc, color);
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ScreenDib dib;
    dib.assign(picture);
    dib.draw(dc, box);
    SelectObject(dc, old);
    DeleteDC(dc);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    info.hbmColor = color;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(color);
    return icon;
}

LRESULT CALLBACK childProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                           DWORD_PTR data);

class Win32FormsRenderer final : public forms::Renderer {
  public:
    explicit Win32FormsRenderer(Platform& platform) : platform_(platform) {
        NONCLIENTMETRICSW metrics{};
        metrics.cbSize = sizeof(metrics);
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        font_ = CreateFontIndirectW(&metrics.lfMessageFont);
        LOGFONTW bold = metrics.lfMessageFont;
        bold.lfWeight = FW_BOLD;
        boldFont_ = CreateFontIndirectW(&bold);
        LOGFONTW underline = metrics.lfMessageFont;
        underline.lfUnderline = TRUE;
        underlineFont_ = CreateFontIndirectW(&underline);
    }

    ~Win32FormsRenderer() override {
        for (auto& [color, brush] : brushes_)
            DeleteObject(brush);
        if (font_ != nullptr) DeleteObject(font_);
        if (boldFont_ != nullptr) DeleteObject(boldFont_);
        if (underlineFont_ != nullptr) DeleteObject(underlineFont_);
    }

    HFONT fontOf(const Control& c) const {
        return c.fontBold() ? boldFont_ : c.fontUnderline() ? underlineFont_ : font_;
    }

    int tppX() const { return std::max(1, platform_.display().twipsPerPixelX()); }
    int tppY() const { return std::max(1, platform_.display().twipsPerPixelY()); }

    // --- forms::Renderer ------------------------------------------------------------------

    void formLoaded(Form& form) override {
        retired_.clear();
        auto state = std::make_unique<FormWindow>();
        state->form = &form;
        state->hwnd = reinterpret_cast<HWND>(form.hwnd());
        applyBorderStyle(*state);
        SetWindowTextW(state->hwnd, wide(form.caption()).c_str());
        state->tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                         WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, state->hwnd,
                                         nullptr, GetModuleHandleW(nullptr), nullptr);
        // Containers first so that they can be sent below what they hold.
        for (Control* c : form.controls()) {
            if (isContainer(*c)) create(*state, *c);
        }
        for (Control* c : form.controls()) {
            if (!isContainer(*c)) create(*state, *c);
        }
        // Each one sent to the bottom goes beneath those before it: the innermost first, so
        // that a frame on a tab page stays above the tab control.
        std::vector<std::pair<int, HWND>> containers;
        for (auto& [control, window] : state->controls) {
            if (window.hwnd == nullptr || !isContainer(*control)) continue;
            int depth = 0;
            for (const Control* p = control->container(); p != nullptr; p = p->container())
                ++depth;
            containers.emplace_back(depth, window.hwnd);
        }
        std::stable_sort(containers.begin(), containers.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& [depth, hwnd] : containers)
            SetWindowPos(hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        FormWindow& ref = *state;
        windows_[&form] = std::move(state);
        applyIcon(ref);
        layout(ref);
        updateEnabledForms();
    }

    void formUnloading(Form& form) override {
        auto it = windows_.find(&form);
        if (it == windows_.end()) return;
        if (it->second->tooltip != nullptr) DestroyWindow(it->second->tooltip);
        // The child windows go with the form's window; their data stays until no message of
        // theirs can be on the way any more.
        retired_.push_back(std::move(it->second));
        windows_.erase(it);
    }

    void formChanged(Form& form, FormProp what) override {
        FormWindow* state = find(form);
        if (state == nullptr) return;
        switch (what) {
            case FormProp::Caption:
                SetWindowTextW(state->hwnd, wide(form.caption()).c_str());
                break;
            case FormProp::Enabled:
                updateEnabledForms();
                break;
            case FormProp::Icon:
                applyIcon(*state);
                break;
            case FormProp::Colors:
                InvalidateRect(state->hwnd, nullptr, TRUE);
                break;
            case FormProp::Owner:
                SetWindowLongPtrW(
                    state->hwnd, GWLP_HWNDPARENT,
                    static_cast<LONG_PTR>(form.owner() != nullptr && form.owner()->loaded()
                                              ? form.owner()->hwnd()
                                              : form.forms().applicationWindow()));
                break;
            case FormProp::Visible:
                updateEnabledForms();
                if (form.visible() && form.activeControl() != nullptr)
                    focusChanged(form, form.activeControl());
                break;
            default:
                break;
        }
    }

    void controlChanged(Control& control, Prop what) override {
        FormWindow* state = find(control.form());
        if (state == nullptr) return;
        auto it = state->controls.find(&control);
        if (it == state->controls.end()) return;
        ControlWindow& window = it->second;
        if (window.hwnd == nullptr) {
            if (control.kind() == ControlKind::Menu) return;
        }
        ++updating_;
        update(*state, control, window, what);
        --updating_;
    }

    void focusChanged(Form& form, Control* control) override {
        FormWindow* state = find(form);
        if (state == nullptr || control == nullptr) return;
        auto it = state->controls.find(control);
        if (it == state->controls.end() || it->second.hwnd == nullptr) return;
        if (GetFocus() != it->second.hwnd && IsWindowVisible(state->hwnd))
            SetFocus(it->second.hwnd);
    }

    void modalStateChanged() override { updateEnabledForms(); }

    bool handleMessage(Form& form, MsgId msg, WParam wParam, LParam lParam,
                       LResult& result) override {
        FormWindow* state = find(form);
        if (state == nullptr) return false;
        switch (msg) {
            case WM_COMMAND:
                return onCommand(form, wParam, lParam, result);
            case WM_NOTIFY:
                return onNotify(form, *reinterpret_cast<NMHDR*>(lParam), result);
            case WM_NOTIFYFORMAT:
                result = NFR_UNICODE;
                return true;
            case WM_CTLCOLORSTATIC:
            case WM_CTLCOLORBTN:
            case WM_CTLCOLOREDIT:
            case WM_CTLCOLORLISTBOX: {
                Control* c = form.controlById(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
                if (c == nullptr) return false;
                HDC dc = reinterpret_cast<HDC>(wParam);
                SetTextColor(dc, colorRef(c->foreColor()));
                result = reinterpret_cast<LResult>(
                    background(*state, *c, reinterpret_cast<HWND>(lParam), dc));
                return true;
            }
            case WM_DRAWITEM: {
                const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
                Control* c = form.controlById(static_cast<int>(item.CtlID));
                if (c == nullptr) return false;
                auto it = state->controls.find(c);
                if (it == state->controls.end()) return false;
                FillRect(item.hDC, &item.rcItem, brush(c->backColor()));
                it->second.picture.draw(item.hDC, item.rcItem,
                                        c->kind() == ControlKind::ImageView &&
                                            static_cast<forms::ImageView*>(c)->topAligned());
                result = TRUE;
                return true;
            }
            case WM_PRINTCLIENT:  // themed controls ask for the background behind them
            case WM_ERASEBKGND: {
                RECT rc;
                GetClientRect(state->hwnd, &rc);
                FillRect(reinterpret_cast<HDC>(wParam), &rc, brush(form.backColor()));
                result = 1;
                return true;
            }
            case WM_SETCURSOR:
                if (form.mousePointer() == forms::pointer::kHourglass ||
                    platform_.process().mousePointer() == forms::pointer::kHourglass) {
                    SetCursor(LoadCursor(nullptr, IDC_WAIT));
                    result = TRUE;
                    return true;
                }
                if (const Control* over =
                        form.controlById(GetDlgCtrlID(reinterpret_cast<HWND>(wParam)));
                    over != nullptr && over->mousePointer() == forms::pointer::kHand &&
                    over->enabled()) {
                    SetCursor(LoadCursor(nullptr, IDC_HAND));
                    result = TRUE;
                    return true;
                }
                return false;
            case WM_LBUTTONDOWN:
            case WM_RBUTTONDOWN:
            case WM_MBUTTONDOWN: {
                const int button = msg == WM_LBUTTONDOWN   ? forms::mouse::kLeft
                                   : msg == WM_RBUTTONDOWN ? forms::mouse::kRight
                                                           : forms::mouse::kMiddle;
                const auto x = static_cast<short>(LOWORD(lParam));
                const auto y = static_cast<short>(HIWORD(lParam));
                form.mouseDown(button, x * tppX(), y * tppY(), shiftState());
                result = 0;
                return true;
            }
            case WM_SETFOCUS:
                if (form.activeControl() != nullptr) focusChanged(form, form.activeControl());
                result = 0;
                return true;
            default:
                return false;
        }
    }

    forms::Menu* trackPopupMenu(Form& form, forms::Menu& menu) override {
        FormWindow* state = find(form);
        if (state == nullptr) return nullptr;
        HMENU popup = buildMenu(menu);
        POINT pt{};
        GetCursorPos(&pt);
        SetForegroundWindow(state->hwnd);
        const int cmd =
            static_cast<int>(TrackPopupMenu(popup, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                            pt.x, pt.y, 0, state->hwnd, nullptr));
        DestroyMenu(popup);
        PostMessageW(state->hwnd, WM_NULL, 0, 0);
        Control* chosen = cmd > 0 ? form.controlById(cmd) : nullptr;
        return chosen != nullptr && chosen->kind() == ControlKind::Menu
                   ? static_cast<forms::Menu*>(chosen)
                   : nullptr;
    }

    forms::TwipSize measureText(std::string_view text, bool bold) override {
        HDC dc = GetDC(nullptr);
        HGDIOBJ old = SelectObject(dc, bold ? boldFont_ : font_);
        RECT rc{0, 0, 0, 0};
        const std::wstring w = wide(text);
        if (w.empty()) {
            TEXTMETRICW tm{};
            GetTextMetricsW(dc, &tm);
            rc.bottom = tm.tmHeight;
        } else {
            // The same call that a static control draws its text with.
            DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &rc,
                      DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | DT_LEFT);
        }
        SelectObject(dc, old);
        ReleaseDC(nullptr, dc);
        // One pixel of slack: the text must never be clipped by the twip rounding.
        return {(rc.right - rc.left + 1) * tppX(), (rc.bottom - rc.top) * tppY()};
    }

    forms::TwipSize nonClientSize(const Form& form) override {
        DWORD style = 0, exStyle = 0;
        formStyles(form.borderStyle(), style, exStyle);
        RECT rc{0, 0, 100, 100};
        AdjustWindowRectEx(&rc, style, FALSE, exStyle);
        return {(rc.right - rc.left - 100) * tppX(), (rc.bottom - rc.top - 100) * tppY()};
    }

    // --- input from the child windows ------------------------------------------------------

    LRESULT childMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, ChildInfo& info) {
        // Copies: the model may unload the form (and the data behind `info`) inside a call.
        Form* form = info.form;
        Control* control = info.control;
        switch (msg) {
            case WM_KEYDOWN:
            case WM_KEYUP: {
                const int vk = static_cast<int>(wParam);
                if (msg == WM_KEYDOWN && vk == VK_TAB) {
                    HWND next = GetNextDlgTabItem(GetParent(hwnd), hwnd,
                                                  GetKeyState(VK_SHIFT) < 0 ? TRUE : FALSE);
                    if (next != nullptr) SetFocus(next);
                    return 0;
                }
                if (vk == VK_TAB) return 0;
                form->deliverKey(control, msg == WM_KEYDOWN, vk, shiftState());
                if (!IsWindow(hwnd)) return 0;
                const bool multiLine = control->kind() == ControlKind::TextBox &&
                                       static_cast<forms::TextBox*>(control)->multiLine();
                if (vk == VK_ESCAPE || (vk == VK_RETURN && !multiLine)) return 0;
                break;
            }
            case WM_CHAR:
                // Escape and Enter were handled as keys; an edit box would only beep at them.
                if (wParam == 27 || wParam == L'\t' ||
                    (wParam == L'\r' && !(control->kind() == ControlKind::TextBox &&
                                          static_cast<forms::TextBox*>(control)->multiLine())))
                    return 0;
                break;
            case WM_GETDLGCODE: {
                const LRESULT code = DefSubclassProc(hwnd, msg, wParam, lParam);
                return code | DLGC_WANTALLKEYS;
            }
            case WM_SETFOCUS:
                if (updating_ == 0 && form->activeControl() != control) {
                    Control* previous = form->activeControl();
                    const LRESULT r = DefSubclassProc(hwnd, msg, wParam, lParam);
                    if (!form->moveFocus(control) && previous != nullptr) {
                        // Validation kept the focus where it was.
                        FormWindow* state = find(*form);
                        if (state != nullptr) {
                            auto it = state->controls.find(previous);
                            if (it != state->controls.end() && it->second.hwnd != nullptr)
                                SetFocus(it->second.hwnd);
                        }
                    }
                    return r;
                }
                break;
            case WM_LBUTTONDOWN:
            case WM_RBUTTONDOWN: {
                const auto x = static_cast<short>(LOWORD(lParam));
                const auto y = static_cast<short>(HIWORD(lParam));
                control->mouseDown(
                    msg == WM_LBUTTONDOWN ? forms::mouse::kLeft : forms::mouse::kRight, x * tppX(),
                    y * tppY(), shiftState());
                if (!IsWindow(hwnd)) return 0;
                break;
            }
            case WM_ERASEBKGND:
                // A group box paints only its line and caption; its inside is the form's.
                if (control->kind() == ControlKind::Frame) {
                    FormWindow* state = find(*form);
                    if (state == nullptr) break;
                    RECT rc;
                    GetClientRect(hwnd, &rc);
                    HDC dc = reinterpret_cast<HDC>(wParam);
                    FillRect(dc, &rc, background(*state, *control, hwnd, dc));
                    return 1;
                }
                break;
            case WM_NCDESTROY:
                RemoveWindowSubclass(hwnd, childProc, 1);
                break;
            default:
                break;
        }
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    }

  private:
    static bool isContainer(const Control& c) {
        return c.kind() == ControlKind::Frame || c.kind() == ControlKind::TabControl;
    }

    FormWindow* find(const Form& form) {
        auto it = windows_.find(&form);
        return it == windows_.end() ? nullptr : it->second.get();
    }

    // The brush behind a control, with the colours of its text set in `dc`. A control in the
    // form's colour on a tab page (directly or in a frame there) takes the look of the tab body
    // around it; every other control its own colour.
    HBRUSH background(FormWindow& state, const Control& c, HWND hwnd, HDC dc) {
        const Control* tabs = c.container();
        while (tabs != nullptr && tabs->kind() != ControlKind::TabControl)
            tabs = tabs->container();
        auto it = tabs != nullptr ? state.controls.find(tabs) : state.controls.end();
        if (it != state.controls.end() && it->second.hwnd != nullptr && it->second.body &&
            c.backColor() == state.form->backColor()) {
            if (HBRUSH body = it->second.body->brush(it->second.hwnd)) {
                // The pattern starts at the tab control's corner, in the control's pixels.
                POINT tabsAt{0, 0}, at{0, 0};
                ClientToScreen(it->second.hwnd, &tabsAt);
                ClientToScreen(hwnd, &at);
                SetBrushOrgEx(dc, tabsAt.x - at.x, tabsAt.y - at.y, nullptr);
                SetBkColor(dc, it->second.body->color());
                return body;
            }
        }
        SetBkColor(dc, colorRef(c.backColor()));
        return brush(c.backColor());
    }

    HBRUSH brush(forms::Color c) {
        if (forms::color::isSystem(c)) return GetSysColorBrush(static_cast<int>(c & 0xFF));
        auto it = brushes_.find(c);
        if (it != brushes_.end()) return it->second;
        HBRUSH b = CreateSolidBrush(colorRef(c));
        brushes_[c] = b;
        return b;
    }

    void applyIcon(FormWindow& state) {
        const auto& picture = state.form->icon();
        HICON iconBig = nullptr;
        HICON iconSmall = nullptr;
        if (picture && picture->valid()) {
            iconBig = makeIcon(*picture, GetSystemMetrics(SM_CXICON));
            iconSmall = makeIcon(*picture, GetSystemMetrics(SM_CXSMICON));
        }
        SendMessageW(state.hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(iconBig));
        SendMessageW(state.hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(iconSmall));
        if (state.bigIcon != nullptr) DestroyIcon(state.bigIcon);
        if (state.smallIcon != nullptr) DestroyIcon(state.smallIcon);
        state.bigIcon = iconBig;
        state.smallIcon = iconSmall;
    }

    void applyBorderStyle(FormWindow& state) {
        DWORD style = 0, exStyle = 0;
        formStyles(state.form->borderStyle(), style, exStyle);
        const LONG_PTR current = GetWindowLongPtrW(state.hwnd, GWL_STYLE);
        const LONG_PTR keep = current & (WS_VISIBLE | WS_DISABLED | WS_CHILD);
        SetWindowLongPtrW(state.hwnd, GWL_STYLE, static_cast<LONG_PTR>(style) | keep);
        const LONG_PTR currentEx = GetWindowLongPtrW(state.hwnd, GWL_EXSTYLE);
        SetWindowLongPtrW(state.hwnd, GWL_EXSTYLE,
                          static_cast<LONG_PTR>(exStyle) | (currentEx & WS_EX_TOPMOST));
        SetWindowPos(state.hwnd, nullptr, 0, 0, 0, 0,
                     SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
    }

    void create(FormWindow& state, Control& c) {
        const wchar_t* cls = nullptr;
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS;
        DWORD exStyle = 0;
        switch (c.kind()) {
            case ControlKind::Label:
                cls = L"STATIC";
                style |= labelAlignment(static_cast<forms::Label&>(c)) | SS_NOTIFY | SS_NOPREFIX;
                break;
            case ControlKind::CommandButton:
                cls = L"BUTTON";
                style |= WS_TABSTOP |
                         (static_cast<forms::CommandButton&>(c).isDefault() ? BS_DEFPUSHBUTTON
                                                                            : BS_PUSHBUTTON);
                break;
            case ControlKind::CheckBox:
                cls = L"BUTTON";
                style |= WS_TABSTOP | BS_3STATE;
                break;
            case ControlKind::OptionButton:
                cls = L"BUTTON";
                style |= WS_TABSTOP | BS_RADIOBUTTON;
                break;
            case ControlKind::TextBox: {
                auto& box = static_cast<forms::TextBox&>(c);
                cls = L"EDIT";
                style |= WS_TABSTOP | ES_AUTOHSCROLL;
                if (box.multiLine()) style |= ES_MULTILINE | ES_AUTOVSCROLL | WS_VSCROLL;
                if (box.locked()) style |= ES_READONLY;
                exStyle |= WS_EX_CLIENTEDGE;
                break;
            }
            case ControlKind::ComboBox: {
                cls = L"COMBOBOX";
                style |= WS_TABSTOP | WS_VSCROLL;
                switch (static_cast<forms::ComboBox&>(c).style()) {
                    case forms::ComboBox::Style::DropdownList:
                        style |= CBS_DROPDOWNLIST;
                        break;
                    case forms::ComboBox::Style::Simple:
                        style |= CBS_SIMPLE;
                        break;
                    case forms::ComboBox::Style::DropdownCombo:
                        style |= CBS_DROPDOWN | CBS_AUTOHSCROLL;
                        break;
                }
                break;
            }
            case ControlKind::ListBox:
                exStyle |= WS_EX_CLIENTEDGE;
                if (static_cast<forms::ListBox&>(c).style() == forms::ListBox::Style::CheckBox) {
                    cls = WC_LISTVIEWW;
                    style |= WS_TABSTOP | LVS_REPORT | LVS_NOCOLUMNHEADER | LVS_SINGLESEL |
                             LVS_SHOWSELALWAYS;
                } else {
                    cls = L"LISTBOX";
                    style |= WS_TABSTOP | WS_VSCROLL | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT;
                }
                break;
            case ControlKind::Frame:
                cls = L"BUTTON";
                style |= BS_GROUPBOX;
                break;
            case ControlKind::TabControl:
                cls = WC_TABCONTROLW;
                style |= WS_TABSTOP;
                break;
            case ControlKind::Picture:
            case ControlKind::ImageView:
                cls = L"STATIC";
                style |= SS_OWNERDRAW | SS_NOTIFY;
                break;
            case ControlKind::ThumbnailList:
                cls = WC_LISTVIEWW;
                style |= WS_TABSTOP | LVS_ICON | LVS_SHOWSELALWAYS | LVS_AUTOARRANGE;
                exStyle |= WS_EX_CLIENTEDGE;
                break;
            case ControlKind::ImageList:
            case ControlKind::Timer:
            case ControlKind::Menu:
                state.controls[&c];
                return;  // no window of their own
        }
        ControlWindow& window = state.controls[&c];
        window.hwnd = CreateWindowExW(exStyle, cls, L"", style, 0, 0, 0, 0, state.hwnd,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id())),
                                      GetModuleHandleW(nullptr), nullptr);
        if (window.hwnd == nullptr) return;
        SendMessageW(window.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(fontOf(c)), FALSE);
        window.info = std::make_unique<ChildInfo>(ChildInfo{this, state.form, &c});
        SetWindowSubclass(window.hwnd, childProc, 1,
                          reinterpret_cast<DWORD_PTR>(window.info.get()));
        if (c.kind() == ControlKind::ListBox) {
            if (static_cast<forms::ListBox&>(c).style() == forms::ListBox::Style::CheckBox) {
                ListView_SetExtendedListViewStyle(window.hwnd,
                                                  LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT);
                LVCOLUMNW column{};
                column.mask = LVCF_WIDTH;
                column.cx = 100;
                SendMessageW(window.hwnd, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
            }
        }
        if (c.kind() == ControlKind::TabControl) window.body = std::make_unique<TabBody>();
        if (c.kind() == ControlKind::ThumbnailList) {
            window.thumbPx = std::max(32, 96 * 15 / tppX());
            window.thumbnails = ImageList_Create(window.thumbPx, window.thumbPx, ILC_COLOR24, 8, 8);
            ListView_SetImageList(window.hwnd, window.thumbnails, LVSIL_NORMAL);
        }
        ++updating_;
        for (Prop p : {Prop::Caption, Prop::ToolTip, Prop::Enabled, Prop::Value, Prop::Text,
                       Prop::Items, Prop::Tabs, Prop::Picture})
            update(state, c, window, p);
        --updating_;
    }

    void update(FormWindow& state, Control& c, ControlWindow& window, Prop what) {
        HWND h = window.hwnd;
        switch (what) {
            case Prop::Caption:
                if (h == nullptr) return;
                switch (c.kind()) {
                    case ControlKind::Label: {
                        const auto now = static_cast<DWORD>(GetWindowLongPtrW(h, GWL_STYLE));
                        const DWORD want = (now & ~static_cast<DWORD>(SS_TYPEMASK)) |
                                           labelAlignment(static_cast<forms::Label&>(c));
                        if (want != now)
                            SetWindowLongPtrW(h, GWL_STYLE, static_cast<LONG_PTR>(want));
                        SetWindowTextW(h, wide(c.caption()).c_str());
                        break;
                    }
                    case ControlKind::CommandButton:
                    case ControlKind::CheckBox:
                    case ControlKind::OptionButton:
                    case ControlKind::Frame:
                        SetWindowTextW(h, wide(c.caption()).c_str());
                        break;
                    default:
                        break;
                }
                return;
            case Prop::ToolTip: {
                if (h == nullptr || state.tooltip == nullptr) return;
                TTTOOLINFOW ti{};
                ti.cbSize = sizeof(ti);
                ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
                ti.hwnd = state.hwnd;
                ti.uId = reinterpret_cast<UINT_PTR>(h);
                SendMessageW(state.tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
                if (!c.toolTipText().empty()) {
                    std::wstring text = wide(c.toolTipText());
                    ti.lpszText = text.data();
                    SendMessageW(state.tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
                }
                return;
            }
            case Prop::Enabled:
                if (h == nullptr) return;
                EnableWindow(h, c.enabled() ? TRUE : FALSE);
                if (c.kind() == ControlKind::TextBox)
                    SendMessageW(h, EM_SETREADONLY,
                                 static_cast<forms::TextBox&>(c).locked() ? TRUE : FALSE, 0);
                return;
            case Prop::Visible:
            case Prop::Geometry:
            case Prop::Container:
            case Prop::CurrentTab:
                if (c.kind() == ControlKind::TabControl && h != nullptr)
                    TabCtrl_SetCurSel(h, static_cast<forms::TabControl&>(c).currentTab());
                layout(state);
                return;
            case Prop::Colors:
                if (h != nullptr) InvalidateRect(h, nullptr, TRUE);
                return;
            case Prop::Font:
                if (h != nullptr)
                    SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(fontOf(c)), TRUE);
                return;
            case Prop::Value:
                if (h == nullptr) return;
                if (c.kind() == ControlKind::CheckBox) {
                    const int v = static_cast<forms::CheckBox&>(c).value();
                    SendMessageW(h, BM_SETCHECK,
                                 v == 1   ? BST_CHECKED
                                 : v == 2 ? BST_INDETERMINATE
                                          : BST_UNCHECKED,
                                 0);
                } else if (c.kind() == ControlKind::OptionButton) {
                    SendMessageW(
                        h, BM_SETCHECK,
                        static_cast<forms::OptionButton&>(c).value() ? BST_CHECKED : BST_UNCHECKED,
                        0);
                }
                return;
            case Prop::Text: {
                if (h == nullptr) return;
                std::string text;
                if (c.kind() == ControlKind::TextBox)
                    text = static_cast<forms::TextBox&>(c).text();
                else if (c.kind() == ControlKind::ComboBox &&
                         static_cast<forms::ComboBox&>(c).style() !=
                             forms::ComboBox::Style::DropdownList)
                    text = static_cast<forms::ComboBox&>(c).text();
                else
                    return;
                if (windowTextUtf8(h) != text) SetWindowTextW(h, wide(text).c_str());
                return;
            }
            case Prop::Items:
                fillItems(c, window);
                return;
            case Prop::ListIndex:
            case Prop::Selection:
                showSelection(c, window);
                return;
            case Prop::Tabs: {
                if (h == nullptr || c.kind() != ControlKind::TabControl) return;
                auto& tabs = static_cast<forms::TabControl&>(c);
                TabCtrl_DeleteAllItems(h);
                for (int i = 0; i < tabs.tabCount(); ++i) {
                    std::wstring text = wide(tabs.tab(i).caption);
                    TCITEMW item{};
                    item.mask = TCIF_TEXT;
                    item.pszText = text.data();
                    SendMessageW(h, TCM_INSERTITEMW, static_cast<WPARAM>(i),
                                 reinterpret_cast<LPARAM>(&item));
                }
                TabCtrl_SetCurSel(h, tabs.currentTab());
                return;
            }
            case Prop::Picture: {
                if (h == nullptr) return;
                if (c.kind() == ControlKind::ImageView) {
                    auto& view = static_cast<forms::ImageView&>(c);
                    if (view.image())
                        window.picture.assignGrey(view.image()->width, view.image()->height,
                                                  view.screenImage());
                    else
                        window.picture = {};
                } else if (c.kind() == ControlKind::Picture) {
                    const auto& pic = static_cast<forms::Picture&>(c).picture();
                    if (pic && pic->valid())
                        window.picture.assign(*pic);
                    else
                        window.picture = {};
                } else {
                    return;
                }
                InvalidateRect(h, nullptr, TRUE);
                return;
            }
            case Prop::EnsureVisible:
                if (h != nullptr && c.kind() == ControlKind::ThumbnailList)
                    ListView_EnsureVisible(
                        h, static_cast<forms::ThumbnailList&>(c).lastEnsuredVisible(), FALSE);
                return;
            case Prop::MousePointer:
            case Prop::Interval:
                return;
        }
    }

    void fillItems(Control& c, ControlWindow& window) {
        HWND h = window.hwnd;
        if (h == nullptr) return;
        if (c.kind() == ControlKind::ComboBox) {
            auto& combo = static_cast<forms::ComboBox&>(c);
            SendMessageW(h, CB_RESETCONTENT, 0, 0);
            for (const auto& item : combo.items())
                SendMessageW(h, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(item.text).c_str()));
        } else if (c.kind() == ControlKind::ListBox) {
            auto& list = static_cast<forms::ListBox&>(c);
            if (list.style() == forms::ListBox::Style::CheckBox) {
                ListView_DeleteAllItems(h);
                for (int i = 0; i < list.listCount(); ++i) {
                    std::wstring text = wide(list.list(i));
                    LVITEMW item{};
                    item.mask = LVIF_TEXT;
                    item.iItem = i;
                    item.pszText = text.data();
                    SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
                }
            } else {
                SendMessageW(h, LB_RESETCONTENT, 0, 0);
                for (const auto& item : list.items())
                    SendMessageW(h, LB_ADDSTRING, 0,
                                 reinterpret_cast<LPARAM>(wide(item.text).c_str()));
            }
        } else if (c.kind() == ControlKind::ThumbnailList) {
            auto& strip = static_cast<forms::ThumbnailList&>(c);
            ListView_DeleteAllItems(h);
            ImageList_RemoveAll(window.thumbnails);
            for (int i = 0; i < strip.count(); ++i) {
                const int image =
                    addThumbnail(window, strip.item(i).picture.get(), strip.form().backColor());
                std::wstring text = wide(strip.item(i).text);
                LVITEMW item{};
                item.mask = LVIF_TEXT | LVIF_IMAGE;
                item.iItem = i;
                item.iImage = image;
                item.pszText = text.data();
                SendMessageW(h, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
            }
        } else {
            return;
        }
        showSelection(c, window);
    }

    int addThumbnail(ControlWindow& window, const forms::DisplayImage* picture, forms::Color face) {
        const int size = window.thumbPx;
        HDC screen = GetDC(nullptr);
        HDC dc = CreateCompatibleDC(screen);
        HBITMAP bitmap = CreateCompatibleBitmap(screen, size, size);
        ReleaseDC(nullptr, screen);
        HGDIOBJ old = SelectObject(dc, bitmap);
        RECT box{0, 0, size, size};
        FillRect(dc, &box, brush(face));
        if (picture != nullptr && picture->valid()) {
            ScreenDib dib;
            dib.assign(*picture);
            dib.draw(dc, box);
        }
        SelectObject(dc, old);
        DeleteDC(dc);
        const int index = ImageList_Add(window.thumbnails, bitmap, nullptr);
        DeleteObject(bitmap);
        return index;
    }

    void showSelection(Control& c, ControlWindow& window) {
        HWND h = window.hwnd;
        if (h == nullptr) return;
        if (c.kind() == ControlKind::ComboBox) {
            SendMessageW(h, CB_SETCURSEL,
                         static_cast<WPARAM>(static_cast<forms::ComboBox&>(c).listIndex()), 0);
        } else if (c.kind() == ControlKind::ListBox) {
            auto& list = static_cast<forms::ListBox&>(c);
            if (list.style() == forms::ListBox::Style::CheckBox) {
                for (int i = 0; i < list.listCount(); ++i) {
                    ListView_SetCheckState(h, i, list.selected(i) ? TRUE : FALSE);
                    ListView_SetItemState(h, i, i == list.listIndex() ? LVIS_SELECTED : 0,
                                          LVIS_SELECTED);
                }
            } else {
                SendMessageW(h, LB_SETCURSEL, static_cast<WPARAM>(list.listIndex()), 0);
            }
        } else if (c.kind() == ControlKind::ThumbnailList) {
            // The model's selection is drawn as frames (NM_CUSTOMDRAW below): the list view's
            // own selection would tint the pictures, so it stays empty.
            InvalidateRect(h, nullptr, TRUE);
        }
    }

    // Places every control window from the model's twips and shows the ones that are visible
    // with all their containers (and, on a tab control, on the current tab).
    void layout(FormWindow& state) {
        const int tx = tppX();
        const int ty = tppY();
        for (auto& [control, window] : state.controls) {
            if (window.hwnd == nullptr) continue;
            int left = control->left();
            int top = control->top();
            bool shown = control->visible();
            bool onPage = false;
            const Control* child = control;
            for (const Control* p = control->container(); p != nullptr; p = p->container()) {
                if (p->kind() == ControlKind::Menu) break;
                left += p->left();
                top += p->top();
                shown = shown && p->visible();
                if (p->kind() == ControlKind::TabControl) {
                    onPage = true;
                    if (static_cast<const forms::TabControl*>(p)->currentTab() !=
                        child->containerTab())
                        shown = false;
                }
                child = p;
            }
            const int x = toPx(left, tx);
            const int y = toPx(top, ty);
            const int w = toPx(left + control->width(), tx) - x;
            int h = toPx(top + control->height(), ty) - y;
            if (control->kind() == ControlKind::ComboBox &&
                static_cast<const forms::ComboBox*>(control)->style() !=
                    forms::ComboBox::Style::Simple)
                h = std::max(h, 1) * 8;  // a drop-down's window includes its list
            SetWindowPos(window.hwnd, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
            ShowWindow(window.hwnd, shown ? SW_SHOWNA : SW_HIDE);
            // What sits on a tab page takes its background from the tab body, whose look is
            // known once the tab control has its size: painted again after every placing.
            if (onPage && shown) InvalidateRect(window.hwnd, nullptr, TRUE);
            if (control->kind() == ControlKind::ListBox &&
                static_cast<const forms::ListBox*>(control)->style() ==
                    forms::ListBox::Style::CheckBox) {
                RECT rc;
                GetClientRect(window.hwnd, &rc);
                ListView_SetColumnWidth(window.hwnd, 0, rc.right - rc.left);
            }
        }
    }

    void updateEnabledForms() {
        for (auto& [form, state] : windows_) {
            const bool on = form->enabled() && !form->blockedByModal();
            if ((IsWindowEnabled(state->hwnd) != FALSE) != on)
                EnableWindow(state->hwnd, on ? TRUE : FALSE);
        }
    }

    HMENU buildMenu(forms::Menu& menu) {
        HMENU h = CreatePopupMenu();
        for (forms::Menu* item : menu.items()) {
            if (!item->visible()) continue;
            const std::wstring text = wide(item->caption());
            if (item->caption() == "-") {
                AppendMenuW(h, MF_SEPARATOR, 0, nullptr);
                continue;
            }
            UINT flags = MF_STRING;
            if (!item->enabled()) flags |= MF_GRAYED;
            if (item->checked()) flags |= MF_CHECKED;
            if (!item->items().empty()) {
                AppendMenuW(h, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(buildMenu(*item)),
                            text.c_str());
            } else {
                AppendMenuW(h, flags, static_cast<UINT_PTR>(item->id()), text.c_str());
            }
        }
        return h;
    }

    bool onCommand(Form& form, WParam wParam, LParam lParam, LResult& result) {
        if (lParam == 0) return false;  // menus and accelerators are not ours
        result = 0;
        Control* c = form.controlById(LOWORD(wParam));
        if (c == nullptr) return false;
        if (updating_ > 0) return true;
        const UINT code = HIWORD(wParam);
        HWND h = reinterpret_cast<HWND>(lParam);
        switch (c->kind()) {
            case ControlKind::CommandButton:
            case ControlKind::CheckBox:
            case ControlKind::OptionButton:
                if (code == BN_CLICKED) c->click();
                return true;
            case ControlKind::Label:
            case ControlKind::Picture:
            case ControlKind::ImageView:
                if (code == STN_CLICKED) c->click();
                if (code == STN_DBLCLK && c->onDblClick && c->userCanReach()) c->onDblClick();
                return true;
            case ControlKind::TextBox:
                if (code == EN_CHANGE) static_cast<forms::TextBox*>(c)->setText(windowTextUtf8(h));
                return true;
            case ControlKind::ComboBox: {
                auto* combo = static_cast<forms::ComboBox*>(c);
                if (code == CBN_SELCHANGE) {
                    const int sel = static_cast<int>(SendMessageW(h, CB_GETCURSEL, 0, 0));
                    if (sel >= 0) combo->selectItem(sel);
                } else if (code == CBN_EDITCHANGE) {
                    combo->setText(windowTextUtf8(h));
                }
                return true;
            }
            case ControlKind::ListBox:
                if (code == LBN_SELCHANGE) {
                    const int sel = static_cast<int>(SendMessageW(h, LB_GETCURSEL, 0, 0));
                    if (sel >= 0) static_cast<forms::ListBox*>(c)->selectItem(sel);
                }
                return true;
            default:
                return true;
        }
    }

    bool onNotify(Form& form, const NMHDR& header, LResult& result) {
        Control* c = form.controlById(static_cast<int>(header.idFrom));
        if (c == nullptr) return false;
        result = 0;
        if (c->kind() == ControlKind::TabControl) {
            if (header.code == TCN_SELCHANGE && updating_ == 0) {
                const int sel = TabCtrl_GetCurSel(header.hwndFrom);
                auto* tabs = static_cast<forms::TabControl*>(c);
                if (!tabs->selectTab(sel)) TabCtrl_SetCurSel(header.hwndFrom, tabs->currentTab());
            }
            return true;
        }
        if (c->kind() == ControlKind::ThumbnailList) {
            auto* strip = static_cast<forms::ThumbnailList*>(c);
            if (header.code == LVN_ITEMCHANGING) {
                // The model decides the selection: a click toggles one item (below).
                const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
                const bool selectionChange =
                    (change.uChanged & LVIF_STATE) != 0 &&
                    ((change.uNewState ^ change.uOldState) & LVIS_SELECTED) != 0;
                result = updating_ == 0 && selectionChange ? TRUE : FALSE;
                return true;
            }
            // Every click toggles, the second of a quick pair (a double click) too.
            if ((header.code == NM_CLICK || header.code == NM_DBLCLK) && updating_ == 0) {
                const auto& click = reinterpret_cast<const NMITEMACTIVATE&>(header);
                if (click.iItem >= 0) strip->toggleItem(click.iItem);
            }
            if (header.code == NM_CUSTOMDRAW) {
                // A selected radiograph keeps its own greys: a frame in the highlight colour
                // around it instead of the list view's tint.
                auto& draw =
                    const_cast<NMLVCUSTOMDRAW&>(reinterpret_cast<const NMLVCUSTOMDRAW&>(header));
                const auto item = static_cast<int>(draw.nmcd.dwItemSpec);
                switch (draw.nmcd.dwDrawStage) {
                    case CDDS_PREPAINT:
                        result = CDRF_NOTIFYITEMDRAW;
                        break;
                    case CDDS_ITEMPREPAINT:
                        result = CDRF_NOTIFYPOSTPAINT;
                        break;
                    case CDDS_ITEMPOSTPAINT:
                        if (item >= 0 && item < strip->count() && strip->selected(item)) {
                            RECT rc{};
                            ListView_GetItemRect(header.hwndFrom, item, &rc, LVIR_ICON);
                            HBRUSH brush = GetSysColorBrush(COLOR_HIGHLIGHT);
                            for (int i = 0; i < 3; ++i) {
                                FrameRect(draw.nmcd.hdc, &rc, brush);
                                InflateRect(&rc, -1, -1);
                            }
                        }
                        result = CDRF_DODEFAULT;
                        break;
                    default:
                        result = CDRF_DODEFAULT;
                        break;
                }
            }
            return true;
        }
        if (c->kind() == ControlKind::ListBox && header.code == LVN_ITEMCHANGED && updating_ == 0) {
            auto* list = static_cast<forms::ListBox*>(c);
            const auto& change = reinterpret_cast<const NMLISTVIEW&>(header);
            if (change.iItem < 0 || change.iItem >= list->listCount()) return true;
            if (((change.uNewState ^ change.uOldState) & LVIS_STATEIMAGEMASK) != 0 &&
                (change.uOldState & LVIS_STATEIMAGEMASK) != 0) {
                const bool checked = ((change.uNewState & LVIS_STATEIMAGEMASK) >> 12) == 2;
                if (list->selected(change.iItem) != checked) list->toggleCheck(change.iItem);
            }
            if ((change.uNewState & LVIS_SELECTED) != 0 &&
                (change.uOldState & LVIS_SELECTED) == 0 && list->listIndex() != change.iItem)
                list->selectItem(change.iItem);
            return true;
        }
        return true;
    }

    Platform& platform_;
    HFONT font_ = nullptr;
    HFONT boldFont_ = nullptr;
    HFONT underlineFont_ = nullptr;
    std::map<const Form*, std::unique_ptr<FormWindow>> windows_;
    std::vector<std::unique_ptr<FormWindow>> retired_;
    std::map<forms::Color, HBRUSH> brushes_;
    int updating_ = 0;
};

LRESULT CALLBACK childProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                           DWORD_PTR data) {
    auto* info = reinterpret_cast<ChildInfo*>(data);
    if (info == nullptr || info->renderer == nullptr)
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    return info->renderer->childMessage(hwnd, msg, wParam, lParam, *info);
}

// --- PNG writing ------------------------------------------------------------------------------

std::uint32_t crc32(const std::uint8_t* data, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void chunk(std::vector<std::uint8_t>& out, const char* type,
           const std::vector<std::uint8_t>& data) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::unique_ptr<forms::Renderer> makeWin32FormsRenderer(Platform& platform) {
    SetProcessDPIAware();
    INITCOMMONCONTROLSEX init{};
    init.dwSize = sizeof(init);
    init.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES;
    InitCommonControlsEx(&init);
    return std::make_unique<Win32FormsRenderer>(platform);
}

ScreenCapture captureWindow(Hwnd hwnd) {
    ScreenCapture shot;
    RECT rc;
    if (!GetWindowRect(reinterpret_cast<HWND>(hwnd), &rc)) return shot;
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return shot;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(dc, bitmap);
        BitBlt(dc, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
        shot.width = w;
        shot.height = h;
        shot.bgr.resize(static_cast<std::size_t>(w) * 3 * static_cast<std::size_t>(h));
        const auto* src = static_cast<const std::uint8_t*>(bits);
        for (int y = 0; y < h; ++y)
            std::copy_n(src + static_cast<std::size_t>(y) * stride, static_cast<std::size_t>(w) * 3,
                        shot.bgr.begin() + static_cast<std::ptrdiff_t>(y) * w * 3);
        SelectObject(dc, old);
        DeleteObject(bitmap);
    }
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);
    return shot;
}

bool writePng(const ScreenCapture& capture, const std::string& path) {
    if (capture.width <= 0 || capture.height <= 0) return false;
    std::vector<std::uint8_t> raw;
    raw.reserve((static_cast<std::size_t>(capture.width) * 3 + 1) *
                static_cast<std::size_t>(capture.height));
    for (int y = 0; y < capture.height; ++y) {
        raw.push_back(0);  // no filter
        const std::uint8_t* row =
            capture.bgr.data() + static_cast<std::size_t>(y) * capture.width * 3;
        for (int x = 0; x < capture.width; ++x) {
            raw.push_back(row[3 * x + 2]);
            raw.push_back(row[3 * x + 1]);
            raw.push_back(row[3 * x]);
        }
    }
    // A zlib stream of stored blocks: no compression, so no library is needed.
    std::vector<std::uint8_t> z{0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        const bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<std::uint8_t>(n & 0xFF));
        z.push_back(static_cast<std::uint8_t>(n >> 8));
        z.push_back(static_cast<std::uint8_t>(~n & 0xFF));
        z.push_back(static_cast<std::uint8_t>((~n >> 8) & 0xFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);

    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(capture.width));
    put32(header, static_cast<std::uint32_t>(capture.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});

    HANDLE file = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, png.data(), static_cast<DWORD>(png.size()), &written, nullptr);
    CloseHandle(file);
    return ok != FALSE && written == png.size();
}

}  // namespace quilo::platform
