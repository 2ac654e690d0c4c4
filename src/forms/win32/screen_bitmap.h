// The renderer's pictures on the screen: the bitmap an image control or picture draws, the
// form's icon, and the look of a tab control's body.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "forms/types.h"
#include "platform/win32/gdi.h"

namespace quilo::forms::win32 {

using platform::win32::GdiObject;
using platform::win32::IconHandle;
using platform::win32::MemoryDc;
using platform::win32::MenuHandle;
using platform::win32::Selection;
using platform::win32::WindowDc;
using platform::win32::WindowHandle;

// A picture ready for StretchDIBits: 8-bit grey rows or 32-bit colour rows, padded to four
// bytes.
struct ScreenDib {
    int width = 0;
    int height = 0;
    int bitCount = 8;
    std::vector<std::uint8_t> bits;

    void assignGrey(int w, int h, const std::vector<std::uint8_t>& rows);
    // Any picture: colour as it is, grey from its darkest to its brightest value (a 12-bit
    // plate in 16-bit samples, or any image that uses only part of its depth, would otherwise
    // look black).
    void assign(const DisplayImage& image);
    // Scaled to fit the box with its aspect kept, centred; a top-aligned picture sits at the
    // top of the box.
    void draw(HDC dc, const RECT& box, bool topAligned = false) const;
};

// A memory device context like the window's (the screen's for none), with a bitmap of the same
// kind of width by height pixels made into `bitmap` to draw on.
MemoryDc compatibleDc(HWND window, int width, int height, GdiObject<HBITMAP>& bitmap);

// An opaque icon of size by size pixels with the picture scaled into it.
IconHandle makeIcon(const DisplayImage& picture, int size);

// The look of a tab control's body, for the controls on its pages to paint their background
// with: a themed tab control paints its body itself, in a colour other than the dialog's.
class TabBody {
  public:
    // The body's brush for the tab control's present size (drawn anew after a resize).
    HBRUSH brush(HWND tabs);
    COLORREF color() const { return color_; }

  private:
    GdiObject<HBITMAP> bitmap_;
    GdiObject<HBRUSH> brush_;  // made from bitmap_, so deleted before it
    SIZE size_{};
    COLORREF color_ = 0;
};

}  // namespace quilo::forms::win32
