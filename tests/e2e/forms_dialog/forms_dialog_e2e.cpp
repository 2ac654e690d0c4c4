// The message dialog on real windows: a modeless dialog with a long message and a modal one
// are shown through ShowDlg, measured on the screen and photographed, and the modal one is
// closed by an Escape key that goes through the system's input queue.
//
//   e2e_forms_dialog.exe <marker file> <screenshot folder>
// The marker file tells the harness when to photograph the whole screen; it answers with
// <marker>.done. Exit code 0 when every check passed.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>

#include "e2e/support/forms_screen.h"
#include "e2e/support/screen_input.h"
#include "ui/dlg_box.h"
#include "ui/input_box.h"

namespace {

using quilo::forms::Form;
using quilo::ui::frmDlgBox;

using quilo::e2e::Checks;
using quilo::e2e::pumpFor;
using quilo::e2e::shoot;
using quilo::e2e::windowOf;

struct EnglishTexts final : quilo::ui::TextLookup {
    std::map<std::int32_t, std::string> table{{100, "XXX Plugin"}, {6000, "OK"}};
    std::string langText(std::int32_t number) override {
        auto it = table.find(number);
        return it == table.end() ? std::string() : it->second;
    }
    void translateForm(Form& form) override {
        for (quilo::forms::Control* c : form.controls()) {
            if (!c->tag().empty()) c->setCaption(langText(std::stoi(c->tag())));
        }
    }
};

bool fileExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

RECT childRect(const Form& form, const quilo::forms::Control& control) {
    RECT rc{};
    GetWindowRect(windowOf(form, control), &rc);
    MapWindowPoints(nullptr, reinterpret_cast<HWND>(form.hwnd()), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

// What a user would notice: the message clipped, the button off centre or over the text.
void checkLayout(Checks& check, frmDlgBox& dlg, const std::string& name,
                 const std::string& message) {
    HWND form = reinterpret_cast<HWND>(dlg.hwnd());
    RECT client{};
    GetClientRect(form, &client);
    const RECT label = childRect(dlg, dlg.msgLabel);
    const RECT button = childRect(dlg, dlg.OKButton);
    HWND labelWindow = windowOf(dlg, dlg.msgLabel);

    HDC dc = GetDC(labelWindow);
    HGDIOBJ old =
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(labelWindow, WM_GETFONT, 0, 0)));
    RECT text{0, 0, 0, 0};
    const std::wstring wide(message.begin(), message.end());
    DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &text,
              DT_CALCRECT | DT_NOPREFIX | DT_EXPANDTABS);
    SelectObject(dc, old);
    ReleaseDC(labelWindow, dc);

    check(label.right - label.left >= text.right && label.bottom - label.top >= text.bottom,
          name + ": the message fits its label (" + std::to_string(text.right) + "x" +
              std::to_string(text.bottom) + " in " + std::to_string(label.right - label.left) +
              "x" + std::to_string(label.bottom - label.top) + ")");
    check(label.left >= 0 && label.right <= client.right,
          name + ": the label lies inside the window");
    check(label.bottom <= button.top, name + ": the button is below the text, not over it");
    const int leftGap = button.left;
    const int rightGap = client.right - button.right;
    check(leftGap - rightGap <= 1 && rightGap - leftGap <= 1, name + ": the button is centred (" +
                                                                  std::to_string(leftGap) + " | " +
                                                                  std::to_string(rightGap) + ")");
    check(button.bottom < client.bottom, name + ": the button lies inside the window");
    check((GetWindowLongPtrW(form, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, name + ": topmost");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: e2e_forms_dialog <marker> <screenshot folder>\n");
        return 2;
    }
    const std::string marker = argv[1];
    const std::string shots = argv[2];
    Checks check;

    quilo::e2e::FormsOnScreen screen;
    auto& platform = screen.platform;
    auto& forms = screen.forms;
    EnglishTexts texts;
    quilo::ui::DlgBoxContext context{forms, &texts, [] { return std::string("Q-7"); },
                                     [] { return quilo::platform::Hwnd{0}; }, nullptr};

    // Under Wine the virtual desktop needs a moment after the process's first window appears:
    // until then it forgets a topmost mark. A real plug-in has its main window long before.
    Form mainForm(forms, "frmMain");
    mainForm.show();
    pumpFor(*platform, 1500);
    mainForm.hide();

    // The modeless dialog: a line longer than the designed window.
    const std::string longMessage =
        "The image plate could not be read.\r\n"
        "Take the plate out of the scanner, erase it and feed it again; if this happens again, "
        "call the service.\r\n"
        "Error 17";
    std::string caption;
    quilo::ui::ShowDlg(context, longMessage, caption, 0, true);
    auto* modeless = static_cast<frmDlgBox*>(forms.find("frmDlgBox"));
    check(modeless != nullptr && modeless->visible(), "the modeless dialog stays open");
    if (modeless == nullptr) return 1;
    check(caption == "Q-7 Plugin error!", "caption built from text 100: " + caption);
    pumpFor(*platform, 400);
    check(modeless->scaleWidth() > frmDlgBox::kDesignClientWidth,
          "the long line widened the window");
    checkLayout(check, *modeless, "modeless", longMessage);
    shoot(check, *modeless, shots, "e2e_forms_dialog_modeless.png");

    // The modal dialog: a helper timer runs inside its modal loop and does what the user does.
    Form helper(forms, "frmHelper");
    auto& steps = helper.add<quilo::forms::Timer>("tmrSteps");
    steps.setInterval(100);
    const std::string modalMessage = "Scanner activated.\r\nInsert the image plate.";
    int ticks = 0;
    bool escapeSent = false;
    bool forced = false;
    bool shotTaken = false;
    steps.onTimer = [&] {
        ++ticks;
        auto* modal = static_cast<frmDlgBox*>(forms.modalForm());
        if (modal == nullptr) return;
        if (!shotTaken && ticks >= 5) {
            shotTaken = true;
            checkLayout(check, *modal, "modal", modalMessage);
            check(IsWindowEnabled(reinterpret_cast<HWND>(modeless->hwnd())) == FALSE,
                  "the modeless dialog takes no input while the modal one is up");
            shoot(check, *modal, shots, "e2e_forms_dialog_modal.png");
            CloseHandle(CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
            return;
        }
        if (shotTaken && !escapeSent && fileExists(marker + ".done")) {
            escapeSent = true;
            SetForegroundWindow(reinterpret_cast<HWND>(modal->hwnd()));
            check(quilo::e2e::pressKey(VK_ESCAPE), "Escape synthesized");
            return;
        }
        if (ticks > 150) {  // 15 s: the key never arrived
            forced = true;
            modal->unload();
        }
    };
    helper.load();

    std::string modalCaption = "Quilo Plugin";
    quilo::ui::ShowDlg(context, modalMessage, modalCaption, 1, false);
    check(escapeSent && !forced, "the modal dialog was closed by the Escape key");
    check(forms.modalForm() == nullptr, "ShowDlg returned after the modal dialog closed");
    check(modeless->loaded(), "the modeless dialog is still open");
    pumpFor(*platform, 200);
    check(IsWindowEnabled(reinterpret_cast<HWND>(modeless->hwnd())) != FALSE,
          "the modeless dialog takes input again");

    // The modeless one is closed with its own OK button.
    SendMessageW(windowOf(*modeless, modeless->OKButton), BM_CLICK, 0, 0);
    pumpFor(*platform, 100);
    check(!forms.isLoaded("frmDlgBox"), "OK closed the modeless dialog");

    // The input box of the manual capture start, with the parameter sets as its prompt.
    quilo::ui::InputBox box(forms,
                            "1 Intraoral size 2\r\n2 Intraoral size 2 PERIO\r\n3 Panoramic "
                            "15x30\r\n4 Cephalometric 24x30\r\n\r\nChoose a parameter no:",
                            "Quilo Plugin");
    box.load();
    box.show();
    pumpFor(*platform, 300);
    SetWindowTextW(windowOf(box, box.txtAnswer), L"3");
    check(box.txtAnswer.text() == "3", "typing reaches the input box");
    RECT prompt{}, edit{};
    GetWindowRect(windowOf(box, box.lblPrompt), &prompt);
    GetWindowRect(windowOf(box, box.txtAnswer), &edit);
    check(prompt.bottom <= edit.top, "the whole prompt stands above the answer");
    shoot(check, box, shots, "e2e_input_box.png");
    SendMessageW(windowOf(box, box.cmdOK), BM_CLICK, 0, 0);
    pumpFor(*platform, 100);
    check(box.answer() == "3" && !box.visible(), "OK gives the answer and closes the box");
    box.unload();
    helper.unload();
    mainForm.unload();

    return check.finish("e2e_forms_dialog");
}
