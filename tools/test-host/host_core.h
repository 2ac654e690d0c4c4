// The test host's protocol logic: a host window that enumerates plug-ins, sends them commands
// as WM_COPYDATA records and keeps every message they send back. It is written against the
// platform seam, so the same code runs in TestHost.exe and inside the simulated world.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quilo::testhost {

using platform::Hwnd;
using Bytes = std::vector<std::byte>;

// One message a plug-in sent to the host window.
struct Received {
    std::uint32_t atMs = 0;  // the host's tick count when it arrived
    Hwnd sender = 0;         // wParam
    std::int32_t code = 0;   // the command code; -1 for a RegisterPlugIn announcement
    Bytes data;              // the record (a private copy)
};

// Record builders for what the host sends.
Bytes handleBytes(Hwnd hwnd);
Bytes int32Bytes(std::int32_t value);
// A text settings block: total size, stream flag, text length with its NUL, ANSI text, NUL.
Bytes settingsBlock(std::string_view utf8Text);

class HostCore final : public platform::WindowHandler {
  public:
    explicit HostCore(platform::Platform& platform, std::string title = "Quilo Test Host");
    ~HostCore();
    HostCore(const HostCore&) = delete;
    HostCore& operator=(const HostCore&) = delete;

    platform::Platform& platform() { return platform_; }
    Hwnd hwnd() const { return hwnd_; }
    platform::MsgId interfaceMessage() const { return interfaceMsg_; }

    // Broadcasts EnumeratePlugIns; plug-ins answer with RegisterPlugIn announcements.
    void enumerate();
    // The plug-in windows that announced themselves, in order of their first announcement.
    const std::vector<Hwnd>& plugins() const { return plugins_; }

    // Sends one command; returns the plug-in's verdict (non-zero = accepted). `sender` is the
    // wParam (the host window unless a test wants another).
    platform::LResult send(Hwnd plugin, std::int32_t code, std::span<const std::byte> data);
    platform::LResult sendFrom(Hwnd sender, Hwnd plugin, std::int32_t code,
                               std::span<const std::byte> data);
    // The commands that carry the host's window handle.
    platform::LResult sendHandleCommand(Hwnd plugin, std::int32_t code) {
        return send(plugin, code, handleBytes(hwnd_));
    }

    // Everything received so far, in arrival order; take() returns it and starts afresh.
    const std::vector<Received>& received() const { return received_; }
    std::vector<Received> take();
    // Waits (pumping messages) until `done` holds or `timeoutMs` passed; true when it holds.
    bool waitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs);
    // Waits for the next message with that code received after `from` (an index into
    // received()); returns its index, or -1 after the timeout.
    int waitFor(std::int32_t code, std::size_t from, std::uint32_t timeoutMs);

    // The TIFF file image carried by an ImageCaptured(Ex) message in its memory form; empty when
    // the message is another one or its sizes do not add up.
    static std::span<const std::byte> imagePayload(const Received& r);

    // Received images are written to this folder as IMGnnnn.tif (none when empty).
    void setImageFolder(std::string folder) { imageFolder_ = std::move(folder); }
    const std::vector<std::string>& savedImages() const { return savedImages_; }

    // Called for every message as it arrives (the interactive window logs it).
    std::function<void(const Received&)> onReceived;
    // How waiting is done; the default runs the platform's modal loop with a ticking timer.
    std::function<bool(const std::function<bool()>&, std::uint32_t)> waiter;

    platform::LResult windowProc(Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                                 platform::LParam lParam) override;

  private:
    void keep(Received r);
    void saveImage(const Received& r);

    platform::Platform& platform_;
    Hwnd hwnd_ = 0;
    platform::MsgId interfaceMsg_ = 0;
    std::vector<Hwnd> plugins_;
    std::vector<Received> received_;
    std::string imageFolder_;
    std::vector<std::string> savedImages_;
    int imageCounter_ = 0;
};

}  // namespace quilo::testhost
