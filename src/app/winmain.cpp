// The Windows entry point of QuiloPlugin.exe.
#include <windows.h>

#include "app/plugin_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return quilo::app::pluginMain();
}
