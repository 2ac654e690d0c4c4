// modLAnguageSelector: the language table. Initlanguage loads a language file into it, LangText
// looks texts up by number, and TranslateForm gives a form's controls the texts of their tags.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "forms/form.h"
#include "platform/platform.h"
#include "ui/language/language_file.h"
#include "ui/language/translate_form.h"
#include "ui/text_lookup.h"

namespace quilo::ui {

// Language files larger than this are refused (no real one comes near it).
inline constexpr std::size_t kMaxLanguageFileBytes = 8 * 1024 * 1024;

class modLAnguageSelector final : public TextLookup {
  public:
    modLAnguageSelector(platform::Files& files, platform::Process& process)
        : files_(files), process_(process) {}

    // Translator mode shows every text with its number; set it before Initlanguage.
    void setTranslatorMode(bool on) { translatorMode_ = on; }
    bool translatorMode() const { return translatorMode_; }

    // The file of a language: program folder, "\", product name, "_", language, ".lan".
    std::string languageFilePath(std::string_view language);

    // Builds the table from the file of that language. A missing file falls back to English;
    // a missing English file, an unreadable file or a line whose number part is not a number
    // is reported in a message box, and the table keeps what was read before the fault.
    void Initlanguage(std::string_view language);

    // The text of the first entry with that number. Without one: empty, or in translator mode
    // the number itself unless it ends in "00".
    std::string LangText(std::int32_t number) const;

    // Translates a form (its caption, then its controls) or a collection of controls.
    void TranslateForm(forms::Form& form);
    void TranslateForm(const std::vector<forms::Control*>& controls);

    // TextLookup, for the dialogs.
    std::string langText(std::int32_t number) override { return LangText(number); }
    void translateForm(forms::Form& form) override { TranslateForm(form); }

    // The language whose file was loaded last (English after a fallback).
    const std::string& language() const { return language_; }
    std::size_t count() const { return entries_.size(); }

  private:
    // Loads one file; returns false when the file could not be opened.
    bool load(const std::string& path);
    void report(const std::string& message);

    platform::Files& files_;
    platform::Process& process_;
    bool translatorMode_ = false;
    std::string language_;
    std::vector<LanguageEntry> entries_;
};

}  // namespace quilo::ui
