// The test host's own window: a button for every command, a log of every message that
// arrived and the last image received; run on its own (interactive mode) or after a scenario
// to photograph what the host received.
#include "test-host/host_window_win32.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "e2e/support/screenshot.h"
#include "imaging/tiff.h"
#include "platform/win32/gdi.h"
#include "platform/win32/win32_platform.h"
#include "test-host/decode.h"

namespace quilo::testhost {

namespace {

// The last image received, as 8-bit grey stretched between its darkest and brightest pixel, in
// rows padded to four bytes as a device-independent bitmap wants them.
struct Preview {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rows;

    static std::size_t stride(int width) { return (static_cast<std::size_t>(width) + 3) & ~3u; }
    void show(const quilo::imaging::Image& img) {
        const auto w = img.width(), h = img.height();
        auto sample = [&img](std::uint32_t x, std::uint32_t y) -> std::uint32_t {
            const std::uint8_t* row = img.data() + static_cast<std::size_t>(y) * img.rowBytes();
            return img.bitsPerPixel() == 8 ? row[x] : row[2 * x] | (row[2 * x + 1] << 8);
        };
        std::uint32_t lo = img.maxValue(), hi = 0;
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x) {
                lo = std::min(lo, sample(x, y));
                hi = std::max(hi, sample(x, y));
            }
        const std::uint32_t span = hi > lo ? hi - lo : 1;
        width = static_cast<int>(w);
        height = static_cast<int>(h);
        rows.assign(stride(width) * h, 0);
        for (std::uint32_t y = 0; y < h; ++y)
            for (std::uint32_t x = 0; x < w; ++x)
                rows[y * stride(width) + x] = static_cast<std::uint8_t>(
                    (sample(x, y) - std::min(sample(x, y), lo)) * 255u / span);
    }
    // Draws the picture scaled to fit `area`, keeping its proportions.
    void paint(HDC dc, const RECT& area) const {
        FillRect(dc, &area, reinterpret_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)));
        if (width == 0) return;
        const platform::win32::DibInfo info(width, height, 8);
        const int aw = area.right - area.left, ah = area.bottom - area.top;
        const double scale =
            std::min(static_cast<double>(aw) / width, static_cast<double>(ah) / height);
        const int dw = std::max(1, static_cast<int>(width * scale));
        const int dh = std::max(1, static_cast<int>(height * scale));
        SetStretchBltMode(dc, HALFTONE);
        StretchDIBits(dc, area.left + (aw - dw) / 2, area.top + (ah - dh) / 2, dw, dh, 0, 0, width,
                      height, rows.data(), info.get(), DIB_RGB_COLORS, SRCCOPY);
    }
};

struct Interactive {
    std::unique_ptr<quilo::platform::Platform> platform;
    std::unique_ptr<HostCore> host;
    std::unique_ptr<PluginLauncher> launcher;
    HWND window = nullptr;
    HWND log = nullptr;
    HWND sensorEdit = nullptr;
    HWND settingsEdit = nullptr;
    HWND image = nullptr;
    Preview preview;

    void append(const std::string& line) {
        const int end = GetWindowTextLengthA(log);
        SendMessageA(log, EM_SETSEL, static_cast<WPARAM>(end), end);
        const std::string text = line + "\r\n";
        SendMessageA(log, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    }
    HWND plugin() const {
        return host->plugins().empty() ? nullptr : reinterpret_cast<HWND>(host->plugins().back());
    }
    std::string field(HWND edit) {
        char buf[256] = {};
        GetWindowTextA(edit, buf, sizeof buf);
        return buf;
    }
    void command(int id) {
        const auto p = reinterpret_cast<quilo::platform::Hwnd>(plugin());
        const std::int32_t code = id;
        if (id == 1) {
            append(launcher->start("") ? "started the plug-in" : "could not start the plug-in");
            return;
        }
        if (id == 0) {
            host->enumerate();
            append("> EnumeratePlugIns");
            return;
        }
        if (p == 0) {
            append("no plug-in has announced itself yet");
            return;
        }
        Bytes data;
        if (code == 20 || code == 31 || code == 22)
            data = quilo::testhost::int32Bytes(std::atoi(field(sensorEdit).c_str()));
        else if (code == 12)
            data = quilo::testhost::settingsBlock(field(settingsEdit));
        else
            data = quilo::testhost::handleBytes(host->hwnd());
        const auto verdict = host->send(p, code, data);
        append("> " + quilo::testhost::commandLabel(code) + (verdict ? " accepted" : " REFUSED"));
    }
};

// The picture of the last received image; it finds the state through its user data too.
LRESULT CALLBACK imageProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    const auto* ui = reinterpret_cast<const Interactive*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_PAINT && ui != nullptr) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT area;
        GetClientRect(hwnd, &area);
        ui->preview.paint(dc, area);
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The interactive window finds its state through its user data.
LRESULT CALLBACK uiProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* ui = reinterpret_cast<Interactive*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (msg == WM_COMMAND && ui != nullptr && HIWORD(wParam) == BN_CLICKED) {
        ui->command(static_cast<int>(LOWORD(wParam)) - 1000);
        return 0;
    }
    if (msg == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// The host's window: the command buttons, the log of what arrived and the last image.
void openHostWindow(Interactive& ui) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = uiProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "QuiloTestHostUi";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&wc);
    WNDCLASSA ic = wc;
    ic.lpfnWndProc = imageProc;
    ic.lpszClassName = "QuiloTestHostImage";
    RegisterClassA(&ic);
    ui.window =
        CreateWindowA("QuiloTestHostUi", "Quilo Test Host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40,
                      40, 900, 640, nullptr, nullptr, wc.hInstance, &ui);
    struct Button {
        int code;
        const char* label;
    };
    const Button buttons[] = {{1, "Start plug-in"},   {0, "Enumerate"},       {2, "Initialize"},
                              {4, "GetInformation"},  {5, "GetCapabilities"}, {6, "GetStatus"},
                              {30, "GetSensorCount"}, {31, "GetSensorInfo"},  {10, "Setup"},
                              {20, "Activate"},       {23, "StopCapture"},    {22, "ImageStored"},
                              {12, "SetSettings"},    {11, "GetSettings"},    {3, "Shutdown"}};
    int y = 10;
    for (const Button& b : buttons) {
        CreateWindowA("BUTTON", b.label, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, y, 140, 28,
                      ui.window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(1000 + b.code)),
                      wc.hInstance, nullptr);
        y += 34;
    }
    ui.sensorEdit = CreateWindowA("EDIT", "1", WS_CHILD | WS_VISIBLE | WS_BORDER, 160, 10, 80, 24,
                                  ui.window, nullptr, wc.hInstance, nullptr);
    ui.settingsEdit = CreateWindowA("EDIT", "LAN English", WS_CHILD | WS_VISIBLE | WS_BORDER, 250,
                                    10, 300, 24, ui.window, nullptr, wc.hInstance, nullptr);
    ui.log = CreateWindowA("EDIT", "",
                           WS_CHILD | WS_VISIBLE | WS_BORDER | WS_VSCROLL | ES_MULTILINE |
                               ES_AUTOVSCROLL | ES_READONLY,
                           160, 44, 440, 550, ui.window, nullptr, wc.hInstance, nullptr);
    ui.image = CreateWindowA("QuiloTestHostImage", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 610, 44,
                             270, 550, ui.window, nullptr, wc.hInstance, &ui);
}

// Shows one received message in the host's window: its decoded record, and its image.
void showReceived(Interactive& ui, const quilo::testhost::Received& r) {
    ui.append("< " + quilo::testhost::decodeRecord(r.code, r.data));
    const auto payload = HostCore::imagePayload(r);
    if (payload.empty()) return;
    try {
        ui.preview.show(quilo::imaging::readTiff(payload));
        InvalidateRect(ui.image, nullptr, TRUE);
    } catch (const std::exception& e) {
        ui.append(std::string("  the image could not be read: ") + e.what());
    }
}

}  // namespace

void shootHostWindow(HostCore& host, const std::string& path) {
    Interactive ui;
    openHostWindow(ui);
    for (const auto& r : host.received())
        showReceived(ui, r);
    const DWORD until = GetTickCount() + 1000;  // let it paint
    host.waitUntil([&] { return GetTickCount() >= until; }, 1500);
    const bool saved = quilo::e2e::writePng(
        quilo::e2e::captureWindow(reinterpret_cast<quilo::platform::Hwnd>(ui.window)), path);
    std::printf("# screenshot %s: %s\n", path.c_str(), saved ? "saved" : "FAILED");
    DestroyWindow(ui.window);
}

int runInteractive(std::unique_ptr<PluginLauncher> launcher, const std::string& images,
                   const std::string& show) {
    Interactive ui;
    ui.platform = quilo::platform::makeWin32Platform();
    ui.host = std::make_unique<HostCore>(*ui.platform);
    ui.launcher = std::move(launcher);
    ui.host->setImageFolder(images);
    openHostWindow(ui);
    ui.host->onReceived = [&ui](const quilo::testhost::Received& r) { showReceived(ui, r); };
    if (!show.empty()) {
        // An image file to look at before any arrives (the same view the received ones get).
        try {
            ui.preview.show(quilo::imaging::readTiffFile(ui.platform->files(), show));
            InvalidateRect(ui.image, nullptr, TRUE);
        } catch (const std::exception& e) {
            ui.append(show + ": " + e.what());
        }
    }
    MSG m;
    while (GetMessageA(&m, nullptr, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    DestroyWindow(ui.window);
    return 0;
}

}  // namespace quilo::testhost
