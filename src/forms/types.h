// Small value types shared by the form model and its renderers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/types.h"

namespace quilo::forms {

// Colours as forms store them: 0x00BBGGRR, or a system colour (0x80000000 | COLOR_ index).
using Color = std::uint32_t;
namespace color {
inline constexpr Color kSystemButtonFace = 0x8000000F;
inline constexpr Color kSystemButtonText = 0x80000012;
inline constexpr Color kSystemWindow = 0x80000005;
inline constexpr Color kSystemWindowText = 0x80000008;
inline constexpr Color kRed = 0x000000FF;
constexpr bool isSystem(Color c) {
    return (c & 0x80000000u) != 0;
}
}  // namespace color

// Key codes the forms look at (virtual-key codes).
namespace key {
inline constexpr int kReturn = 13;
inline constexpr int kEscape = 27;
inline constexpr int kSpace = 32;
inline constexpr int kApps = 93;  // the context-menu key
}  // namespace key

// Mouse buttons and shift states as mouse and key events report them.
namespace mouse {
inline constexpr int kLeft = 1;
inline constexpr int kRight = 2;
inline constexpr int kMiddle = 4;
}  // namespace mouse
namespace shift {
inline constexpr int kShift = 1;
inline constexpr int kCtrl = 2;
inline constexpr int kAlt = 4;
}  // namespace shift

// Mouse pointers a form, a control or the screen can show.
namespace pointer {
using platform::pointer::kArrow;
using platform::pointer::kDefault;
using platform::pointer::kHourglass;
inline constexpr int kHand = 99;  // the pointing hand of a link
}  // namespace pointer

// Why a form is being unloaded (the value QueryUnload receives).
enum class UnloadMode : int {
    ControlMenu = 0,  // the user closed it from the title bar or system menu
    Code = 1,         // the program unloaded it
    AppWindows = 2,   // Windows is ending the session
    TaskManager = 3,  // the task manager closes the program
    Owner = 5,        // its owner is closing
};

enum class ShowMode { Modeless, Modal };

enum class BorderStyle { None, FixedSingle, Sizable, FixedDialog, FixedToolWindow };

// A picture for image views, thumbnails and icons. Grey pictures of 8 bits hold one byte per
// pixel, of 12 and 16 bits one little-endian 16-bit word per pixel (12-bit values in the low
// bits). Colour pictures (status icons) have 32 bits: blue, green, red and an unused byte. The
// pixels belong to whoever holds `owner`; the struct itself only points at them.
struct DisplayImage {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 8;    // 8, 12 or 16 (grey), 32 (colour)
    std::size_t stride = 0;  // bytes from one row to the next
    const std::uint8_t* pixels = nullptr;
    std::shared_ptr<const void> owner;

    static constexpr std::size_t bytesPerPixel(int bits) {
        return bits == 8 ? 1u : bits == 32 ? 4u : 2u;
    }
    bool grey() const { return bitsPerPixel != 32; }
    bool valid() const {
        return width > 0 && height > 0 && pixels != nullptr &&
               (bitsPerPixel == 8 || bitsPerPixel == 12 || bitsPerPixel == 16 ||
                bitsPerPixel == 32) &&
               stride >= static_cast<std::size_t>(width) * bytesPerPixel(bitsPerPixel);
    }
    // The value of one pixel: the grey value, or 0x00RRGGBB for colour (no bounds check
    // beyond valid()).
    std::uint32_t at(int x, int y) const {
        const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * stride;
        if (bitsPerPixel == 8) return row[x];
        if (bitsPerPixel == 32)
            return static_cast<std::uint32_t>(row[4 * x]) |
                   (static_cast<std::uint32_t>(row[4 * x + 1]) << 8) |
                   (static_cast<std::uint32_t>(row[4 * x + 2]) << 16);
        return static_cast<std::uint32_t>(row[2 * x]) |
               (static_cast<std::uint32_t>(row[2 * x + 1]) << 8);
    }
    // The largest grey value (255 for colour pictures, per channel).
    std::uint32_t maxValue() const { return grey() ? (1u << bitsPerPixel) - 1u : 255u; }
};

// A picture that owns its pixels, for code that builds one from scratch.
std::shared_ptr<const DisplayImage> makeDisplayImage(int width, int height, int bitsPerPixel,
                                                     std::vector<std::uint8_t> bytes);

// Sizes and positions in twips.
struct TwipSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const TwipSize&, const TwipSize&) = default;
};

}  // namespace quilo::forms
