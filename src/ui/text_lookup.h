// What the dialogs need of the language table: numbered texts and the translation of a form
// from the numbers in its controls' tags. The language module implements it; the dialogs only
// see this interface.
#pragma once

#include <cstdint>
#include <string>

namespace quilo::forms {
class Form;
}

namespace quilo::ui {

class TextLookup {
  public:
    virtual ~TextLookup() = default;
    // The text of that number; empty when the table has none.
    virtual std::string langText(std::int32_t number) = 0;
    // Replaces the captions of a form and its controls from their tags' numbers.
    virtual void translateForm(forms::Form& form) = 0;
};

}  // namespace quilo::ui
