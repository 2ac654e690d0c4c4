// Basic Windows-shaped types shared by every port of the platform seam.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quilo::platform {

using Hwnd = std::uintptr_t;  // a window handle value; 0 = no window
using WParam = std::uintptr_t;
using LParam = std::intptr_t;
using LResult = std::intptr_t;
using MsgId = std::uint32_t;
using Handle = std::uintptr_t;   // a kernel object handle (file, mailslot, mutex); 0 = none
using HGlobal = std::uintptr_t;  // a global memory handle; 0 = none
using HMonitor = std::uintptr_t;
using ErrorCode = std::uint32_t;  // a Win32 error code as GetLastError returns it

inline constexpr Hwnd kHwndBroadcast = 0xFFFF;

// Window messages the program uses.
namespace wm {
inline constexpr MsgId kNull = 0x0000;
inline constexpr MsgId kCreate = 0x0001;
inline constexpr MsgId kDestroy = 0x0002;
inline constexpr MsgId kMove = 0x0003;
inline constexpr MsgId kSize = 0x0005;
inline constexpr MsgId kActivate = 0x0006;
inline constexpr MsgId kSetFocus = 0x0007;
inline constexpr MsgId kPaint = 0x000F;
inline constexpr MsgId kClose = 0x0010;
inline constexpr MsgId kQuit = 0x0012;
inline constexpr MsgId kCopyData = 0x004A;
inline constexpr MsgId kKeyDown = 0x0100;
inline constexpr MsgId kKeyUp = 0x0101;
inline constexpr MsgId kCommand = 0x0111;
inline constexpr MsgId kSysCommand = 0x0112;
inline constexpr MsgId kTimer = 0x0113;
inline constexpr MsgId kLButtonDown = 0x0201;
inline constexpr MsgId kRButtonDown = 0x0204;
inline constexpr MsgId kUser = 0x0400;
inline constexpr MsgId kApp = 0x8000;
}  // namespace wm

// Win32 error codes the program and the tests look at.
namespace err {
inline constexpr ErrorCode kSuccess = 0;
inline constexpr ErrorCode kFileNotFound = 2;
inline constexpr ErrorCode kPathNotFound = 3;
inline constexpr ErrorCode kAccessDenied = 5;
inline constexpr ErrorCode kInvalidHandle = 6;
inline constexpr ErrorCode kNotEnoughMemory = 8;
inline constexpr ErrorCode kWriteFault = 29;
inline constexpr ErrorCode kFileExists = 80;
inline constexpr ErrorCode kInvalidParameter = 87;
inline constexpr ErrorCode kAlreadyExists = 183;
inline constexpr ErrorCode kMoreData = 234;
inline constexpr ErrorCode kInvalidWindowHandle = 1400;
inline constexpr ErrorCode kNotEnoughQuota = 1816;
}  // namespace err

// The descriptor that WM_COPYDATA's lParam points to; laid out as COPYDATASTRUCT on both
// 32-bit and 64-bit Windows.
struct CopyData {
    std::uintptr_t dwData;
    std::uint32_t cbData;
    void* lpData;
};

struct Point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
    std::int32_t width() const { return right - left; }
    std::int32_t height() const { return bottom - top; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Window handles travel as 32-bit values in host records. Real handles fit in 32 bits even on
// 64-bit Windows (they are shared between 32- and 64-bit processes), so the value is truncated
// on the way out and sign-extended on the way in, exactly as Windows does for WOW64.
constexpr std::int32_t handleToRecord(Hwnd h) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(h & 0xFFFFFFFFu));
}
constexpr Hwnd handleFromRecord(std::int32_t v) {
    return static_cast<Hwnd>(static_cast<std::intptr_t>(v));
}

// Screen mouse pointers (the forms' own are the same numbers).
namespace pointer {
inline constexpr int kDefault = 0;
inline constexpr int kArrow = 1;
inline constexpr int kHourglass = 11;
}  // namespace pointer

}  // namespace quilo::platform
