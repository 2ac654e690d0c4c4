#include "ui/language/translate_form.h"

#include <optional>

#include "core/error.h"
#include "core/value_text.h"
#include "forms/forms.h"
#include "ui/language/language_file.h"

namespace quilo::ui {

namespace {

// A failure in the walk; it ends the walk without a message.
struct WalkStopped {};

// A tag (or a tag with digits appended) as a number, converted like an entry's number part.
// Text that is not a number cannot be looked up.
std::int32_t tagNumber(std::string_view text) {
    bool overflow = false;
    const auto n = parseEntryNumber(text, overflow);
    if (!n) throw WalkStopped{};
    return *n;
}

std::string textOf(const LangTextFn& langText, std::string_view tag) {
    return langText(tagNumber(tag));
}

std::string withSuffix(std::string_view tag, int suffix) {
    return std::string(tag) + std::to_string(suffix);
}

// The control's array index; a control outside an array has none.
int arrayIndex(const forms::Control& control) {
    if (!control.index()) throw WalkStopped{};
    return *control.index();
}

template <class T>
T& partsOf(forms::Control& control) {
    auto* parts = dynamic_cast<T*>(&control);
    if (parts == nullptr) throw WalkStopped{};
    return *parts;
}

void translateControl(forms::Control& c, const LangTextFn& langText) {
    const std::string& tag = c.tag();
    if (tag.empty()) return;
    // Tags that are not numbers hold other data (the status icon keeps its picture's name).
    if (!isNumeric(tag)) return;
    const double value = leadingNumber(tag);
    if (value == 0) return;

    const std::string& type = c.typeName();
    if (type == "Label") {
        c.setCaption(textOf(langText, tag));
    } else if (type == "Menu") {
        c.setCaption(langText(arrayIndex(c)));
    } else if (type == "TabStrip") {
        auto& tabs = partsOf<forms::TabControl>(c);
        for (int i = 0; i < tabs.tabCount(); ++i) {
            const std::string tabTag = tabs.tab(i).tag;
            tabs.setTabCaption(i, textOf(langText, tabTag));
            tabs.setTabToolTip(i, textOf(langText, withSuffix(tabTag, i + 1)));
        }
    } else if (type == "Toolbar") {
        auto& bar = partsOf<ToolbarTexts>(c);
        for (int i = 0; i < bar.buttonCount(); ++i) {
            const std::string buttonTag = bar.buttonTag(i);
            bar.setButtonToolTip(i, textOf(langText, withSuffix(buttonTag, bar.buttonIndex(i))));
            bar.setButtonCaption(i, textOf(langText, buttonTag));
        }
    } else if (type == "ListView") {
        auto& list = partsOf<ColumnHeaderTexts>(c);
        for (int i = 0; i < list.columnCount(); ++i)
            list.setColumnText(i, textOf(langText, list.columnTag(i)));
    } else if (type == "CheckBox" || type == "CommandButton" || type == "OptionButton") {
        c.setToolTipText(textOf(langText, withSuffix(tag, 1)));
        c.setCaption(textOf(langText, tag));
    } else if (type == "TextBox") {
        c.setToolTipText(textOf(langText, withSuffix(tag, 1)));
    } else if (type == "BrowseButton") {
        c.setToolTipText(textOf(langText, tag));
    } else if (type == "vaSpread") {
        auto& grid = partsOf<GridHeaderTexts>(c);
        for (int col = 1; col <= grid.maxCols(); ++col) {
            const std::string text = textOf(langText, withSuffix(tag, col));
            if (!text.empty()) grid.setHeaderText(col, text);
        }
    } else if (type == "SSActiveTabs") {
        auto& tabs = partsOf<forms::TabControl>(c);
        for (int i = 1; i <= tabs.tabCount(); ++i)
            tabs.setTabCaption(i - 1, textOf(langText, withSuffix(tag, i)));
    } else if (type == "Frame") {
        c.setCaption(textOf(langText, tag));
    } else if (type == "ComboBox" || type == "ListBox" || type == "Timer") {
        // nothing to translate
    } else if (type == "UpDown") {
        if (value >= 1) c.setToolTipText(textOf(langText, tag));
    } else {
        if (value > 0) c.setCaption(textOf(langText, tag));
        const std::string tipTag = withSuffix(tag, arrayIndex(c));
        if (leadingNumber(tipTag) >= 1) c.setToolTipText(textOf(langText, tipTag));
    }
}

void walk(const std::vector<forms::Control*>& controls, const LangTextFn& langText) {
    try {
        for (forms::Control* c : controls)
            translateControl(*c, langText);
    } catch (const WalkStopped&) {
        // The first control that cannot be translated ends the walk; the rest keep their texts.
    } catch (const RuntimeError&) {
    }
}

}  // namespace

void TranslateForm(forms::Form& form, const LangTextFn& langText) {
    const std::int32_t n = roundToInt32(leadingNumber(form.tag()));
    const std::string title = langText(n);
    if (!title.empty() && title != "0") form.setCaption(title);
    form.forms().doEvents();
    walk(form.controls(), langText);
}

void TranslateControls(const std::vector<forms::Control*>& controls, const LangTextFn& langText) {
    if (controls.empty()) return;
    controls.front()->form().forms().doEvents();
    walk(controls, langText);
}

}  // namespace quilo::ui
