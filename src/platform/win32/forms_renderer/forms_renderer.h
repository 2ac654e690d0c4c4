// The Windows renderer of the form model: each loaded form's window gets real child controls
// (buttons, check boxes, labels, edit boxes, combo and list boxes, tab control, list views, an
// owner-drawn image view) in the common controls 6 look, placed from the model's twips with
// the display's factor, and the user's input goes back to the model as its events.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "forms/forms.h"
#include "platform/platform.h"

namespace quilo::platform {

// Makes the process DPI-aware and initialises the common controls; call it before the first
// window is created. The renderer is then attached with Forms::attachRenderer.
std::unique_ptr<forms::Renderer> makeWin32FormsRenderer(Platform& platform);

// A 24-bit picture of part of the screen (top-down rows of B, G, R), for screenshots.
struct ScreenCapture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};
// Captures a window as it is on the screen (with its frame). Empty on failure.
ScreenCapture captureWindow(Hwnd hwnd);
// Writes a capture as a PNG file (uncompressed deflate blocks). False on failure.
bool writePng(const ScreenCapture& capture, const std::string& path);

}  // namespace quilo::platform
