// Real input for the Windows end-to-end programs and the test host: a left click and a key
// press through the system's input queue, as a user's hand makes them.
#pragma once

#include <windows.h>

#include <functional>

namespace quilo::e2e {

// A left click at (x, y) of `window`. The pointer is moved there first and the move let through
// (`pumpUntil` lets the caller's messages run until its condition holds): pending pointer motion
// could otherwise still place the press at the old spot. Each event carries the position itself.
inline void leftClick(HWND window, int x, int y,
                      const std::function<void(const std::function<bool()>&)>& pumpUntil) {
    POINT pt{x, y};
    ClientToScreen(window, &pt);
    SetCursorPos(pt.x, pt.y);
    pumpUntil([&] {
        POINT now{};
        return GetCursorPos(&now) && now.x == pt.x && now.y == pt.y;
    });
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    INPUT in[2]{};
    for (INPUT& e : in) {
        e.type = INPUT_MOUSE;
        e.mi.dx = MulDiv(pt.x, 65535, cx - 1);
        e.mi.dy = MulDiv(pt.y, 65535, cy - 1);
    }
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_LEFTUP;
    SendInput(2, in, sizeof(INPUT));
}

// A key pressed and released; false when the system did not take both events.
inline bool pressKey(WORD key) {
    INPUT in[2]{};
    for (INPUT& e : in) {
        e.type = INPUT_KEYBOARD;
        e.ki.wVk = key;
    }
    in[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, in, sizeof(INPUT)) == 2;
}

}  // namespace quilo::e2e
