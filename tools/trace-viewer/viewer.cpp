#include "viewer.h"

#include <charconv>

namespace quilo::tools {

namespace {

template <class T>
std::optional<T> parseNumber(const std::string& s) {
    T v{};
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

std::string viewerUsage() {
    return "TraceViewer [--filter TEXT] [--count N] [--quiet-ms N] [--out FILE]\n"
           "  Prints every line written to the plug-in's trace mailslot as it arrives.\n"
           "  --filter TEXT  only lines containing TEXT (letter case ignored)\n"
           "  --count N      stop after N lines\n"
           "  --quiet-ms N   stop after N milliseconds without a line\n"
           "  --out FILE     append the lines to FILE (opened and closed for each batch, so\n"
           "                 others can read it meanwhile) instead of printing them\n";
}

std::optional<ViewerOptions> parseViewerArgs(const std::vector<std::string>& args) {
    ViewerOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h" || a == "/?") {
            o.help = true;
        } else if (a == "--filter" && hasValue) {
            o.filter = args[++i];
        } else if (a == "--out" && hasValue) {
            o.outFile = args[++i];
        } else if (a == "--count" && hasValue) {
            o.maxLines = parseNumber<std::uint64_t>(args[++i]);
            if (!o.maxLines) return std::nullopt;
        } else if (a == "--quiet-ms" && hasValue) {
            o.quietMs = parseNumber<std::uint32_t>(args[++i]);
            if (!o.quietMs) return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    return o;
}

TraceViewer::TraceViewer(platform::Mailslots& mailslots, platform::Clock& clock,
                         platform::Process& process, ViewerOptions options)
    : mailslots_(mailslots),
      clock_(clock),
      trace_(mailslots, clock, process),
      options_(std::move(options)) {}

bool TraceViewer::open() {
    lastActivity_ = clock_.tickCount();
    return trace_.TraceOpen(true);
}

std::size_t TraceViewer::poll(std::ostream& out) {
    if (!trace_.isOpen()) return 0;
    std::size_t n = 0;
    trace::TraceReader reader(mailslots_, trace_.handle());
    const auto lines = reader.readAll();
    const std::uint32_t now = clock_.tickCount();
    if (!lines.empty()) lastActivity_ = now;
    for (const std::string& line : lines) {
        if (options_.maxLines && printed_ >= *options_.maxLines) break;
        if (!trace::matchesFilter(line, options_.filter)) continue;
        out << line << '\n';
        ++printed_;
        ++n;
    }
    if (n) out.flush();
    if (options_.quietMs && now - lastActivity_ >= *options_.quietMs) quiet_ = true;
    return n;
}

bool TraceViewer::finished() const {
    return (options_.maxLines && printed_ >= *options_.maxLines) || quiet_;
}

}  // namespace quilo::tools
