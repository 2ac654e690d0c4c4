// A modal question for one line of text: a prompt, an edit box, OK and Cancel. The answer is
// the text typed when OK (or Enter) ends it, and empty when Cancel (or Escape) does.
#pragma once

#include <string>
#include <string_view>

#include "forms/forms.h"

namespace quilo::ui {

class InputBox final : public forms::Form {
  public:
    InputBox(forms::Forms& forms, std::string_view prompt, std::string_view title);

    forms::Label& lblPrompt;
    forms::TextBox& txtAnswer;
    forms::CommandButton& cmdOK;
    forms::CommandButton& cmdCancel;

    // The answer once the box has closed.
    const std::string& answer() const { return answer_; }

  private:
    std::string answer_;
};

// Shows the box modally (owned by `owner`, may be null) and returns the answer.
std::string inputBox(forms::Forms& forms, std::string_view prompt, std::string_view title,
                     forms::Form* owner);

}  // namespace quilo::ui
