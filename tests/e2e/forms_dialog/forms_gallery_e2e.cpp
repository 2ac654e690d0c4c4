// Every control kind of the form model on real windows: a form declared like the program's
// dialogs is shown and photographed; real mouse clicks and the controls' own notifications
// must come back as model events, and model changes must show in the windows.
//
//   e2e_forms_gallery.exe <screenshot folder>
#include <windows.h>
// windows.h first: the common controls header needs its types.
#include <commctrl.h>

#include <array>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "e2e/support/forms_screen.h"
#include "e2e/support/screen_input.h"

namespace {

using namespace quilo::forms;

using quilo::e2e::pumpFor;
using quilo::e2e::windowOf;

// Waits for what real input changes, then lets what it raised after the change run too.
template <class Done>
void pumpUntil(quilo::platform::Platform& platform, DWORD ms, Done done) {
    quilo::e2e::waitFor(platform, ms, done);
    pumpFor(platform, 50);
}

// A 16-bit ramp from black on the left to white on the right.
std::shared_ptr<const DisplayImage> ramp(int w, int h) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(w * h * 2));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const auto v = static_cast<std::uint16_t>(x * 65535 / (w - 1));
            bytes[static_cast<std::size_t>(2 * (y * w + x))] = static_cast<std::uint8_t>(v & 0xFF);
            bytes[static_cast<std::size_t>(2 * (y * w + x) + 1)] =
                static_cast<std::uint8_t>(v >> 8);
        }
    }
    return makeDisplayImage(w, h, 16, std::move(bytes));
}

struct Gallery : Form {
    explicit Gallery(Forms& f) : Form(f, "frmGallery") {
        setCaption("Gallery of controls");
        setBorderStyle(BorderStyle::FixedDialog);
        setClientSize(10200, 6300);
        for (Control* c : std::initializer_list<Control*>{&optA, &optB, &chkInvert})
            c->setContainer(&frame);
        text1.setText("C:\\Scanner\\Driver.ini");
        text1.setToolTipText("Driver INI-file");
        for (const char* t : {"16-bit", "12-bit", "8-bit"})
            cboDepth.addItem(t);
        cboDepth.setListIndex(0);
        lstParams.setStyle(ListBox::Style::CheckBox);
        for (const char* t : {"Intraoral (#1)", "Panoramic (#2)", "Cephalometric (#3)"})
            lstParams.setItemData(lstParams.addItem(t), 1);
        lstParams.setSelected(0, true);
        tabs.addTab("Intraoral");
        tabs.addTab("Panoramic");
        lblIntra.setContainer(&tabs, 0);
        lblPano.setContainer(&tabs, 1);
        view.setBackColor(0);
        view.setImage(ramp(256, 64));
        // A green status light: blue, green, red and a spare byte per pixel.
        std::vector<std::uint8_t> light(16 * 16 * 4, 0);
        for (int i = 0; i < 16 * 16; ++i)
            light[static_cast<std::size_t>(4 * i + 1)] = 200;
        auto picture = makeDisplayImage(16, 16, 32, std::move(light));
        status.setPicture(picture);
        setIcon(picture);
        lblStatus.setForeColor(color::kRed);
        cancel.setCancel(true);
    }
    // A new control at its place (twips, in its container), with its caption if it has one.
    template <class C>
    C& place(const char* name, const char* caption, int x, int y, int w, int h) {
        C& c = add<C>(name);
        if (*caption) c.setCaption(caption);
        c.move(x, y, w, h);
        return c;
    }
    Frame& frame = place<Frame>("Frame1", "Image processing", 120, 120, 3600, 1455);
    OptionButton& optA = place<OptionButton>("optA", "Standard enhancement", 180, 300, 3300, 300);
    OptionButton& optB = place<OptionButton>("optB", "Alternate enhancement", 180, 660, 3300, 300);
    CheckBox& chkInvert = place<CheckBox>("chkInvert", "Invert images", 180, 1020, 3300, 300);
    TextBox& text1 = place<TextBox>("Text1", "", 120, 1700, 3600, 315);
    ComboBox& cboDepth = place<ComboBox>("cboDepth", "", 120, 2130, 1800, 315);
    ListBox& lstParams = place<ListBox>("lstParams", "", 120, 2560, 3600, 1200);
    TabControl& tabs = place<TabControl>("SSTab1", "", 120, 3880, 3600, 1300);
    Label& lblIntra = place<Label>("lblIntra", "Lower limit: 2.5 %", 180, 500, 3000, 255);
    Label& lblPano = place<Label>("lblPano", "Lower limit: 1.0 %", 180, 500, 3000, 255);
    ImageView& view = place<ImageView>("LEAD2", "", 3900, 120, 3000, 2250);
    ThumbnailList& strip = place<ThumbnailList>("ImgList", "", 3900, 2500, 6180, 2900);
    Picture& status = place<Picture>("imgStatus", "", 7100, 120, 480, 480);
    Label& lblStatus = place<Label>("lblStatus", "Status", 7700, 200, 2400, 255);
    CommandButton& ok = place<CommandButton>("OKButton", "OK", 7500, 5500, 1215, 375);
    CommandButton& cancel = place<CommandButton>("CancelButton", "Cancel", 8850, 5500, 1215, 375);
};

// Whether a thumbnail shows selected: a frame in the highlight colour around its picture.
bool framed(HWND strip, int item) {
    RECT rc{};
    ListView_GetItemRect(strip, item, &rc, LVIR_ICON);
    HDC dc = GetDC(strip);
    const COLORREF edge = GetPixel(dc, (rc.left + rc.right) / 2, rc.top);  // the top edge
    ReleaseDC(strip, dc);
    return edge == GetSysColor(COLOR_HIGHLIGHT);
}

void clickAt(quilo::platform::Platform& platform, HWND window, int x, int y) {
    quilo::e2e::leftClick(
        window, x, y, [&](const std::function<bool()>& done) { pumpUntil(platform, 1000, done); });
}

}  // namespace

int main(int argc, char** argv) {
    quilo::e2e::Checks check;
    if (argc < 2) {
        std::fprintf(stderr, "usage: e2e_forms_gallery <screenshot folder>\n");
        return 2;
    }
    const std::string shots = argv[1];
    quilo::e2e::FormsOnScreen screen;
    auto& platform = screen.platform;
    Gallery g(screen.forms);
    std::vector<std::string> events;
    g.chkInvert.onClick = [&] {
        events.push_back("chkInvert " + std::to_string(g.chkInvert.value()));
    };
    g.optB.onClick = [&] { events.push_back("optB"); };
    g.cboDepth.onClick = [&] {
        events.push_back("cboDepth " + std::to_string(g.cboDepth.listIndex()));
    };
    g.lstParams.onItemCheck = [&](int i) { events.push_back("check " + std::to_string(i)); };
    g.tabs.onClick = [&] { events.push_back("tab " + std::to_string(g.tabs.currentTab())); };
    g.strip.onItemSelected = [&](int i) { events.push_back("selected " + std::to_string(i)); };
    g.strip.onItemDeselected = [&](int i) { events.push_back("deselected " + std::to_string(i)); };
    g.text1.onChange = [&] { events.push_back("text " + g.text1.text()); };
    g.ok.onClick = [&] { events.push_back("ok"); };
    g.cancel.onClick = [&] { g.unload(); };
    g.move(300, 300, g.width(), g.height());
    g.show();
    for (int i = 0; i < 3; ++i) {
        const int n = g.strip.addItem(ramp(64, 48), "Image " + std::to_string(i + 1) + " (64x48)");
        g.strip.setItemTag(n, "500,250,3");
    }
    g.strip.setSelected(2, true);
    g.strip.ensureVisible(0);
    pumpFor(*platform, 1500);

    const HWND form = reinterpret_cast<HWND>(g.hwnd());
    SetForegroundWindow(form);
    pumpFor(*platform, 200);

    // Model to window.
    check(SendMessageW(windowOf(g, g.lstParams), LVM_GETITEMCOUNT, 0, 0) == 3,
          "the check list shows its three lines");
    check(ListView_GetCheckState(windowOf(g, g.lstParams), 0) != 0, "line 0 is checked");
    check(IsWindowVisible(windowOf(g, g.lblIntra)) && !IsWindowVisible(windowOf(g, g.lblPano)),
          "only the current tab's label shows");
    pumpUntil(*platform, 2000, [&] { return framed(windowOf(g, g.strip), 2); });
    check(framed(windowOf(g, g.strip), 2), "the thumbnail selected by code shows selected");
    g.ok.setEnabled(false);
    check(!IsWindowEnabled(windowOf(g, g.ok)), "a disabled button is disabled on the screen");
    g.ok.setEnabled(true);
    check(SendMessageW(form, WM_GETICON, ICON_SMALL, 0) != 0, "the form shows its icon");
    g.lblStatus.setCaption("Scanner active");
    wchar_t buf[64]{};
    GetWindowTextW(windowOf(g, g.lblStatus), buf, 64);
    check(std::wstring(buf) == L"Scanner active", "a caption set in the model shows");

    // Window to model: the controls' own notifications and real mouse clicks.
    SendMessageW(windowOf(g, g.chkInvert), BM_CLICK, 0, 0);
    check(g.chkInvert.value() == 1 &&
              SendMessageW(windowOf(g, g.chkInvert), BM_GETCHECK, 0, 0) == BST_CHECKED,
          "clicking the check box checks it in the model and on the screen");
    SendMessageW(windowOf(g, g.optB), BM_CLICK, 0, 0);
    check(g.optB.value() && !g.optA.value(), "the option buttons exclude each other");
    ListView_SetCheckState(windowOf(g, g.lstParams), 2, TRUE);
    check(g.lstParams.selected(2), "checking a line reaches the model");
    SetWindowTextW(windowOf(g, g.text1), L"D:\\Other.ini");
    check(g.text1.text() == "D:\\Other.ini", "typing reaches the text box's model");

    RECT tab{};
    TabCtrl_GetItemRect(windowOf(g, g.tabs), 1, &tab);
    clickAt(*platform, windowOf(g, g.tabs), (tab.left + tab.right) / 2, (tab.top + tab.bottom) / 2);
    // The tab changes on the button going down; the next click waits for the release as well,
    // since a control that holds the mouse until then would take that click too.
    pumpUntil(*platform, 3000, [&] { return g.tabs.currentTab() == 1 && !GetCapture(); });
    check(g.tabs.currentTab() == 1, "a mouse click on the second tab selects it");
    check(!IsWindowVisible(windowOf(g, g.lblIntra)) && IsWindowVisible(windowOf(g, g.lblPano)),
          "the labels follow their tabs");

    RECT item{};
    ListView_GetItemRect(windowOf(g, g.strip), 0, &item, LVIR_ICON);
    clickAt(*platform, windowOf(g, g.strip), (item.left + item.right) / 2,
            (item.top + item.bottom) / 2);
    pumpUntil(*platform, 3000, [&] { return g.strip.selected(0) && !GetCapture(); });
    check(g.strip.selected(0) && g.strip.selected(2),
          "a click adds a thumbnail to the selection instead of replacing it");
    pumpUntil(*platform, 2000, [&] { return framed(windowOf(g, g.strip), 0); });
    check(framed(windowOf(g, g.strip), 0), "the list view shows the model's selection");

    const auto shot = quilo::e2e::shoot(check, g, shots, "e2e_forms_gallery.png");

    // The image view's ramp: dark on the left, light on the right of the picture.
    RECT v{};
    GetWindowRect(windowOf(g, g.view), &v);
    RECT frameRect{};
    GetWindowRect(form, &frameRect);
    // The screenshot's blue, green and red at a point of the screen (black outside it).
    auto pixel = [&](int sx, int sy) {
        const std::size_t k =
            (static_cast<std::size_t>(sy - frameRect.top) * shot.width + (sx - frameRect.left)) * 3;
        return k + 2 < shot.bgr.size() ? std::array{shot.bgr[k], shot.bgr[k + 1], shot.bgr[k + 2]}
                                       : std::array<std::uint8_t, 3>{};
    };
    const int midY = (v.top + v.bottom) / 2;
    const int leftGrey = pixel(v.left + 3, midY)[1];
    const int rightGrey = pixel(v.right - 4, midY)[1];
    check(leftGrey < 40 && rightGrey > 215, "the image view paints the ramp (" +
                                                std::to_string(leftGrey) + " .. " +
                                                std::to_string(rightGrey) + ")");

    RECT st{};
    GetWindowRect(windowOf(g, g.status), &st);
    const auto light = pixel((st.left + st.right) / 2, (st.top + st.bottom) / 2);
    check(light[1] > 150 && light[2] < 60 && light[0] < 60,
          "the status picture is painted in its colour");

    std::string seen;
    for (const auto& e : events)
        seen += e + "; ";
    std::printf("events: %s\n", seen.c_str());
    bool raised = true;
    for (const char* e : {"chkInvert 1", "optB", "check 2", "tab 1", "selected 0"})
        raised = raised && seen.find(e) != std::string::npos;
    check(raised, "every user action raised its model event");

    // Escape reaches the cancel button through the focused control.
    SetFocus(windowOf(g, g.ok));
    quilo::e2e::pressKey(VK_ESCAPE);
    pumpUntil(*platform, 3000, [&] { return !g.loaded(); });
    check(!g.loaded(), "Escape pressed the cancel button, which unloaded the form");

    return check.finish("e2e_forms_gallery");
}
