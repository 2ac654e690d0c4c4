#include "ui/language/language_selector.h"

#include <span>

#include "core/text.h"

namespace quilo::ui {

namespace {

std::string fileNameOf(std::string_view path) {
    const auto slash = path.rfind('\\');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

std::string modLAnguageSelector::languageFilePath(std::string_view language) {
    std::string path = files_.programFolder();
    if (path.empty() || path.back() != '\\') path += '\\';
    return path + process_.version().productName + "_" + std::string(language) + ".lan";
}

void modLAnguageSelector::report(const std::string& message) {
    process_.messageBox(0, message, process_.version().title, platform::mb::kOk);
}

void modLAnguageSelector::Initlanguage(std::string_view language) {
    // What was loaded before never answers a lookup once a new load has begun.
    for (auto& entry : entries_) {
        entry.number = 0;
        entry.text.clear();
    }
    language_ = std::string(language);
    std::string path = languageFilePath(language_);
    const std::string english = upper(process_.version().productName + "_ENGLISH.LAN");
    while (!load(path)) {
        if (upper(fileNameOf(path)) == english) {
            // The message names the whole path, so whoever installs the program sees where
            // the file is expected.
            entries_.clear();
            report("Initlanguage: " + std::to_string(lang_error::kFileNotFound) + " " + path + " " +
                   lang_error::description(lang_error::kFileNotFound));
            return;
        }
        language_ = "English";
        path = languageFilePath(language_);
    }
}

bool modLAnguageSelector::load(const std::string& path) {
    auto file = files_.open(path, platform::OpenMode::Read);
    if (!file) return false;

    const auto fail = [this](long number) {
        entries_.clear();
        report("Initlanguage: " + std::to_string(number) + " " + lang_error::description(number));
    };
    if (file->size() > kMaxLanguageFileBytes) {
        fail(lang_error::kOutOfMemory);
        return true;
    }
    std::string bytes(static_cast<std::size_t>(file->size()), '\0');
    std::size_t done = 0;
    while (done < bytes.size()) {
        auto n = file->read(std::as_writable_bytes(std::span<char>(bytes)).subspan(done));
        if (!n) {
            fail(lang_error::kDeviceIo);
            return true;
        }
        if (*n == 0) break;  // shorter than it said: take what is there
        done += *n;
    }
    bytes.resize(done);
    file.reset();

    ParsedLanguage parsed = parseLanguageFile(bytes, translatorMode_);
    entries_ = std::move(parsed.entries);
    if (parsed.error == lang_error::kTypeMismatch) {
        report("Initlanguage: " + std::to_string(parsed.error) + " " +
               lang_error::description(parsed.error) +
               "\r\nCaused when reading the following line: \r\n" + parsed.failedLine);
    } else if (parsed.error != 0) {
        // Entries before the failing line stay, as with a line that is not a number.
        report("Initlanguage: " + std::to_string(parsed.error) + " " +
               lang_error::description(parsed.error));
    }
    return true;
}

std::string modLAnguageSelector::LangText(std::int32_t number) const {
    if (entries_.empty()) return {};
    for (const auto& entry : entries_) {
        if (entry.number == number) return entry.text;
    }
    if (!translatorMode_) return {};
    std::string digits = std::to_string(number);
    if (digits.size() >= 2 && digits.ends_with("00")) return {};
    return digits;
}

void modLAnguageSelector::TranslateForm(forms::Form& form) {
    ui::TranslateForm(form, [this](std::int32_t n) { return LangText(n); });
}

void modLAnguageSelector::TranslateForm(const std::vector<forms::Control*>& controls) {
    TranslateControls(controls, [this](std::int32_t n) { return LangText(n); });
}

}  // namespace quilo::ui
