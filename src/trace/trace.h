// mdlTrace: short time-stamped lines to the trace mailslot, read by a trace viewer on the same
// machine or network while the plug-in runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mailslot.h"
#include "platform/process.h"

namespace quilo::trace {

// The mailslot's name below the prefix.
inline constexpr std::string_view kMailslotName = "Kelvo.ra2\\Xray.Ifc\\Plugin.Trc";
// A local mailslot: the reading end, created by the viewer.
inline constexpr std::string_view kReadingPrefix = "\\\\.\\mailslot\\";
// A broadcast to that mailslot name on every machine of the domain: the writing end.
inline constexpr std::string_view kWritingPrefix = "\\\\*\\mailslot\\";
// Longest message on the wire (399 characters of text and the NUL); the reading end is created
// with it.
inline constexpr std::uint32_t kMaxMessageBytes = 400;
inline constexpr std::size_t kMaxTextChars = kMaxMessageBytes - 1;

std::string readingEndName();
std::string writingEndName();

// The bytes written for one message: ANSI "[" + tick + "]" + message, cut to its first 399
// characters, followed by one NUL. The tick is printed as a signed 32-bit number.
std::vector<std::byte> buildTraceLine(std::uint32_t tickCount, std::string_view message);

// The module state and its procedures; one per process (owned by the process context). A
// viewer uses the same object for the reading end.
class Trace {
  public:
    // The handle value of a closed trace (INVALID_HANDLE_VALUE).
    static constexpr platform::Handle kClosedHandle = static_cast<platform::Handle>(-1);

    Trace(platform::Mailslots& mailslots, platform::Clock& clock, platform::Process& process);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Opens the reading end (a local mailslot) or the writing end (the broadcast name). False
    // when a handle is already open (nothing changes) or the open fails (tracing is then
    // disabled; only a failed reading end tells the user, in a message box).
    bool TraceOpen(bool readingEnd);
    void TraceClose();
    // Writes one line; does nothing while disabled. A failed write disables the trace until
    // the next successful TraceOpen or a TraceClose.
    void TraceWrite(std::string_view message);
    // The entry every other module uses: never lets an error reach its caller.
    void TraceLine(std::string_view message) noexcept;

    platform::Handle handle() const { return handle_; }
    bool isOpen() const { return open_; }
    bool isDisabled() const { return disabled_; }

  private:
    platform::Mailslots& mailslots_;
    platform::Clock& clock_;
    platform::Process& process_;
    platform::Handle handle_ = 0;  // 0 before the first open, kClosedHandle once closed
    bool open_ = false;
    bool disabled_ = false;
};

// Reads whole trace lines from a reading end, as the trace viewer shows them.
class TraceReader {
  public:
    TraceReader(platform::Mailslots& mailslots, platform::Handle readingEnd)
        : mailslots_(mailslots), handle_(readingEnd) {}
    // Every message waiting now, in arrival order, as UTF-8 text without the NUL.
    std::vector<std::string> readAll();

  private:
    platform::Mailslots& mailslots_;
    platform::Handle handle_;
};

// The viewer's filter: an empty pattern passes everything, otherwise a line passes when it
// contains the pattern, compared without regard to ASCII letter case.
bool matchesFilter(std::string_view line, std::string_view pattern);

}  // namespace quilo::trace
