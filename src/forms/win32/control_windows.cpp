// Control windows: the child window each control gets (its class and styles by kind), and the
// model's changes carried to it: caption, tool tip, state, text, items, selection, pictures.
#include "forms/win32/renderer.h"

namespace quilo::forms::win32 {

namespace {

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

}  // namespace

std::string windowTextUtf8(HWND h) {
    const int n = GetWindowTextLengthW(h);
    std::wstring text(static_cast<std::size_t>(std::max(n, 0)) + 1, L'\0');
    const int got = GetWindowTextW(h, text.data(), n + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return wideToUtf8(text);
}

void Win32FormsRenderer::controlChanged(Control& control, Prop what) {
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

void Win32FormsRenderer::create(FormWindow& state, Control& c) {
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
            style |=
                WS_TABSTOP | (static_cast<forms::CommandButton&>(c).isDefault() ? BS_DEFPUSHBUTTON
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
    SetWindowSubclass(window.hwnd, childProc, 1, reinterpret_cast<DWORD_PTR>(window.info.get()));
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

void Win32FormsRenderer::update(FormWindow& state, Control& c, ControlWindow& window, Prop what) {
    HWND h = window.hwnd;
    switch (what) {
        case Prop::Caption:
            if (h == nullptr) return;
            switch (c.kind()) {
                case ControlKind::Label: {
                    const auto now = static_cast<DWORD>(GetWindowLongPtrW(h, GWL_STYLE));
                    const DWORD want = (now & ~static_cast<DWORD>(SS_TYPEMASK)) |
                                       labelAlignment(static_cast<forms::Label&>(c));
                    if (want != now) SetWindowLongPtrW(h, GWL_STYLE, static_cast<LONG_PTR>(want));
                    SetWindowTextW(h, utf8ToWide(c.caption()).c_str());
                    break;
                }
                case ControlKind::CommandButton:
                case ControlKind::CheckBox:
                case ControlKind::OptionButton:
                case ControlKind::Frame:
                    SetWindowTextW(h, utf8ToWide(c.caption()).c_str());
                    break;
                default:
                    break;
            }
            return;
        case Prop::ToolTip: {
            if (h == nullptr || !state.tooltip) return;
            TTTOOLINFOW ti{};
            ti.cbSize = sizeof(ti);
            ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            ti.hwnd = state.hwnd;
            ti.uId = reinterpret_cast<UINT_PTR>(h);
            SendMessageW(state.tooltip.get(), TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
            if (!c.toolTipText().empty()) {
                std::wstring text = utf8ToWide(c.toolTipText());
                ti.lpszText = text.data();
                SendMessageW(state.tooltip.get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
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
                    static_cast<forms::OptionButton&>(c).value() ? BST_CHECKED : BST_UNCHECKED, 0);
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
            if (windowTextUtf8(h) != text) SetWindowTextW(h, utf8ToWide(text).c_str());
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
                std::wstring text = utf8ToWide(tabs.tab(i).caption);
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

void Win32FormsRenderer::fillItems(Control& c, ControlWindow& window) {
    HWND h = window.hwnd;
    if (h == nullptr) return;
    if (c.kind() == ControlKind::ComboBox) {
        auto& combo = static_cast<forms::ComboBox&>(c);
        SendMessageW(h, CB_RESETCONTENT, 0, 0);
        for (const auto& item : combo.items())
            SendMessageW(h, CB_ADDSTRING, 0,
                         reinterpret_cast<LPARAM>(utf8ToWide(item.text).c_str()));
    } else if (c.kind() == ControlKind::ListBox) {
        auto& list = static_cast<forms::ListBox&>(c);
        if (list.style() == forms::ListBox::Style::CheckBox) {
            ListView_DeleteAllItems(h);
            for (int i = 0; i < list.listCount(); ++i) {
                std::wstring text = utf8ToWide(list.list(i));
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
                             reinterpret_cast<LPARAM>(utf8ToWide(item.text).c_str()));
        }
    } else if (c.kind() == ControlKind::ThumbnailList) {
        auto& strip = static_cast<forms::ThumbnailList&>(c);
        ListView_DeleteAllItems(h);
        ImageList_RemoveAll(window.thumbnails);
        for (int i = 0; i < strip.count(); ++i) {
            const int image =
                addThumbnail(window, strip.item(i).picture.get(), strip.form().backColor());
            std::wstring text = utf8ToWide(strip.item(i).text);
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

int Win32FormsRenderer::addThumbnail(ControlWindow& window, const forms::DisplayImage* picture,
                                     forms::Color face) {
    const int size = window.thumbPx;
    GdiObject<HBITMAP> bitmap;
    {
        const MemoryDc dc = compatibleDc(nullptr, size, size, bitmap);
        const Selection selected(dc.get(), bitmap.get());
        const RECT box{0, 0, size, size};
        FillRect(dc.get(), &box, brush(face));
        if (picture != nullptr && picture->valid()) {
            ScreenDib dib;
            dib.assign(*picture);
            dib.draw(dc.get(), box);
        }
    }
    // The image list copies the bitmap.
    return ImageList_Add(window.thumbnails, bitmap.get(), nullptr);
}

void Win32FormsRenderer::showSelection(Control& c, ControlWindow& window) {
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

}  // namespace quilo::forms::win32
