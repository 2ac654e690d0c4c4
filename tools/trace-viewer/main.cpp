// TraceViewer.exe: prints the plug-in's trace lines as they arrive.
#include <chrono>
#include <fstream>
#include <iostream>
#include <sstream>
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
    while (!viewer.finished()) {
        std::size_t n = 0;
        if (options->outFile.empty()) {
            n = viewer.poll(std::cout);
        } else {
            std::ostringstream batch;
            n = viewer.poll(batch);
            if (n) std::ofstream(options->outFile, std::ios::app | std::ios::binary) << batch.str();
        }
        if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}
