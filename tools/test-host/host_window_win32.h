// The test host's own window (TestHost.exe).
#pragma once

#include <memory>
#include <string>

#include "test-host/host_core.h"
#include "test-host/scenario.h"

namespace quilo::testhost {

// Interactive mode: the host's window with a button for every command; plug-ins are started
// with `launcher`, received images kept in `images`, and `show` (a TIFF file, if given) shown
// before any arrives. Returns when the window is closed.
int runInteractive(std::unique_ptr<PluginLauncher> launcher, const std::string& images,
                   const std::string& show);

// The host's window after a scenario: everything that arrived, the last image shown; saved as
// a PNG file.
void shootHostWindow(HostCore& host, const std::string& path);

}  // namespace quilo::testhost
