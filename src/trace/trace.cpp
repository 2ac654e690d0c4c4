#include "trace/trace.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "core/text.h"

namespace quilo::trace {

std::string readingEndName() {
    return std::string(kReadingPrefix) + std::string(kMailslotName);
}
std::string writingEndName() {
    return std::string(kWritingPrefix) + std::string(kMailslotName);
}

std::vector<std::byte> buildTraceLine(std::uint32_t tickCount, std::string_view message) {
    std::string line = "[" + std::to_string(static_cast<std::int32_t>(tickCount)) + "]";
    line += utf8ToAnsi(message);
    if (line.size() > kMaxTextChars) line.resize(kMaxTextChars);
    std::vector<std::byte> out(line.size() + 1);  // the last byte stays the NUL
    std::transform(line.begin(), line.end(), out.begin(),
                   [](char c) { return static_cast<std::byte>(c); });
    return out;
}

Trace::Trace(platform::Mailslots& mailslots, platform::Clock& clock, platform::Process& process)
    : mailslots_(mailslots), clock_(clock), process_(process) {}

Trace::~Trace() {
    if (open_) TraceClose();
}

bool Trace::TraceOpen(bool readingEnd) {
    if (open_) return false;
    const platform::Handle h =
        readingEnd ? mailslots_.createMailslot(readingEndName(), kMaxMessageBytes, 0)
                   : mailslots_.openMailslot(writingEndName());
    if (h != 0 && h != kClosedHandle) {
        handle_ = h;
        open_ = true;
        disabled_ = false;
        return true;
    }
    open_ = false;
    disabled_ = true;
    if (readingEnd) {
        const platform::ErrorCode code = mailslots_.lastError();
        process_.messageBox(
            0, "Error: Can't open mailslot.\r\n(Win32 errcode:" + std::to_string(code) + ")",
            process_.version().title, platform::mb::kIconExclamation);
    }
    return false;
}

void Trace::TraceClose() {
    disabled_ = true;
    if (open_ && handle_ != kClosedHandle) mailslots_.close(handle_);
    handle_ = kClosedHandle;
    disabled_ = false;
    open_ = false;
}

void Trace::TraceWrite(std::string_view message) {
    if (disabled_) return;
    const std::vector<std::byte> line = buildTraceLine(clock_.tickCount(), message);
    // A handle that was never opened or is closed fails like WriteFile on it would, without
    // handing the port a value it never gave out.
    const bool written =
        open_ && handle_ != 0 && handle_ != kClosedHandle && mailslots_.write(handle_, line);
    if (!written) disabled_ = true;
}

void Trace::TraceLine(std::string_view message) noexcept {
    try {
        TraceWrite(message);
    } catch (...) {
        // Tracing must never disturb its caller.
    }
}

std::vector<std::string> TraceReader::readAll() {
    std::vector<std::string> lines;
    while (auto msg = mailslots_.read(handle_)) {
        std::string ansi;
        ansi.reserve(msg->size());
        for (std::byte b : *msg) {
            if (b == std::byte{0}) break;
            ansi += static_cast<char>(b);
        }
        lines.push_back(ansiToUtf8(ansi));
    }
    return lines;
}

bool matchesFilter(std::string_view line, std::string_view pattern) {
    if (pattern.empty()) return true;
    auto lower = [](char c) {
        return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    };
    auto it = std::search(line.begin(), line.end(), pattern.begin(), pattern.end(),
                          [&](char a, char b) { return lower(a) == lower(b); });
    return it != line.end();
}

}  // namespace quilo::trace
