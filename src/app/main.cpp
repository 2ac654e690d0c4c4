// QuiloPlugin.exe: the plug-in process. It creates the process context on the real Windows
// platform, loads the main form and pumps messages until the main form has unloaded.
#include <windows.h>

#include "controller/plugin_process.h"
#include "platform/win32/win32_platform.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    auto platform = quilo::platform::makeWin32Platform();
    int exitCode = 0;
    {
        quilo::controller::PluginProcess process(*platform);
        if (process.start())
            exitCode = process.run();
        else
            exitCode = process.exitCode();
    }
    return exitCode;
}
