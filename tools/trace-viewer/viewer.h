// The trace viewer: the reading end of the trace mailslot. It prints every line as it arrives,
// optionally only the lines that contain a filter text. The same class runs in TraceViewer.exe
// and inside the simulated world.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "trace/trace.h"

namespace quilo::tools {

struct ViewerOptions {
    std::string filter;                     // empty: every line
    std::optional<std::uint64_t> maxLines;  // stop after this many printed lines
    std::optional<std::uint32_t> quietMs;   // stop after this long without a line
    std::string outFile;                    // append the lines to this file instead of stdout
    bool help = false;
};

// Parses "--filter TEXT", "--count N", "--quiet-ms N", "--out FILE", "--help"; nothing on a bad
// argument.
std::optional<ViewerOptions> parseViewerArgs(const std::vector<std::string>& args);
std::string viewerUsage();

class TraceViewer {
  public:
    TraceViewer(platform::Mailslots& mailslots, platform::Clock& clock, platform::Process& process,
                ViewerOptions options);
    // Creates the reading end (a failure is shown in a message box by the trace module).
    bool open();
    // Prints every waiting line that passes the filter; returns how many were printed.
    std::size_t poll(std::ostream& out);
    // True once the line count or the quiet time given in the options is reached.
    bool finished() const;
    std::uint64_t printed() const { return printed_; }

  private:
    platform::Mailslots& mailslots_;
    platform::Clock& clock_;
    trace::Trace trace_;
    ViewerOptions options_;
    std::uint64_t printed_ = 0;
    std::uint32_t lastActivity_ = 0;
    bool quiet_ = false;
};

}  // namespace quilo::tools
