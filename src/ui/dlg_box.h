// frmDlgBox: the program's own message box. A small topmost window with a caption, a message
// and one OK button; it plays the exclamation sound when it opens and, when it is to insist
// (Annoying), again 10 seconds later and then every 30 seconds, coming to the top each time,
// until the user closes it with OK, Escape or the close box.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "forms/forms.h"
#include "ui/text_lookup.h"

namespace quilo::ui {

// What the dialog takes from the rest of the program.
struct DlgBoxContext {
    forms::Forms& forms;
    TextLookup* texts = nullptr;                 // null: no language table loaded
    std::function<std::string()> scannerModel;   // the scanner model text, may be empty
    std::function<platform::Hwnd()> hostWindow;  // the host's window (0: none)
    const forms::Form* mainForm = nullptr;       // whose icon the dialog takes
};

class frmDlgBox : public forms::Form {
  public:
    // The designed client area and button, in twips (the starting point of the layout).
    static constexpr int kDesignClientWidth = 4695;
    static constexpr int kDesignClientHeight = 1500;
    static constexpr int kButtonWidth = 1215;
    static constexpr int kButtonHeight = 375;
    static constexpr int kDesignButtonTop = kDesignClientHeight - kButtonHeight - 120;

    explicit frmDlgBox(DlgBoxContext& context);
    ~frmDlgBox() override;

    // Write-only properties, set before the dialog loads.
    void setTitle(std::string_view title) { title_ = title; }
    void setMessage(std::string_view message) { message_ = message; }
    void setStyle(std::int32_t style) { style_ = style; }
    void setAnnoying(bool annoying) { annoying_ = annoying; }

    forms::Label& msgLabel;
    forms::CommandButton& OKButton;
    forms::Timer& tmrAnnoyance;

  private:
    void Form_Load();
    void LayoutMessage();
    void tmrAnnoyance_Timer();
    void closeDialog();
    void focusButton();

    DlgBoxContext& context_;
    std::string title_;
    std::string message_;
    std::int32_t style_ = 0;
    bool annoying_ = false;
};

// Shows `Msg` in a new dialog. An empty `Caption` becomes language text 100 with "XXX"
// replaced by the scanner model (or "Quilo"), followed by " error!"; the caller's variable
// receives it. Style 1 shows the dialog modally (the call returns once it is closed); any
// other style leaves it open on its own. Errors are reported in a standard message box.
void ShowDlg(DlgBoxContext& context, std::string_view Msg, std::string& Caption,
             std::int32_t Style = 0, bool Annoying = false);
void ShowDlg(DlgBoxContext& context, std::string_view Msg, std::int32_t Style = 0,
             bool Annoying = false);

// Every "XXX" of `text` replaced by `model`.
std::string replaceModel(std::string_view text, std::string_view model);

}  // namespace quilo::ui
