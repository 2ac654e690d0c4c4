#include "ui/input_box.h"

#include <algorithm>

namespace quilo::ui {

namespace {
constexpr int kMargin = 120;
constexpr int kButtonWidth = 1215;
constexpr int kButtonHeight = 375;
constexpr int kEditHeight = 315;
constexpr int kMinPromptWidth = 3600;
}  // namespace

InputBox::InputBox(forms::Forms& forms, std::string_view prompt, std::string_view title)
    : forms::Form(forms, "InputBox"),
      lblPrompt(add<forms::Label>("lblPrompt")),
      txtAnswer(add<forms::TextBox>("txtAnswer")),
      cmdOK(add<forms::CommandButton>("cmdOK")),
      cmdCancel(add<forms::CommandButton>("cmdCancel")) {
    setCaption(title);
    setBorderStyle(forms::BorderStyle::FixedDialog);
    // The prompt decides the size: a list of choices stays readable line by line.
    const forms::TwipSize text = forms.measureText(prompt);
    const int promptWidth = std::max(kMinPromptWidth, text.width + 60);
    const int promptHeight = std::max(text.height, 255);
    lblPrompt.setCaption(prompt);
    lblPrompt.move(kMargin, kMargin, promptWidth, promptHeight);
    const int buttonsLeft = kMargin + promptWidth + kMargin;
    cmdOK.setCaption("OK");
    cmdOK.setDefault(true);
    cmdOK.move(buttonsLeft, kMargin, kButtonWidth, kButtonHeight);
    cmdCancel.setCaption("Cancel");
    cmdCancel.setCancel(true);
    cmdCancel.move(buttonsLeft, kMargin + kButtonHeight + 60, kButtonWidth, kButtonHeight);
    const int editTop = kMargin + std::max(promptHeight, 2 * kButtonHeight + 60) + kMargin;
    txtAnswer.move(kMargin, editTop, promptWidth + kMargin + kButtonWidth, kEditHeight);
    setClientSize(buttonsLeft + kButtonWidth + kMargin, editTop + kEditHeight + kMargin);
    cmdOK.onClick = [this] {
        answer_ = txtAnswer.text();
        hide();
    };
    cmdCancel.onClick = [this] {
        answer_.clear();
        hide();
    };
}

std::string inputBox(forms::Forms& forms, std::string_view prompt, std::string_view title,
                     forms::Form* owner) {
    InputBox box(forms, prompt, title);
    box.load();
    box.show(forms::ShowMode::Modal, owner);
    if (box.loaded()) box.unload();
    return box.answer();
}

}  // namespace quilo::ui
