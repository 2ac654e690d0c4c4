#include "test-host/host_core.h"

#include <cstring>
#include <string_view>

#include "core/text.h"

namespace quilo::testhost {

namespace {
constexpr std::string_view kInterfaceMessageName = "Kelvora2XrayInterface0";
constexpr std::uintptr_t kWaitTimer = 0x7E57;
constexpr std::int32_t kImageCaptured = 21;
constexpr std::int32_t kImageCapturedEx = 24;

std::int32_t le32(std::span<const std::byte> d, std::size_t at) {
    if (d.size() < at + 4) return 0;
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(d[at + i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}
}  // namespace

Bytes int32Bytes(std::int32_t value) {
    Bytes b(4);
    const auto u = static_cast<std::uint32_t>(value);
    for (std::size_t i = 0; i < 4; ++i)
        b[i] = static_cast<std::byte>((u >> (8 * i)) & 0xFF);
    return b;
}

Bytes handleBytes(Hwnd hwnd) {
    return int32Bytes(platform::handleToRecord(hwnd));
}

Bytes settingsBlock(std::string_view utf8Text) {
    const std::string ansi = utf8ToAnsi(utf8Text);
    const auto textLength = static_cast<std::int32_t>(ansi.size() + 1);
    Bytes b = int32Bytes(12 + textLength);
    b.resize(8, std::byte{0});
    const Bytes len = int32Bytes(textLength);
    b.insert(b.end(), len.begin(), len.end());
    for (char c : ansi)
        b.push_back(static_cast<std::byte>(c));
    b.push_back(std::byte{0});
    return b;
}

HostCore::HostCore(platform::Platform& platform, std::string title) : platform_(platform) {
    interfaceMsg_ = platform_.windows().registerWindowMessage(kInterfaceMessageName);
    platform::WindowSpec spec;
    spec.title = std::move(title);
    spec.rect = {40, 40, 680, 520};
    hwnd_ = platform_.windows().createWindow(spec, this);
    waiter = [this](const std::function<bool()>& done, std::uint32_t timeoutMs) {
        platform::WindowSystem& w = platform_.windows();
        const std::uint32_t start = platform_.clock().tickCount();
        // A ticking timer wakes the modal loop so the timeout is noticed with nothing to do.
        w.setTimer(hwnd_, kWaitTimer, 20);
        const bool ok = w.runModalLoop(
            [&] { return done() || platform_.clock().tickCount() - start >= timeoutMs; });
        w.killTimer(hwnd_, kWaitTimer);
        return ok && done();
    };
}

HostCore::~HostCore() {
    if (hwnd_ != 0) platform_.windows().destroyWindow(hwnd_);
}

void HostCore::enumerate() {
    platform_.windows().sendNotifyMessage(platform::kHwndBroadcast, interfaceMsg_, hwnd_, 0);
}

platform::LResult HostCore::send(Hwnd plugin, std::int32_t code, std::span<const std::byte> data) {
    return sendFrom(hwnd_, plugin, code, data);
}

platform::LResult HostCore::sendFrom(Hwnd sender, Hwnd plugin, std::int32_t code,
                                     std::span<const std::byte> data) {
    Bytes copy(data.begin(), data.end());
    platform::CopyData cd{static_cast<std::uintptr_t>(static_cast<std::uint32_t>(code)),
                          static_cast<std::uint32_t>(copy.size()),
                          copy.empty() ? nullptr : copy.data()};
    return platform_.windows().sendMessage(plugin, platform::wm::kCopyData, sender,
                                           reinterpret_cast<platform::LParam>(&cd));
}

std::vector<Received> HostCore::take() {
    std::vector<Received> out;
    out.swap(received_);
    return out;
}

bool HostCore::waitUntil(const std::function<bool()>& done, std::uint32_t timeoutMs) {
    if (done()) return true;
    return waiter(done, timeoutMs);
}

int HostCore::waitFor(std::int32_t code, std::size_t from, std::uint32_t timeoutMs) {
    int found = -1;
    auto look = [&] {
        for (std::size_t i = from; i < received_.size(); ++i) {
            if (received_[i].code == code) {
                found = static_cast<int>(i);
                return true;
            }
        }
        return false;
    };
    waitUntil(look, timeoutMs);
    return found;
}

void HostCore::keep(Received r) {
    r.atMs = platform_.clock().tickCount();
    received_.push_back(std::move(r));
    const Received& last = received_.back();
    if (last.code == kImageCaptured || last.code == kImageCapturedEx) saveImage(last);
    if (onReceived) onReceived(last);
}

std::span<const std::byte> HostCore::imagePayload(const Received& r) {
    if (r.code != kImageCaptured && r.code != kImageCapturedEx) return {};
    // Memory form: the header (312 or 2376 bytes) followed by the TIFF file image whose
    // length the header gives at offset 308.
    const std::size_t header = r.code == kImageCaptured ? 312 : 2376;
    const std::int32_t length = le32(r.data, 308);
    if (length <= 0 || r.data.size() < header + static_cast<std::size_t>(length)) return {};
    return std::span<const std::byte>(r.data.data() + header, static_cast<std::size_t>(length));
}

void HostCore::saveImage(const Received& r) {
    const auto payload = imagePayload(r);
    if (imageFolder_.empty() || payload.empty()) return;
    const std::string path =
        imageFolder_ + "\\IMG" + std::to_string(10000 + ++imageCounter_).substr(1) + ".tif";
    platform::Files& files = platform_.files();
    files.createDirectories(imageFolder_);
    auto file = files.open(path, platform::OpenMode::CreateAlways);
    if (file && file->write(payload)) savedImages_.push_back(path);
}

platform::LResult HostCore::windowProc(Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                                       platform::LParam lParam) {
    platform::WindowSystem& w = platform_.windows();
    if (msg == interfaceMsg_ && interfaceMsg_ != 0) {
        if (lParam == 1) {
            const auto plugin = static_cast<Hwnd>(wParam);
            bool known = false;
            for (Hwnd h : plugins_)
                known = known || h == plugin;
            if (!known) plugins_.push_back(plugin);
            keep(Received{0, plugin, -1, {}});
            return 1;
        }
        return 0;  // our own enumeration coming back
    }
    if (msg == platform::wm::kCopyData) {
        const platform::CopyData& cd = platform::copyDataOf(lParam);
        Received r;
        r.sender = static_cast<Hwnd>(wParam);
        r.code = static_cast<std::int32_t>(static_cast<std::uint32_t>(cd.dwData));
        if (cd.cbData > 0 && cd.lpData != nullptr) {
            const auto* p = static_cast<const std::byte*>(cd.lpData);
            r.data.assign(p, p + cd.cbData);
        }
        keep(std::move(r));
        return 1;
    }
    if (msg == platform::wm::kTimer && wParam == kWaitTimer) return 0;
    return w.defWindowProc(hwnd, msg, wParam, lParam);
}

}  // namespace quilo::testhost
