// Input: the messages of the forms' windows and of their control windows (keys, mouse, focus,
// commands and notifications) go back to the model as its driving calls and events; pop-up
// menus; colours and owner-drawn pictures asked for while painting.
#include "forms/win32/renderer.h"

namespace quilo::forms::win32 {

namespace {

int shiftState() {
    int s = 0;
    if (GetKeyState(VK_SHIFT) < 0) s |= forms::shift::kShift;
    if (GetKeyState(VK_CONTROL) < 0) s |= forms::shift::kCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= forms::shift::kAlt;
    return s;
}

}  // namespace

void Win32FormsRenderer::focusChanged(Form& form, Control* control) {
    FormWindow* state = find(form);
    if (state == nullptr || control == nullptr) return;
    auto it = state->controls.find(control);
    if (it == state->controls.end() || it->second.hwnd == nullptr) return;
    if (GetFocus() != it->second.hwnd && IsWindowVisible(state->hwnd)) SetFocus(it->second.hwnd);
}

bool Win32FormsRenderer::handleMessage(Form& form, MsgId msg, WParam wParam, LParam lParam,
                                       LResult& result) {
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

forms::Menu* Win32FormsRenderer::trackPopupMenu(Form& form, forms::Menu& menu) {
    FormWindow* state = find(form);
    if (state == nullptr) return nullptr;
    const MenuHandle popup = buildMenu(menu);
    POINT pt{};
    GetCursorPos(&pt);
    SetForegroundWindow(state->hwnd);
    const int cmd =
        static_cast<int>(TrackPopupMenu(popup.get(), TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY,
                                        pt.x, pt.y, 0, state->hwnd, nullptr));
    PostMessageW(state->hwnd, WM_NULL, 0, 0);
    Control* chosen = cmd > 0 ? form.controlById(cmd) : nullptr;
    return chosen != nullptr && chosen->kind() == ControlKind::Menu
               ? static_cast<forms::Menu*>(chosen)
               : nullptr;
}

LRESULT Win32FormsRenderer::childMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                         ChildInfo& info) {
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
            control->mouseDown(msg == WM_LBUTTONDOWN ? forms::mouse::kLeft : forms::mouse::kRight,
                               x * tppX(), y * tppY(), shiftState());
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

MenuHandle Win32FormsRenderer::buildMenu(forms::Menu& menu) {
    MenuHandle popup(CreatePopupMenu());
    HMENU h = popup.get();
    for (forms::Menu* item : menu.items()) {
        if (!item->visible()) continue;
        const std::wstring text = utf8ToWide(item->caption());
        if (item->caption() == "-") {
            AppendMenuW(h, MF_SEPARATOR, 0, nullptr);
            continue;
        }
        UINT flags = MF_STRING;
        if (!item->enabled()) flags |= MF_GRAYED;
        if (item->checked()) flags |= MF_CHECKED;
        if (!item->items().empty()) {
            // Once appended, the submenu is destroyed with its parent.
            MenuHandle sub = buildMenu(*item);
            if (AppendMenuW(h, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub.get()),
                            text.c_str()))
                sub.release();
        } else {
            AppendMenuW(h, flags, static_cast<UINT_PTR>(item->id()), text.c_str());
        }
    }
    return popup;
}

bool Win32FormsRenderer::onCommand(Form& form, WParam wParam, LParam lParam, LResult& result) {
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

bool Win32FormsRenderer::onNotify(Form& form, const NMHDR& header, LResult& result) {
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
        if ((change.uNewState & LVIS_SELECTED) != 0 && (change.uOldState & LVIS_SELECTED) == 0 &&
            list->listIndex() != change.iItem)
            list->selectItem(change.iItem);
        return true;
    }
    return true;
}

LRESULT CALLBACK childProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR /*id*/,
                           DWORD_PTR data) {
    auto* info = reinterpret_cast<ChildInfo*>(data);
    if (info == nullptr || info->renderer == nullptr)
        return DefSubclassProc(hwnd, msg, wParam, lParam);
    return info->renderer->childMessage(hwnd, msg, wParam, lParam, *info);
}

}  // namespace quilo::forms::win32
