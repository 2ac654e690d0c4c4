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
    const platform::win32::DibInfo info(width, height, bitCount);
    forms::FitRect fit =
        forms::fitInside(width, height, box.right - box.left, box.bottom - box.top);
    if (topAligned) fit.y = 0;
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, box.left + fit.x, box.top + fit.y, fit.width, fit.height, 0, 0, width, height,
                  bits.data(), info.get(), DIB_RGB_COLORS, SRCCOPY);
}

MemoryDc compatibleDc(HWND window, int width, int height, GdiObject<HBITMAP>& bitmap) {
    const WindowDc like(window);
    bitmap.reset(CreateCompatibleBitmap(like.get(), width, height));
    return MemoryDc(CreateCompatibleDC(like.get()));
}

IconHandle makeIcon(const forms::DisplayImage& picture, int size) {
    GdiObject<HBITMAP> color;
    const GdiObject<HBITMAP> mask(CreateBitmap(size, size, 1, 1, nullptr));
    {
        const MemoryDc dc = compatibleDc(nullptr, size, size, color);
        const RECT box{0, 0, size, size};
        {
            // An all-black mask: every pixel of the icon opaque.
            const Selection selected(dc.get(), mask.get());
            FillRect(dc.get(), &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        }
        const Selection selected(dc.get(), color.get());
        FillRect(dc.get(), &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        ScreenDib dib;
        dib.assign(picture);
        dib.draw(dc.get(), box);
    }
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask.get();
    info.hbmColor = color.get();
    return IconHandle(CreateIconIndirect(&info));
}

HBRUSH TabBody::brush(HWND tabs) {
    RECT rc;
    GetClientRect(tabs, &rc);
    if (brush_ && rc.right == size_.cx && rc.bottom == size_.cy) return brush_.get();
    brush_.reset();
    bitmap_.reset();
    if (rc.right <= 0 || rc.bottom <= 0) return nullptr;
    {
        const MemoryDc dc = compatibleDc(tabs, rc.right, rc.bottom, bitmap_);
        const Selection selected(dc.get(), bitmap_.get());
        SendMessageW(tabs, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()),
                     PRF_CLIENT | PRF_ERASEBKGND);
        // The body's colour in its middle, for the space behind a caption's letters.
        RECT body = rc;
        TabCtrl_AdjustRect(tabs, FALSE, &body);
        color_ = GetPixel(dc.get(), (body.left + body.right) / 2, (body.top + body.bottom) / 2);
    }
    brush_.reset(CreatePatternBrush(bitmap_.get()));
    size_ = {rc.right, rc.bottom};
    return brush_.get();
}

}  // namespace quilo::forms::win32
