// Screenshots for the Windows end-to-end programs and the test host: a window as it is on the
// screen, written as a PNG file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/types.h"

namespace quilo::e2e {

// A 24-bit picture of part of the screen (top-down rows of B, G, R).
struct ScreenCapture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgr;
};
// Captures a window as it is on the screen (with its frame). Empty on failure.
ScreenCapture captureWindow(platform::Hwnd hwnd);
// Writes a capture as a PNG file (uncompressed deflate blocks). False on failure.
bool writePng(const ScreenCapture& capture, const std::string& path);

}  // namespace quilo::e2e
