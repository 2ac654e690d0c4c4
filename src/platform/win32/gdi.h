// Owners of GDI and USER handles: each frees its handle when it goes, so that no return or
// exception between making a handle and freeing it can leak one.
#pragma once

#include <windows.h>

#include <utility>

namespace quilo::platform::win32 {

// One handle, freed by Free unless it was released first.
template <typename H, typename Free>
class Owned {
  public:
    Owned() = default;
    explicit Owned(H h) : h_(h) {}
    Owned(Owned&& other) noexcept : h_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    H get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    // Gives the handle up to whoever frees it now (a menu it was appended to, say).
    H release() { return std::exchange(h_, nullptr); }
    void reset(H h = nullptr) {
        if (h_ != nullptr) Free{}(h_);
        h_ = h;
    }

  private:
    H h_ = nullptr;
};

struct DeleteGdiObject {
    void operator()(HGDIOBJ h) const { DeleteObject(h); }
};
struct DeleteMemoryDc {
    void operator()(HDC h) const { DeleteDC(h); }
};
struct DestroyIconHandle {
    void operator()(HICON h) const { DestroyIcon(h); }
};
struct DestroyWindowHandle {
    void operator()(HWND h) const { DestroyWindow(h); }
};
struct DestroyMenuHandle {
    void operator()(HMENU h) const { DestroyMenu(h); }
};
struct CloseKernelHandle {
    void operator()(HANDLE h) const { CloseHandle(h); }
};

// A bitmap, brush, font or any other GDI object.
template <typename H>
using GdiObject = Owned<H, DeleteGdiObject>;
// A device context from CreateCompatibleDC.
using MemoryDc = Owned<HDC, DeleteMemoryDc>;
using IconHandle = Owned<HICON, DestroyIconHandle>;
// A window this code made and destroys itself (not one that goes with its parent).
using WindowHandle = Owned<HWND, DestroyWindowHandle>;
// A menu not attached to a window or to another menu.
using MenuHandle = Owned<HMENU, DestroyMenuHandle>;
// A file or other kernel object (never INVALID_HANDLE_VALUE: check before taking it).
using KernelHandle = Owned<HANDLE, CloseKernelHandle>;

// A window's device context, or the screen's for no window, from GetDC.
class WindowDc {
  public:
    explicit WindowDc(HWND hwnd = nullptr) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    WindowDc(WindowDc&& other) noexcept
        : hwnd_(other.hwnd_), dc_(std::exchange(other.dc_, nullptr)) {}
    WindowDc& operator=(WindowDc&&) = delete;
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    ~WindowDc() {
        if (dc_ != nullptr) ReleaseDC(hwnd_, dc_);
    }

    HDC get() const { return dc_; }

  private:
    HWND hwnd_;
    HDC dc_;
};

// An object selected into a device context; the one it displaced is selected back when this
// goes, so that the object can be deleted and the context holds nothing of ours.
class Selection {
  public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), old_(SelectObject(dc, object)) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() {
        if (old_ != nullptr && old_ != HGDI_ERROR) SelectObject(dc_, old_);
    }

  private:
    HDC dc_;
    HGDIOBJ old_;
};

// The header of a DIB of top-down rows; an 8-bit one gets a grey palette.
struct DibInfo {
    BITMAPINFOHEADER header{};
    RGBQUAD palette[256]{};
    DibInfo(int width, int height, int bitCount) {
        header.biSize = sizeof(BITMAPINFOHEADER);
        header.biWidth = width;
        header.biHeight = -height;
        header.biPlanes = 1;
        header.biBitCount = static_cast<WORD>(bitCount);
        header.biCompression = BI_RGB;
        if (bitCount != 8) return;
        header.biClrUsed = 256;
        for (int i = 0; i < 256; ++i) {
            const auto g = static_cast<BYTE>(i);
            palette[i] = RGBQUAD{g, g, g, 0};
        }
    }
    const BITMAPINFO* get() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

}  // namespace quilo::platform::win32
