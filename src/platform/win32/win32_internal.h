// Shared by the translation units of the Win32 backend, one per port; nothing outside win32/
// includes it.
#pragma once

#include <windows.h>

#include <memory>

#include "platform/platform.h"
#include "platform/win32/text.h"

namespace quilo::platform::win32 {

inline HWND toHwnd(Hwnd h) {
    return reinterpret_cast<HWND>(h);
}
inline Hwnd fromHwnd(HWND h) {
    return reinterpret_cast<Hwnd>(h);
}
inline HANDLE toHandle(Handle h) {
    return reinterpret_cast<HANDLE>(h);
}
inline Handle fromHandle(HANDLE h) {
    return reinterpret_cast<Handle>(h);
}

inline LocalTime toLocalTime(const SYSTEMTIME& st) {
    return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

// The ports, each made in its own file; the Platform (platform.cpp) groups them.
std::unique_ptr<WindowSystem> makeWindowSystem();
std::unique_ptr<GlobalMemory> makeMemory();
std::unique_ptr<Registry> makeRegistry();
std::unique_ptr<Profile> makeProfile();
std::unique_ptr<Mailslots> makeMailslots();
std::unique_ptr<Files> makeFiles();
std::unique_ptr<Display> makeDisplay();
std::unique_ptr<Process> makeProcess(Files& files);
std::unique_ptr<Sound> makeSound();
std::unique_ptr<Clock> makeClock();
std::unique_ptr<Libraries> makeLibraries();

}  // namespace quilo::platform::win32
