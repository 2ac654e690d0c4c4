// TraceViewer.exe: prints the plug-in's trace lines as they arrive.
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/win32/win32_platform.h"
#include "viewer.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    auto options = quilo::tools::parseViewerArgs(args);
    if (!options || options->help) {
        std::cerr << quilo::tools::viewerUsage();
        return options ? 0 : 2;
    }
    auto platform = quilo::platform::makeWin32Platform();
    quilo::tools::TraceViewer viewer(platform->mailslots(), platform->clock(), platform->process(),
                                     *options);
    if (!viewer.open()) return 1;
    // Lines for --out wait here until the file takes them: a reader that holds the file open
    // for a moment must not cost a batch of lines.
    std::string pending;
    auto flushPending = [&] {
        if (pending.empty()) return true;
        std::ofstream out(options->outFile, std::ios::app | std::ios::binary);
        if (!out || !(out << pending) || !out.flush()) return false;
        pending.clear();
        return true;
    };
    while (!viewer.finished()) {
        std::size_t n = 0;
        if (options->outFile.empty()) {
            n = viewer.poll(std::cout);
        } else {
            std::ostringstream batch;
            n = viewer.poll(batch);
            pending += batch.str();
            flushPending();
        }
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    for (int attempt = 0; attempt < 250 && !flushPending(); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return pending.empty() ? 0 : 1;
}
