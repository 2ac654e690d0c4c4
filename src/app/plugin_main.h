// The plug-in program's body, apart from WinMain so that it needs no <windows.h>.
#pragma once

namespace quilo::app {

// Runs one plug-in process to its end; the process's exit code.
int pluginMain();

}  // namespace quilo::app
