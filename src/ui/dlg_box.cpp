#include "ui/dlg_box.h"

#include <new>

#include "core/error.h"
#include "ui/monitors.h"

namespace quilo::ui {

namespace {
constexpr const char* kExclamation = "SystemExclamation";
constexpr std::uint32_t kFirstReminderMs = 10000;
constexpr std::uint32_t kReminderMs = 30000;

std::string trimmed(std::string_view s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return std::string(s.substr(first, last - first + 1));
}
}  // namespace

std::string replaceModel(std::string_view text, std::string_view model) {
    std::string out;
    std::size_t pos = 0;
    while (true) {
        const auto hit = text.find("XXX", pos);
        if (hit == std::string_view::npos) break;
        out.append(text.substr(pos, hit - pos));
        out.append(model);
        pos = hit + 3;
    }
    out.append(text.substr(pos));
    return out;
}

frmDlgBox::frmDlgBox(DlgBoxContext& context)
    : forms::Form(context.forms, "frmDlgBox"),
      msgLabel(add<forms::Label>("msgLabel")),
      OKButton(add<forms::CommandButton>("OKButton")),
      tmrAnnoyance(add<forms::Timer>("tmrAnnoyance")),
      context_(context) {
    setCaption("Dialog Caption");
    setBorderStyle(forms::BorderStyle::FixedDialog);
    setClientSize(kDesignClientWidth, kDesignClientHeight);
    msgLabel.move(120, 120, kDesignClientWidth - 240, 735);
    OKButton.setCaption("OK");
    OKButton.setTag("6000");
    OKButton.move((kDesignClientWidth - kButtonWidth) / 2, kDesignButtonTop, kButtonWidth,
                  kButtonHeight);
    tmrAnnoyance.setEnabled(false);

    onLoad = [this] { Form_Load(); };
    onActivate = [this] { focusButton(); };
    onGotFocus = [this] { focusButton(); };
    onUnload = [this](bool&) { tmrAnnoyance.setEnabled(false); };
    OKButton.onClick = [this] { closeDialog(); };
    auto escape = [this](int keyCode, int) {
        if (keyCode == forms::key::kEscape) closeDialog();
    };
    onKeyDown = escape;
    OKButton.onKeyDown = escape;
    tmrAnnoyance.onTimer = [this] { tmrAnnoyance_Timer(); };
}

frmDlgBox::~frmDlgBox() {
    if (loaded()) unload();
}

void frmDlgBox::Form_Load() {
    LayoutMessage();
    if (context_.texts != nullptr) context_.texts->translateForm(*this);
    setCaption(title_);
    if (context_.mainForm != nullptr) setIcon(context_.mainForm->icon());
    platform().sound().playSound(kExclamation, platform::snd::kAsync);
    setTopmost(true);
    if (annoying_) {
        tmrAnnoyance.setInterval(kFirstReminderMs);
        tmrAnnoyance.setEnabled(true);
    } else {
        tmrAnnoyance.setEnabled(false);
    }
}

// The message label takes the size of its text; the window grows to hold it and the button
// stays centred below it.
void frmDlgBox::LayoutMessage() {
    setClientSize(kDesignClientWidth, kDesignClientHeight);
    msgLabel.move(120, 120, scaleWidth() - 240, msgLabel.height());
    msgLabel.setCaption(message_);
    msgLabel.setAutoSize(true);
    if (msgLabel.left() + msgLabel.width() > scaleWidth() - 120)
        setClientSize(msgLabel.width() + 240, scaleHeight());
    if (msgLabel.top() + msgLabel.height() > kDesignButtonTop - 120)
        setClientSize(scaleWidth(), msgLabel.height() + OKButton.height() + 360);
    OKButton.move((scaleWidth() - OKButton.width()) / 2, scaleHeight() - OKButton.height() - 120,
                  OKButton.width(), OKButton.height());
}

void frmDlgBox::tmrAnnoyance_Timer() {
    platform().sound().playSound(kExclamation, platform::snd::kAsync);
    if (tmrAnnoyance.interval() != kReminderMs) tmrAnnoyance.setInterval(kReminderMs);
    setTopmost(true);
}

void frmDlgBox::closeDialog() {
    tmrAnnoyance.setEnabled(false);
    unload();
}

void frmDlgBox::focusButton() {
    // Moving the focus may fail while the button cannot take it; that is of no consequence.
    OKButton.setFocus();
}

void ShowDlg(DlgBoxContext& context, std::string_view Msg, std::string& Caption, std::int32_t Style,
             bool Annoying) {
    forms::Forms& forms = context.forms;
    try {
        std::string model = trimmed(context.scannerModel ? context.scannerModel() : "");
        if (model.empty()) model = "Quilo";
        if (Caption.empty()) {
            const std::string text100 =
                context.texts != nullptr ? context.texts->langText(100) : std::string();
            Caption = replaceModel(text100, model) + " error!";
        }
        const int savedPointer = forms.screenMousePointer();
        forms.setScreenMousePointer(forms::pointer::kArrow);
        const std::int32_t modal = Style == 1 ? 1 : 0;

        auto dialog = std::make_unique<frmDlgBox>(context);
        dialog->setTitle(Caption);
        dialog->setMessage(Msg);
        dialog->setStyle(modal);
        dialog->setAnnoying(Annoying);
        dialog->load();
        CenterOnHostMonitor(*dialog, context.hostWindow ? context.hostWindow() : 0);
        if (modal == 1) {
            dialog->show(forms::ShowMode::Modal);
        } else {
            dialog->show(forms::ShowMode::Modeless);
        }
        forms.doEvents();
        if (Style == 1)
            dialog.reset();
        else
            forms.adopt(std::move(dialog));
        forms.setScreenMousePointer(savedPointer);
    } catch (...) {
        const RuntimeError e = currentError("frmDialogBox");
        forms.platform().process().messageBox(
            0,
            "Error: " + std::to_string(e.number()) + "\r\n" + e.description() + "\r\n" +
                "In: frmDialogBox.ShowDlg()",
            forms.platform().process().version().title, platform::mb::kIconExclamation);
    }
}

void ShowDlg(DlgBoxContext& context, std::string_view Msg, std::int32_t Style, bool Annoying) {
    std::string caption;
    ShowDlg(context, Msg, caption, Style, Annoying);
}

}  // namespace quilo::ui
