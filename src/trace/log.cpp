#include "trace/log.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/error.h"
#include "core/text.h"

namespace quilo::trace {

namespace {

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// Error 75 is the file system's "Path/File access error".
constexpr long kFileAccessError = 75;

}  // namespace

bool IsFormLoaded(const FormRegistry& forms, std::string_view name) {
    const auto names = forms.loadedFormNames();
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return equalsIgnoreCase(n, name); });
}

// Any local date-and-time text will do; a sortable one reads best in a growing file.
std::string logTimestamp(const platform::LocalTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return buf;
}

std::string Log::logFilePath() const {
    return platform::joinPath(files_.programFolder(), kLogFileName);
}

bool Log::wanted() const {
    const LogBox* box = logBox_.get();
    return (box && IsFormLoaded(forms_, "frmmain") && box->formVisible()) ||
           (visibleMode_ && visibleMode_());
}

void Log::LogMsg(std::string_view message) {
    LogBox* box = logBox_.get();
    if (box && IsFormLoaded(forms_, "frmmain") && box->formVisible()) {
        box->setText(std::string(trimBlanks(message)) + "\r\n" + box->text());
    }
    if (visibleMode_ && visibleMode_()) {
        const std::string path = logFilePath();
        auto file = files_.open(path, platform::OpenMode::Append);
        if (!file) {
            throw RuntimeError(kFileAccessError, "Path/File access error", "LogMsg");
        }
        const std::string line =
            utf8ToAnsi(logTimestamp(clock_.localTime()) + " " + std::string(message)) + "\r\n";
        const auto* p = reinterpret_cast<const std::byte*>(line.data());
        if (!file->write(std::span<const std::byte>(p, line.size()))) {
            throw RuntimeError(kFileAccessError, "Path/File access error", "LogMsg");
        }
    }
}

}  // namespace quilo::trace
