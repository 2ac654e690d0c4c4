// What the forms programs share: the Windows platform with the forms drawn on real windows, a
// control's window, and a form photographed into the screenshot folder.
#pragma once

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "e2e/support/e2e_check.h"
#include "e2e/support/screenshot.h"
#include "forms/forms.h"
#include "forms/win32/forms_renderer.h"
#include "platform/win32/win32_platform.h"

namespace quilo::e2e {

struct FormsOnScreen {
    std::unique_ptr<platform::Platform> platform = platform::makeWin32Platform();
    std::unique_ptr<forms::Renderer> renderer = forms::makeWin32FormsRenderer(*platform);
    forms::Forms forms{*platform};
    FormsOnScreen() { forms.attachRenderer(renderer.get()); }
};

inline HWND windowOf(const forms::Form& form, const forms::Control& c) {
    return GetDlgItem(reinterpret_cast<HWND>(form.hwnd()), c.id());
}

// Writes the form as it is on the screen to folder\file, and gives the picture.
inline ScreenCapture shoot(Checks& check, const forms::Form& form, const std::string& folder,
                           const std::string& file) {
    const std::string path = folder + "\\" + file;
    ScreenCapture capture = captureWindow(form.hwnd());
    check(writePng(capture, path), "screenshot " + file + " (" + std::to_string(capture.width) +
                                       "x" + std::to_string(capture.height) + ")");
    std::printf("screenshot: %s\n", path.c_str());
    return capture;
}

}  // namespace quilo::e2e
