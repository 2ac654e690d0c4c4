// The plug-in program: creates the process context on the real Windows platform with the forms
// shown by the Windows renderer, loads the main form and pumps messages until it has unloaded.
#include "app/plugin_main.h"

#include "controller/plugin_process.h"
#include "forms/win32/forms_renderer.h"
#include "platform/win32/win32_platform.h"

namespace quilo::app {

int pluginMain() {
    auto platform = platform::makeWin32Platform();
    // Made before the first window and kept until the last form is gone.
    auto renderer = forms::makeWin32FormsRenderer(*platform);
    controller::PluginProcess process(*platform);
    process.forms().attachRenderer(renderer.get());
    if (!process.start()) return process.exitCode();
    return process.run();
}

}  // namespace quilo::app
