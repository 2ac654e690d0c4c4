// Pictures on the screen: model pictures made into device-independent bitmaps and stretched
// into their boxes, form icons, and the captured look of a tab control's body.
#include "forms/win32/screen_bitmap.h"

#include <commctrl.h>

#include <algorithm>

#include "forms/controls.h"

namespace quilo::forms::win32 {

void ScreenDib::assignGrey(int w, int h, const std::vector<std::uint8_t>& rows) {
    width = w;
    height = h;
    bitCount = 8;
    const std::size_t stride = (static_cast<std::size_t>(w) + 3) & ~std::size_t{3};
    bits.assign(stride * static_cast<std::size_t>(h), 0);
    for (int y = 0; y < h; ++y)
        std::copy_n(rows.begin() + static_cast<std::ptrdiff_t>(y) * w, w,
                    bits.begin() + static_cast<std::ptrdiff_t>(y * stride));
}

void ScreenDib::assign(const forms::DisplayImage& image) {
    if (image.grey()) {
        std::uint32_t low = image.maxValue(), high = 0;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const std::uint32_t v = std::min(image.at(x, y), image.maxValue());
                low = std::min(low, v);
                high = std::max(high, v);
            }
        }
        if (high <= low) {  // one grey value: shown as it lies in the depth's range
            low = 0;
            high = image.maxValue();
        }
        std::vector<std::uint8_t> rows(static_cast<std::size_t>(image.width) *
                                       static_cast<std::size_t>(image.height));
        std::size_t k = 0;
        for (int y = 0; y < image.height; ++y) {
            for (int x = 0; x < image.width; ++x) {
                const std::uint32_t v = std::clamp(image.at(x, y), low, high);
                rows[k++] = static_cast<std::uint8_t>((static_cast<std::uint64_t>(v - low) * 255u) /
                                                      (high - low));
            }
        }
        assignGrey(image.width, image.height, rows);
        return;
    }
    width = image.width;
    height = image.height;
    bitCount = 32;
    bits.resize(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
        std::copy_n(image.pixels + static_cast<std::size_t>(y) * image.stride,
                    static_cast<std::size_t>(width) * 4,
                    bits.begin() + static_cast<std::ptrdiff_t>(y) * width * 4);
}

void ScreenDib::draw(HDC dc, const RECT& box, bool topAligned) const {
    if (width <= 0 || height <= 0) return;
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD palette[256];
    } info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;  // top-down rows
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bitCount);
    info.header.biCompression = BI_RGB;
    if (bitCount == 8) {
        info.header.biClrUsed = 256;
        for (int i = 0; i < 256; ++i) {
            const auto g = static_cast<BYTE>(i);
            info.palette[i] = RGBQUAD{g, g, g, 0};
        }
    }
    forms::FitRect fit =
        forms::fitInside(width, height, box.right - box.left, box.bottom - box.top);
    if (topAligned) fit.y = 0;
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, box.left + fit.x, box.top + fit.y, fit.width, fit.height, 0, 0, width, height,
                  bits.data(), reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, SRCCOPY);
}

HICON makeIcon(const forms::DisplayImage& picture, int size) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP color = CreateCompatibleBitmap(screen, size, size);
    HBITMAP mask = CreateBitmap(size, size, 1, 1, nullptr);
    ReleaseDC(nullptr, screen);
    RECT box{0, 0, size, size};
    HGDIOBJ old = SelectObject(dc, mask);
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));  // all opaque
    SelectObject(dc, color);
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    ScreenDib dib;
    dib.assign(picture);
    dib.draw(dc, box);
    SelectObject(dc, old);
    DeleteDC(dc);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    info.hbmColor = color;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    DeleteObject(color);
    return icon;
}

HBRUSH TabBody::brush(HWND tabs) {
    RECT rc;
    GetClientRect(tabs, &rc);
    if (brush_ != nullptr && rc.right == size_.cx && rc.bottom == size_.cy) return brush_;
    reset();
    if (rc.right <= 0 || rc.bottom <= 0) return nullptr;
    HDC screen = GetDC(tabs);
    HDC dc = CreateCompatibleDC(screen);
    bitmap_ = CreateCompatibleBitmap(screen, rc.right, rc.bottom);
    ReleaseDC(tabs, screen);
    HGDIOBJ old = SelectObject(dc, bitmap_);
    SendMessageW(tabs, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT | PRF_ERASEBKGND);
    // The body's colour in its middle, for the space behind a caption's letters.
    RECT body = rc;
    TabCtrl_AdjustRect(tabs, FALSE, &body);
    color_ = GetPixel(dc, (body.left + body.right) / 2, (body.top + body.bottom) / 2);
    SelectObject(dc, old);
    DeleteDC(dc);
    brush_ = CreatePatternBrush(bitmap_);
    size_ = {rc.right, rc.bottom};
    return brush_;
}

void TabBody::reset() {
    if (brush_ != nullptr) DeleteObject(brush_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    brush_ = nullptr;
    bitmap_ = nullptr;
}

}  // namespace quilo::forms::win32
