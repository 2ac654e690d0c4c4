// Screen captures through GDI and a PNG writer with no library behind it: the zlib stream is
// made of stored blocks.
#include "e2e/support/screenshot.h"

#include <windows.h>

#include <algorithm>

#include "platform/win32/gdi.h"
#include "platform/win32/text.h"

namespace quilo::e2e {

namespace {

std::uint32_t crc32(const std::uint8_t* data, std::size_t n, std::uint32_t crc = 0) {
    crc = ~crc;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void chunk(std::vector<std::uint8_t>& out, const char* type,
           const std::vector<std::uint8_t>& data) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put32(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

ScreenCapture captureWindow(platform::Hwnd hwnd) {
    ScreenCapture shot;
    RECT rc;
    if (!GetWindowRect(reinterpret_cast<HWND>(hwnd), &rc)) return shot;
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) return shot;
    const platform::win32::WindowDc screen;
    const platform::win32::MemoryDc dc(CreateCompatibleDC(screen.get()));
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const platform::win32::GdiObject<HBITMAP> bitmap(
        CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (bitmap) {
        const platform::win32::Selection selected(dc.get(), bitmap.get());
        BitBlt(dc.get(), 0, 0, w, h, screen.get(), rc.left, rc.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        const std::size_t stride = (static_cast<std::size_t>(w) * 3 + 3) & ~std::size_t{3};
        shot.width = w;
        shot.height = h;
        shot.bgr.resize(static_cast<std::size_t>(w) * 3 * static_cast<std::size_t>(h));
        const auto* src = static_cast<const std::uint8_t*>(bits);
        for (int y = 0; y < h; ++y)
            std::copy_n(src + static_cast<std::size_t>(y) * stride, static_cast<std::size_t>(w) * 3,
                        shot.bgr.begin() + static_cast<std::ptrdiff_t>(y) * w * 3);
    }
    return shot;
}

bool writePng(const ScreenCapture& capture, const std::string& path) {
    if (capture.width <= 0 || capture.height <= 0) return false;
    std::vector<std::uint8_t> raw;
    raw.reserve((static_cast<std::size_t>(capture.width) * 3 + 1) *
                static_cast<std::size_t>(capture.height));
    for (int y = 0; y < capture.height; ++y) {
        raw.push_back(0);  // no filter
        const std::uint8_t* row =
            capture.bgr.data() + static_cast<std::size_t>(y) * capture.width * 3;
        for (int x = 0; x < capture.width; ++x)
            raw.insert(raw.end(), {row[3 * x + 2], row[3 * x + 1], row[3 * x]});
    }
    // A zlib stream of stored blocks: no compression, so no library is needed.
    std::vector<std::uint8_t> z{0x78, 0x01};
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min<std::size_t>(65535, raw.size() - pos);
        const auto lo = static_cast<std::uint8_t>(n), hi = static_cast<std::uint8_t>(n >> 8);
        // The block's header: whether it is the last, its length and the length's complement.
        z.insert(z.end(), {pos + n == raw.size(), lo, hi, static_cast<std::uint8_t>(~lo),
                           static_cast<std::uint8_t>(~hi)});
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, (b << 16) | a);

    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(capture.width));
    put32(header, static_cast<std::uint32_t>(capture.height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", z);
    chunk(png, "IEND", {});

    HANDLE opened = CreateFileW(platform::win32::utf8ToWide(path).c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) return false;
    const platform::win32::KernelHandle file(opened);
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file.get(), png.data(), static_cast<DWORD>(png.size()), &written, nullptr);
    return ok != FALSE && written == png.size();
}

}  // namespace quilo::e2e
