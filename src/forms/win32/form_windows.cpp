// Form windows: each loaded form's window restyled by its border style and given its icon, the
// windows of its controls created and placed from the model's twips, and forms behind a modal
// form disabled.
#include "forms/win32/renderer.h"

namespace quilo::forms::win32 {

namespace {

// Twips to pixels, rounding towards minus infinity so that edges meet without gaps.
int toPx(int twips, int tpp) {
    return twips >= 0 ? twips / tpp : -((-twips + tpp - 1) / tpp);
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

}  // namespace

COLORREF colorRef(forms::Color c) {
    if (forms::color::isSystem(c)) return GetSysColor(static_cast<int>(c & 0xFF));
    return static_cast<COLORREF>(c & 0x00FFFFFF);
}

Win32FormsRenderer::Win32FormsRenderer(Platform& platform) : platform_(platform) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    font_.reset(CreateFontIndirectW(&metrics.lfMessageFont));
    LOGFONTW bold = metrics.lfMessageFont;
    bold.lfWeight = FW_BOLD;
    boldFont_.reset(CreateFontIndirectW(&bold));
    LOGFONTW underline = metrics.lfMessageFont;
    underline.lfUnderline = TRUE;
    underlineFont_.reset(CreateFontIndirectW(&underline));
}

Win32FormsRenderer::~Win32FormsRenderer() = default;

void Win32FormsRenderer::formLoaded(Form& form) {
    retired_.clear();
    auto state = std::make_unique<FormWindow>();
    state->form = &form;
    state->hwnd = reinterpret_cast<HWND>(form.hwnd());
    applyBorderStyle(*state);
    SetWindowTextW(state->hwnd, utf8ToWide(form.caption()).c_str());
    state->tooltip.reset(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                                         WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT,
                                         CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, state->hwnd,
                                         nullptr, GetModuleHandleW(nullptr), nullptr));
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

void Win32FormsRenderer::formUnloading(Form& form) {
    auto it = windows_.find(&form);
    if (it == windows_.end()) return;
    it->second->tooltip.reset();
    // The child windows go with the form's window; their data stays until no message of
    // theirs can be on the way any more.
    retired_.push_back(std::move(it->second));
    windows_.erase(it);
}

void Win32FormsRenderer::formChanged(Form& form, FormProp what) {
    FormWindow* state = find(form);
    if (state == nullptr) return;
    switch (what) {
        case FormProp::Caption:
            SetWindowTextW(state->hwnd, utf8ToWide(form.caption()).c_str());
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

forms::TwipSize Win32FormsRenderer::measureText(std::string_view text, bool bold) {
    const WindowDc screen;
    HDC dc = screen.get();
    const Selection selected(dc, (bold ? boldFont_ : font_).get());
    RECT rc{0, 0, 0, 0};
    const std::wstring w = utf8ToWide(text);
    if (w.empty()) {
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        rc.bottom = tm.tmHeight;
    } else {
        // The same call that a static control draws its text with.
        DrawTextW(dc, w.c_str(), static_cast<int>(w.size()), &rc,
                  DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS | DT_LEFT);
    }
    // One pixel of slack: the text must never be clipped by the twip rounding.
    return {(rc.right - rc.left + 1) * tppX(), (rc.bottom - rc.top) * tppY()};
}

forms::TwipSize Win32FormsRenderer::nonClientSize(const Form& form) {
    DWORD style = 0, exStyle = 0;
    formStyles(form.borderStyle(), style, exStyle);
    RECT rc{0, 0, 100, 100};
    AdjustWindowRectEx(&rc, style, FALSE, exStyle);
    return {(rc.right - rc.left - 100) * tppX(), (rc.bottom - rc.top - 100) * tppY()};
}

// The brush behind a control, with the colours of its text set in `dc`. A control in the
// form's colour on a tab page (directly or in a frame there) takes the look of the tab body
// around it; every other control its own colour.
HBRUSH Win32FormsRenderer::background(FormWindow& state, const Control& c, HWND hwnd, HDC dc) {
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

HBRUSH Win32FormsRenderer::brush(forms::Color c) {
    if (forms::color::isSystem(c)) return GetSysColorBrush(static_cast<int>(c & 0xFF));
    auto it = brushes_.find(c);
    if (it != brushes_.end()) return it->second.get();
    return brushes_.emplace(c, CreateSolidBrush(colorRef(c))).first->second.get();
}

void Win32FormsRenderer::applyIcon(FormWindow& state) {
    const auto& picture = state.form->icon();
    IconHandle iconBig, iconSmall;
    if (picture && picture->valid()) {
        iconBig = makeIcon(*picture, GetSystemMetrics(SM_CXICON));
        iconSmall = makeIcon(*picture, GetSystemMetrics(SM_CXSMICON));
    }
    SendMessageW(state.hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(iconBig.get()));
    SendMessageW(state.hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(iconSmall.get()));
    // The window has let go of the icons it had: they can go now.
    state.bigIcon = std::move(iconBig);
    state.smallIcon = std::move(iconSmall);
}

void Win32FormsRenderer::applyBorderStyle(FormWindow& state) {
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

// Places every control window from the model's twips and shows the ones that are visible
// with all their containers (and, on a tab control, on the current tab).
void Win32FormsRenderer::layout(FormWindow& state) {
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
                if (static_cast<const forms::TabControl*>(p)->currentTab() != child->containerTab())
                    shown = false;
            }
            child = p;
        }
        const int x = toPx(left, tx);
        const int y = toPx(top, ty);
        const int w = toPx(left + control->width(), tx) - x;
        int h = toPx(top + control->height(), ty) - y;
        if (control->kind() == ControlKind::ComboBox &&
            static_cast<const forms::ComboBox*>(control)->style() != forms::ComboBox::Style::Simple)
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

void Win32FormsRenderer::updateEnabledForms() {
    for (auto& [form, state] : windows_) {
        const bool on = form->enabled() && !form->blockedByModal();
        if ((IsWindowEnabled(state->hwnd) != FALSE) != on)
            EnableWindow(state->hwnd, on ? TRUE : FALSE);
    }
}

}  // namespace quilo::forms::win32

namespace quilo::forms {

std::unique_ptr<Renderer> makeWin32FormsRenderer(platform::Platform& platform) {
    SetProcessDPIAware();
    INITCOMMONCONTROLSEX init{};
    init.dwSize = sizeof(init);
    init.dwICC = ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES | ICC_TAB_CLASSES | ICC_LISTVIEW_CLASSES;
    InitCommonControlsEx(&init);
    return std::make_unique<win32::Win32FormsRenderer>(platform);
}

}  // namespace quilo::forms
