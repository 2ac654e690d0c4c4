// The log: each message goes to the top of the main form's log box while that form is shown,
// and, in the plug-in's visible mode, to a text file beside the program.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/registration.h"
#include "platform/files.h"
#include "platform/process.h"

namespace quilo::trace {

// What the log needs to know about the loaded forms (the forms model implements it).
class FormRegistry {
  public:
    // The names of the loaded forms, from the first loaded to the last.
    virtual std::vector<std::string> loadedFormNames() const = 0;

  protected:
    ~FormRegistry() = default;
};

// True when a loaded form's name equals `name`, ignoring letter case.
bool IsFormLoaded(const FormRegistry& forms, std::string_view name);

// The main form's log box, as the log sees it.
class LogBox {
  public:
    virtual bool formVisible() const = 0;  // the main form's Visible property
    virtual std::string text() const = 0;
    virtual void setText(std::string text) = 0;

  protected:
    ~LogBox() = default;
};

// The log file's name, beside the program.
inline constexpr std::string_view kLogFileName = "QuiloPlugin.log";

class Log {
  public:
    Log(platform::Files& files, platform::Clock& clock, const FormRegistry& forms)
        : files_(files), clock_(clock), forms_(forms) {}

    // The main form's log box, while its registration lasts.
    Registration attachLogBox(LogBox& box) { return logBox_.attach(box); }
    // Whether visible mode is on (the `Visible` option is "1"); asked at every message, so a
    // changed setting counts at once. Off when not set.
    void setVisibleMode(std::function<bool()> visibleMode) {
        visibleMode_ = std::move(visibleMode);
    }

    // Writes one message. A log file that cannot be opened or written raises RuntimeError.
    void LogMsg(std::string_view message);
    // Whether a message would be shown or written at all: a caller skips composing a costly
    // message when not.
    bool wanted() const;

    std::string logFilePath() const;

  private:
    platform::Files& files_;
    platform::Clock& clock_;
    const FormRegistry& forms_;
    ListenerSlot<LogBox> logBox_;
    std::function<bool()> visibleMode_;
};

// The date and time at the start of a log line: "2026-12-06 09:00:00".
std::string logTimestamp(const platform::LocalTime& t);

}  // namespace quilo::trace
