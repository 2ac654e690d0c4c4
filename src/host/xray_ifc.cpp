#include "host/xray_ifc.h"

#include <algorithm>
#include <cstring>

#include "core/error.h"
#include "core/text.h"

namespace quilo::host {

namespace {

// The extended status text as traced: the 122 units of the record, padding included.
std::string exStatusText(const ExStatusRecord& r) {
    return utf16ToUtf8(r.get(ExStatusRecord::infoText));
}

}  // namespace

std::string ansiFieldToUtf8(std::span<const std::byte> field) {
    std::string ansi;
    for (std::byte b : field) {
        if (b == std::byte{0}) break;
        ansi += static_cast<char>(b);
    }
    return ansiToUtf8(ansi);
}

void utf8ToAnsiField(std::span<std::byte> field, std::string_view utf8) {
    std::fill(field.begin(), field.end(), std::byte{0});
    const std::string ansi = utf8ToAnsi(utf8);
    std::memcpy(field.data(), ansi.data(), std::min(ansi.size(), field.size()));
}

// --- vocabulary ------------------------------------------------------------------------------

std::string CommandName(std::int32_t code) {
    switch (code) {
        case cmd::kEnumeratePlugIns:
            return "EnumeratePlugIns";
        case cmd::kRegisterPlugIn:
            return "RegisterPlugIn";
        case cmd::kInitializePlugin:
            return "InitializePlugin";
        case cmd::kShutdownPlugin:
            return "ShutdownPlugin";
        case cmd::kGetInformation:
            return "GetInformation";
        case cmd::kGetCapabilities:
            return "GetCapabilities";
        case cmd::kGetStatus:
            return "GetStatus";
        case cmd::kActiveSecondsLeft:
            return "ActiveSecondsLeft";
        case cmd::kActiveTime:
            return "ActiveTime";
        case cmd::kActivateSetup:
            return "ActivateSetup";
        case cmd::kGetSettings:
            return "GetSettings";
        case cmd::kSetSettings:
            return "SetSettings";
        case cmd::kActivateCapture:
            return "ActivateCapture";
        case cmd::kImageCaptured:
            return "ImageCaptured";
        case cmd::kImageStored:
            return "ImageStored";
        case cmd::kStopCapture:
            return "StopCapture";
        case cmd::kImageCapturedEx:
            return "ImageCapturedEx";
        case cmd::kGetSensorCount:
            return "GetSensorCount";
        case cmd::kGetSensorInformation:
            return "GetSensorInformation";
        case cmd::kGetHWInformation:
            return "GetHWInformation";
        default:
            return "* U-N-K-N-O-W-N *";
    }
}

std::string StatusName(std::int32_t code) {
    switch (code) {
        case status::kUninitialized:
            return "Un-Initialized";
        case status::kIdle:
            return "Idle";
        case status::kBusy:
            return "Busy";
        case status::kActive:
            return "Active";
        case status::kError:
            return "Error(undef)";
        default:
            return "Undefined status code";
    }
}

bool isAcceptedCommand(std::int32_t code) {
    switch (code) {
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 10:
        case 11:
        case 12:
        case 20:
        case 22:
        case 23:
        case 30:
        case 31:
            return true;
        default:
            return false;
    }
}

// --- the command ring ------------------------------------------------------------------------

DataCopy& DataCopy::operator=(DataCopy&& o) noexcept {
    if (this != &o) {
        reset();
        mem_ = o.mem_;
        block_ = std::exchange(o.block_, HGlobal{0});
        ptr_ = std::exchange(o.ptr_, nullptr);
    }
    return *this;
}

void DataCopy::reset() {
    if (block_ && mem_) {
        if (ptr_) mem_->unlock(block_);
        mem_->free(block_);
    }
    block_ = 0;
    ptr_ = nullptr;
}

std::span<const std::byte> CommandEntry::data() const {
    if (size > 4) {
        return copy.data() ? std::span<const std::byte>(copy.data(), size)
                           : std::span<const std::byte>();
    }
    return {inlineBytes.data(), size};
}

std::int32_t CommandEntry::value() const {
    std::array<std::byte, 4> b{};
    const auto d = data();
    std::memcpy(b.data(), d.data(), std::min<std::size_t>(4, d.size()));
    return getLE32(b.data());
}

bool CommandFifo::FifoPut(Hwnd sender, std::int32_t code, std::span<const std::byte> data) {
    const int next = (write_ + 1) % kSlots;
    if (next == read_) return false;
    CommandEntry entry;
    entry.sender = sender;
    entry.code = code;
    entry.size = static_cast<std::uint32_t>(data.size());
    if (data.size() > 4) {
        platform::GlobalBlock block = platform::GlobalBlock::allocate(mem_, data.size());
        if (!block) return false;
        auto* p = static_cast<std::byte*>(mem_.lock(block.get()));
        if (!p) return false;  // the block is freed by its owner
        std::memcpy(p, data.data(), data.size());
        entry.copy = DataCopy(mem_, block.release(), p);
    } else {
        // The bytes themselves; the unused upper bytes stay zero.
        if (!data.empty()) std::memcpy(entry.inlineBytes.data(), data.data(), data.size());
    }
    slots_[static_cast<std::size_t>(next)] = std::move(entry);
    write_ = next;
    return true;
}

bool CommandFifo::FifoGet(CommandEntry& out) {
    out.code = -1;
    if (write_ == read_) return false;
    read_ = (read_ + 1) % kSlots;
    out = std::move(slots_[static_cast<std::size_t>(read_)]);
    slots_[static_cast<std::size_t>(read_)] = CommandEntry{};
    return true;
}

// --- settings blocks --------------------------------------------------------------------------

std::optional<OwnedSettingsBlock> MakeSettingsBlock(platform::GlobalMemory& mem,
                                                    std::string_view text) {
    const std::string ansi = utf8ToAnsi(text);
    const std::size_t total = SettingsHeader::kSize + ansi.size() + 1;
    OwnedSettingsBlock out;
    out.block = platform::GlobalBlock::allocate(mem, total);
    if (!out.block) return std::nullopt;
    platform::GlobalLock lock(mem, out.block.get());
    if (!lock) return std::nullopt;  // the block is freed with `out`
    SettingsHeader h;
    h.set(SettingsHeader::totalSize, static_cast<std::int32_t>(total));
    h.set(SettingsHeader::streamFlag, false);
    h.set(SettingsHeader::textLength, static_cast<std::int32_t>(ansi.size() + 1));
    std::memcpy(lock.data(), h.bytes().data(), SettingsHeader::kSize);
    std::memcpy(lock.data() + SettingsHeader::kSize, ansi.data(), ansi.size());
    lock.data()[total - 1] = std::byte{0};
    out.size = static_cast<std::uint32_t>(total);
    return out;
}

namespace {

// The number of bytes of a received block that may be read: what was received, and never
// more than the block holds.
std::size_t readableBytes(platform::GlobalMemory& mem, std::uint32_t size, HGlobal handle) {
    return std::min<std::size_t>(size, mem.size(handle));
}

}  // namespace

std::optional<SettingsHeader> ReadSettingsHeader(platform::GlobalMemory& mem, std::uint32_t size,
                                                 HGlobal handle) {
    if (!handle) return std::nullopt;
    platform::GlobalLock lock(mem, handle);
    if (!lock) return std::nullopt;
    const std::size_t n = readableBytes(mem, size, handle);
    if (n < SettingsHeader::kSize) return std::nullopt;
    SettingsHeader h;
    h.assign(std::span<const std::byte>(lock.data(), SettingsHeader::kSize));
    return h;
}

std::optional<std::string> ReadSettingsText(platform::GlobalMemory& mem, std::uint32_t size,
                                            HGlobal handle) {
    if (!handle) return std::nullopt;
    platform::GlobalLock lock(mem, handle);
    if (!lock) return std::nullopt;
    const std::size_t n = readableBytes(mem, size, handle);
    if (n < SettingsHeader::kSize) return std::nullopt;
    SettingsHeader h;
    h.assign(std::span<const std::byte>(lock.data(), SettingsHeader::kSize));
    const std::int32_t len = h.get(SettingsHeader::textLength);
    if (len < 0 || len > kMaxSettingsText) return std::nullopt;
    // A text length beyond the data received is read only as far as the data goes. A text of
    // the full 1024 bytes without a NUL is taken whole.
    const std::size_t take =
        std::min<std::size_t>(static_cast<std::size_t>(len), n - SettingsHeader::kSize);
    std::array<std::byte, kMaxSettingsText> buffer{};
    std::memcpy(buffer.data(), lock.data() + SettingsHeader::kSize, take);
    return ansiFieldToUtf8(buffer);
}

// --- senders ---------------------------------------------------------------------------------

platform::MsgId XrayIfc::GetInterfaceMessage() {
    if (interfaceMessage_ == 0)
        interfaceMessage_ = windows_.registerWindowMessage(kInterfaceMessageName);
    return interfaceMessage_;
}

platform::LResult XrayIfc::SendRegisterPlugIn(Hwnd hWnd) {
    if (hWnd == 0) {
        throw RuntimeError(kErrHwndInvalid, "Source Or Destination hWnd invalid",
                           "XrayIfc.SendRegisterPlugIn");
    }
    return windows_.sendNotifyMessage(platform::kHwndBroadcast, GetInterfaceMessage(), hWnd,
                                      kRegisterLParam)
               ? 1
               : 0;
}

platform::LResult XrayIfc::sendCopyData(Hwnd dest, Hwnd src, std::int32_t code,
                                        std::span<const std::byte> data) {
    platform::CopyData cd{static_cast<std::uintptr_t>(static_cast<std::uint32_t>(code)),
                          static_cast<std::uint32_t>(data.size()),
                          const_cast<std::byte*>(data.data())};
    return windows_.sendMessage(dest, platform::wm::kCopyData, src,
                                reinterpret_cast<platform::LParam>(&cd));
}

platform::LResult XrayIfc::SendInformation(Hwnd dest, Hwnd src, const InformationRecord& record) {
    const InformationRecord copy = record;
    return sendCopyData(dest, src, cmd::kGetInformation, copy.bytes());
}

platform::LResult XrayIfc::SendCapabilities(Hwnd dest, Hwnd src, const CapabilitiesRecord& record) {
    CapabilitiesRecord copy = record;
    copy.set(CapabilitiesRecord::size, CapabilitiesRecord::kSize);
    return sendCopyData(dest, src, cmd::kGetCapabilities, copy.bytes());
}

platform::LResult XrayIfc::SendStatus(Hwnd dest, Hwnd src, const StatusRecord& record) {
    StatusRecord copy = record;
    copy.set(StatusRecord::size, StatusRecord::kSize);
    const platform::LResult answer = sendCopyData(dest, src, cmd::kGetStatus, copy.bytes());
    StatusRecord& last = statusCache_.status;
    if (copy.get(StatusRecord::statusCode) != last.get(StatusRecord::statusCode) ||
        copy.get(StatusRecord::dialogActive) != last.get(StatusRecord::dialogActive)) {
        last = copy;
        const bool dlg = copy.get(StatusRecord::dialogActive);
        trace_.TraceLine(
            "XrayIfc:SendStatus(changed):" + StatusName(copy.get(StatusRecord::statusCode)) +
            (dlg ? "(dlg) result=" : " result=") + std::to_string(answer));
    }
    return answer;
}

platform::LResult XrayIfc::ExSendStatus(Hwnd dest, Hwnd src, const ExStatusRecord& record) {
    ExStatusRecord copy = record;
    copy.set(ExStatusRecord::size, ExStatusRecord::kSize);
    const platform::LResult answer = sendCopyData(dest, src, cmd::kGetStatus, copy.bytes());
    ExStatusRecord& last = statusCache_.exStatus;
    if (copy.get(ExStatusRecord::statusCode) != last.get(ExStatusRecord::statusCode) ||
        copy.get(ExStatusRecord::dialogActive) != last.get(ExStatusRecord::dialogActive) ||
        copy.get(ExStatusRecord::infoText) != last.get(ExStatusRecord::infoText)) {
        last = copy;
        const bool dlg = copy.get(ExStatusRecord::dialogActive);
        trace_.TraceLine(
            "XrayIfc:ExSendStatus(changed):" + StatusName(copy.get(ExStatusRecord::statusCode)) +
            (dlg ? "(dlg) '" : " '") + exStatusText(copy) + "' result=" + std::to_string(answer));
    }
    return answer;
}

platform::LResult XrayIfc::SendSensorCount(Hwnd dest, Hwnd src, const SensorCountRecord& record) {
    const SensorCountRecord copy = record;
    return sendCopyData(dest, src, cmd::kGetSensorCount, copy.bytes());
}

platform::LResult XrayIfc::SendSensorInformation(Hwnd dest, Hwnd src,
                                                 const SensorInfoRecord& record) {
    const SensorInfoRecord copy = record;
    return sendCopyData(dest, src, cmd::kGetSensorInformation, copy.bytes());
}

platform::LResult XrayIfc::SendSecondsLeft(Hwnd dest, Hwnd src, std::int32_t seconds) {
    SecondsLeftRecord r;
    r.set(SecondsLeftRecord::size, SecondsLeftRecord::kSize);
    r.set(SecondsLeftRecord::seconds, seconds);
    return sendCopyData(dest, src, cmd::kActiveSecondsLeft, r.bytes());
}

platform::LResult XrayIfc::SendSettings(Hwnd dest, Hwnd src, SettingsBlockRef block,
                                        bool IsAnswer) {
    if (dest == 0 || src == 0) {
        throw RuntimeError(kErrHwndInvalid,
                           "XrayIfc.SendSettings:Source Or Destination hWnd invalid",
                           "XrayIfc.SendSettings");
    }
    platform::GlobalLock lock(memory_, block.handle);
    if (!lock) {
        throw RuntimeError(kErrLockFailed, "XrayIfc.SendSettings:GlobalLock failed.",
                           "XrayIfc.SendSettings");
    }
    const std::size_t n = std::min<std::size_t>(block.size, memory_.size(block.handle));
    return sendCopyData(dest, src, IsAnswer ? cmd::kGetSettings : cmd::kSetSettings,
                        std::span<const std::byte>(lock.data(), n));
}

template <class Rec>
platform::LResult XrayIfc::sendImage(Hwnd dest, Hwnd src, Rec& record, std::int32_t code,
                                     std::string_view fileName, HGlobal hMem, std::uint32_t size) {
    if (!fileName.empty()) {
        // The file form: the record names the file and goes whole.
        record.set(Rec::size, static_cast<std::int32_t>(Rec::kSize));
        record.set(Rec::fileName, fileName);
        const Rec copy = record;
        return sendCopyData(dest, src, code, copy.bytes());
    }
    constexpr std::size_t h = Rec::kHeaderBytes;
    const std::size_t total = h + size;
    if (total > static_cast<std::size_t>(INT32_MAX)) return 0;
    if (memory_.size(hMem) < size) return 0;  // never read past the image block
    record.set(Rec::size, static_cast<std::int32_t>(total));
    record.set(Rec::dataBytes, static_cast<std::int32_t>(size));
    // Not zeroed: the record's head and the image fill it.
    platform::GlobalBlock message =
        platform::GlobalBlock::allocate(memory_, total, platform::gmem::kMoveable);
    if (!message) return 0;
    platform::GlobalLock out(memory_, message.get());
    if (!out) return 0;
    std::memcpy(out.data(), record.bytes().data(), h);
    {
        platform::GlobalLock image(memory_, hMem);
        if (!image) return 0;
        std::memcpy(out.data() + h, image.data(), size);
    }
    return sendCopyData(dest, src, code, std::span<const std::byte>(out.data(), total));
}

platform::LResult XrayIfc::SendImageCaptured(Hwnd dest, Hwnd src, ImageRecord& record,
                                             std::string_view fileName, HGlobal hMem,
                                             std::uint32_t size) {
    if (dest == 0 || src == 0) {
        throw RuntimeError(kErrHwndInvalid,
                           "xrayIfc.SendImageCaptured() Source Or Destination hWnd invalid",
                           "XrayIfc.SendImageCaptured");
    }
    if (fileName.empty() && hMem == 0) {
        throw RuntimeError(kErrNoImage, "No FileName OR lMemImg supplied",
                           "XrayIfc.SendImageCaptured");
    }
    return sendImage(dest, src, record, cmd::kImageCaptured, fileName, hMem, size);
}

platform::LResult XrayIfc::SendImageCapturedEx(Hwnd dest, Hwnd src, ImageExRecord& record,
                                               std::string_view fileName, HGlobal hMem,
                                               std::uint32_t size, std::string_view text1,
                                               std::string_view text2) {
    if (dest == 0 || src == 0) {
        throw RuntimeError(kErrHwndInvalid,
                           "xrayIfc.SendImageCapturedEx() Source Or Destination hWnd invalid",
                           "XrayIfc.SendImageCapturedEx");
    }
    if (fileName.empty() && hMem == 0) {
        throw RuntimeError(kErrNoImage, "No FileName OR lMemImg supplied",
                           "XrayIfc.SendImageCapturedEx");
    }
    record.set(ImageExRecord::text1, text1);
    record.set(ImageExRecord::text2, text2);
    return sendImage(dest, src, record, cmd::kImageCapturedEx, fileName, hMem, size);
}

}  // namespace quilo::host
