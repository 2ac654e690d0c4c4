// TranslateForm: gives a form's caption and its controls' captions, tool tips, tab and column
// texts the language texts of the numbers in their tags. Dispatch is by the control's type
// name; controls with parts of their own (toolbar buttons, list columns, grid headers) expose
// them through the small interfaces below.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "forms/form.h"

namespace quilo::ui {

// A toolbar ("Toolbar"): buttons with their own tags and indexes.
class ToolbarTexts {
  public:
    virtual int buttonCount() const = 0;
    virtual std::string buttonTag(int i) const = 0;  // i from 0
    virtual int buttonIndex(int i) const = 0;        // the button's own index (from 1)
    virtual void setButtonCaption(int i, std::string_view text) = 0;
    virtual void setButtonToolTip(int i, std::string_view text) = 0;

  protected:
    ~ToolbarTexts() = default;
};

// A list with column headers ("ListView"): each header has its own tag.
class ColumnHeaderTexts {
  public:
    virtual int columnCount() const = 0;
    virtual std::string columnTag(int i) const = 0;  // i from 0
    virtual void setColumnText(int i, std::string_view text) = 0;

  protected:
    ~ColumnHeaderTexts() = default;
};

// A spreadsheet grid ("vaSpread"): header cells of row 0, columns 1 to maxCols.
class GridHeaderTexts {
  public:
    virtual int maxCols() const = 0;
    virtual void setHeaderText(int column, std::string_view text) = 0;

  protected:
    ~GridHeaderTexts() = default;
};

using LangTextFn = std::function<std::string(std::int32_t)>;

// Translates a form: its caption from its own tag (when that text is neither empty nor "0"),
// then its controls. Pending window events are worked off once before the controls.
void TranslateForm(forms::Form& form, const LangTextFn& langText);
// Translates a collection of controls.
void TranslateControls(const std::vector<forms::Control*>& controls, const LangTextFn& langText);

}  // namespace quilo::ui
