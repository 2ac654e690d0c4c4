// The renderer's pictures on the screen: the bitmap an image control or picture draws, the
// form's icon, and the look of a tab control's body.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "forms/types.h"

namespace quilo::forms::win32 {

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

// An opaque icon of size by size pixels with the picture scaled into it.
HICON makeIcon(const DisplayImage& picture, int size);

// The look of a tab control's body, for the controls on its pages to paint their background
// with: a themed tab control paints its body itself, in a colour other than the dialog's.
class TabBody {
  public:
    TabBody() = default;
    TabBody(const TabBody&) = delete;
    TabBody& operator=(const TabBody&) = delete;
    ~TabBody() { reset(); }

    // The body's brush for the tab control's present size (drawn anew after a resize).
    HBRUSH brush(HWND tabs);
    COLORREF color() const { return color_; }

  private:
    void reset();

    HBITMAP bitmap_ = nullptr;
    HBRUSH brush_ = nullptr;
    SIZE size_{};
    COLORREF color_ = 0;
};

}  // namespace quilo::forms::win32
