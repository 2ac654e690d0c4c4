// XrayIfc: the host protocol as the plug-in speaks it. The vocabulary (the interface message,
// command and status codes and their names), the senders of every outbound message, the
// settings block functions, the status change traces and the ring of pending host commands.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "host/records.h"
#include "imaging/image_control.h"
#include "platform/global_memory.h"
#include "platform/window_system.h"
#include "trace/trace.h"

namespace quilo::host {

using platform::HGlobal;
using platform::Hwnd;

// --- vocabulary ------------------------------------------------------------------------------
inline constexpr std::string_view kInterfaceMessageName = "Kelvora2XrayInterface0";

// lParam of the interface message.
inline constexpr std::int32_t kEnumerateLParam = 0;
inline constexpr std::int32_t kRegisterLParam = 1;
inline constexpr std::int32_t kNextCommandLParam = -1;

namespace cmd {
inline constexpr std::int32_t kEnumeratePlugIns = 0;
inline constexpr std::int32_t kRegisterPlugIn = 1;
inline constexpr std::int32_t kInitializePlugin = 2;
inline constexpr std::int32_t kShutdownPlugin = 3;
inline constexpr std::int32_t kGetInformation = 4;
inline constexpr std::int32_t kGetCapabilities = 5;
inline constexpr std::int32_t kGetStatus = 6;
inline constexpr std::int32_t kActiveSecondsLeft = 7;
inline constexpr std::int32_t kActiveTime = 8;
inline constexpr std::int32_t kActivateSetup = 10;
inline constexpr std::int32_t kGetSettings = 11;
inline constexpr std::int32_t kSetSettings = 12;
inline constexpr std::int32_t kActivateCapture = 20;
inline constexpr std::int32_t kImageCaptured = 21;
inline constexpr std::int32_t kImageStored = 22;
inline constexpr std::int32_t kStopCapture = 23;
inline constexpr std::int32_t kImageCapturedEx = 24;
inline constexpr std::int32_t kGetSensorCount = 30;
inline constexpr std::int32_t kGetSensorInformation = 31;
inline constexpr std::int32_t kGetHWInformation = 32;
}  // namespace cmd

namespace status {
inline constexpr std::int32_t kUninitialized = 0;
inline constexpr std::int32_t kIdle = 16;
inline constexpr std::int32_t kBusy = 32;
inline constexpr std::int32_t kActive = 64;
inline constexpr std::int32_t kError = 0x8000;
}  // namespace status

// Never a status: a handler that leaves it as the new status keeps the status unchanged.
inline constexpr std::int32_t kDontChangeStatusCode = -1;

// Error numbers of the outbound functions.
inline constexpr long kErrHwndInvalid = 1025;
inline constexpr long kErrNoImage = 1026;
inline constexpr long kErrLockFailed = 1027;

// Longest settings text the reader accepts, its NUL included.
inline constexpr std::int32_t kMaxSettingsText = 1024;

std::string CommandName(std::int32_t code);
std::string StatusName(std::int32_t code);
// True for the codes the plug-in takes as incoming commands.
bool isAcceptedCommand(std::int32_t code);

// --- the ring of pending host commands ------------------------------------------------------

// A private copy of a command's data (more than 4 bytes): a moveable zero-filled block, locked
// while it is held and unlocked and freed with its owner.
class DataCopy {
  public:
    DataCopy() = default;
    DataCopy(platform::GlobalMemory& mem, HGlobal block, std::byte* ptr)
        : mem_(&mem), block_(block), ptr_(ptr) {}
    DataCopy(DataCopy&& o) noexcept
        : mem_(o.mem_),
          block_(std::exchange(o.block_, HGlobal{0})),
          ptr_(std::exchange(o.ptr_, nullptr)) {}
    DataCopy& operator=(DataCopy&& o) noexcept;
    DataCopy(const DataCopy&) = delete;
    DataCopy& operator=(const DataCopy&) = delete;
    ~DataCopy() { reset(); }
    void reset();
    HGlobal handle() const { return block_; }
    const std::byte* data() const { return ptr_; }

  private:
    platform::GlobalMemory* mem_ = nullptr;
    HGlobal block_ = 0;
    std::byte* ptr_ = nullptr;
};

struct CommandEntry {
    Hwnd sender = 0;                         // wParam of the WM_COPYDATA
    std::int32_t code = 0;                   // dwData
    std::array<std::byte, 4> inlineBytes{};  // the data bytes themselves when size <= 4
    DataCopy copy;                           // the private copy when size > 4
    std::uint32_t size = 0;                  // cbData

    // The received data, whichever way it is kept.
    std::span<const std::byte> data() const;
    // The first 4 data bytes as a little-endian 32-bit value (missing bytes are zero).
    std::int32_t value() const;
};

class CommandFifo {
  public:
    static constexpr int kSlots = 40;  // one slot stays free: 39 commands wait at most

    explicit CommandFifo(platform::GlobalMemory& mem) : mem_(mem) {}
    // Queues a command with a private copy of its data. False when the ring is full or the
    // copy cannot be made (nothing is then kept).
    bool FifoPut(Hwnd sender, std::int32_t code, std::span<const std::byte> data);
    // Takes the oldest command. `out.code` is -1 first; false when the ring is empty.
    bool FifoGet(CommandEntry& out);
    int count() const { return (write_ - read_ + kSlots) % kSlots; }
    bool empty() const { return write_ == read_; }

  private:
    platform::GlobalMemory& mem_;
    std::array<CommandEntry, kSlots> slots_{};
    int write_ = 0;
    int read_ = 0;
};

// --- settings blocks --------------------------------------------------------------------------
struct SettingsBlockRef {
    std::uint32_t size = 0;
    HGlobal handle = 0;
};

struct OwnedSettingsBlock {
    platform::GlobalBlock block;
    std::uint32_t size = 0;
    SettingsBlockRef ref() const { return {size, block.get()}; }
};

// Builds a SettingsBlock holding `text` (UTF-8, sent as ANSI with its NUL). Nothing when the
// block cannot be allocated or locked. The block belongs to the caller.
std::optional<OwnedSettingsBlock> MakeSettingsBlock(platform::GlobalMemory& mem,
                                                    std::string_view text);
// Reads the 12-byte header of a received block of `size` bytes. Nothing when the block cannot
// be locked or holds fewer than 12 bytes.
std::optional<SettingsHeader> ReadSettingsHeader(platform::GlobalMemory& mem, std::uint32_t size,
                                                 HGlobal handle);
// Reads the settings text (UTF-8) of a received block of `size` bytes. Nothing when the block
// cannot be locked, is shorter than its header, or its text length lies outside 0..1024. The
// copy never reaches beyond the bytes received.
std::optional<std::string> ReadSettingsText(platform::GlobalMemory& mem, std::uint32_t size,
                                            HGlobal handle);

// --- the module -----------------------------------------------------------------------------
// SaveLeadToMemory (one for each image record): the control's bitmap saved as a TIFF file image
// into a new global memory block; on success the record gets the bitmap's width and height and
// the in-memory format code, and `block` and `size` the image. False when the control has no
// bitmap or the memory cannot be had (the record is then unchanged).
template <class Rec>
bool SaveLeadToMemory(Rec& record, platform::GlobalBlock& block, std::uint32_t& size,
                      const imaging::ImageControl& control) {
    if (control.bitmap() == 0) return false;
    platform::GlobalBlock saved = control.saveMemory(imaging::kFormatTiff);
    if (!saved) return false;
    size = static_cast<std::uint32_t>(saved.size());
    block = std::move(saved);
    record.set(Rec::widthPixels, static_cast<std::int32_t>(control.bitmapWidth()));
    record.set(Rec::heightPixels, static_cast<std::int32_t>(control.bitmapHeight()));
    record.set(Rec::dataFormat, kFormatTiffInMemory);
    return true;
}

class XrayIfc {
  public:
    XrayIfc(platform::WindowSystem& windows, platform::GlobalMemory& memory, trace::Trace& trace)
        : windows_(windows), memory_(memory), trace_(trace), fifo_(memory) {}

    // The registered interface message, registered on first use.
    platform::MsgId GetInterfaceMessage();

    // Broadcasts the RegisterPlugIn announcement for `hWnd` without waiting for the receivers.
    // RuntimeError 1025 when hWnd is 0.
    platform::LResult SendRegisterPlugIn(Hwnd hWnd);

    platform::LResult SendInformation(Hwnd dest, Hwnd src, const InformationRecord& record);
    platform::LResult SendCapabilities(Hwnd dest, Hwnd src, const CapabilitiesRecord& record);
    platform::LResult SendStatus(Hwnd dest, Hwnd src, const StatusRecord& record);
    platform::LResult ExSendStatus(Hwnd dest, Hwnd src, const ExStatusRecord& record);
    platform::LResult SendSensorCount(Hwnd dest, Hwnd src, const SensorCountRecord& record);
    platform::LResult SendSensorInformation(Hwnd dest, Hwnd src, const SensorInfoRecord& record);
    platform::LResult SendSecondsLeft(Hwnd dest, Hwnd src, std::int32_t seconds);
    // Sends a settings block as the answer to GetSettings (code 11) or unasked (code 12).
    // RuntimeError 1025 for a zero window, 1027 when the block cannot be locked.
    platform::LResult SendSettings(Hwnd dest, Hwnd src, SettingsBlockRef block, bool IsAnswer);
    // Image messages. With an empty file name the image goes in memory form: one block of the
    // record's header and the `size` bytes of `hMem`, which stays the caller's. RuntimeError
    // 1025 for a zero window, 1026 with neither a file name nor a memory block. 0 when a block
    // cannot be allocated or locked, or `hMem` holds fewer than `size` bytes.
    platform::LResult SendImageCaptured(Hwnd dest, Hwnd src, ImageRecord& record,
                                        std::string_view fileName, HGlobal hMem,
                                        std::uint32_t size);
    platform::LResult SendImageCapturedEx(Hwnd dest, Hwnd src, ImageExRecord& record,
                                          std::string_view fileName, HGlobal hMem,
                                          std::uint32_t size, std::string_view text1,
                                          std::string_view text2);

    CommandFifo& fifo() { return fifo_; }
    platform::GlobalMemory& memory() { return memory_; }
    platform::WindowSystem& windows() { return windows_; }

  private:
    platform::LResult sendCopyData(Hwnd dest, Hwnd src, std::int32_t code,
                                   std::span<const std::byte> data);
    template <class Rec>
    platform::LResult sendImage(Hwnd dest, Hwnd src, Rec& record, std::int32_t code,
                                std::string_view fileName, HGlobal hMem, std::uint32_t size);

    platform::WindowSystem& windows_;
    platform::GlobalMemory& memory_;
    trace::Trace& trace_;
    platform::MsgId interfaceMessage_ = 0;
    CommandFifo fifo_;
    // The last status records sent; they only decide whether a send is traced as a change.
    struct StatusCache {
        StatusRecord status;
        ExStatusRecord exStatus;
    } statusCache_;
};

}  // namespace quilo::host
