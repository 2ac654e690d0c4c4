// Ports: the process (command line, single instance, version record, message boxes, mouse
// pointer, starting programs), sound, clock and dynamic libraries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/types.h"

namespace quilo::platform {

// The program's version record.
struct VersionInfo {
    std::string productName;  // "Quilo Plugin"
    std::string companyName;
    std::string fileDescription;
    std::string title;  // the application title
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// MessageBox styles and answers the program uses.
namespace mb {
inline constexpr std::uint32_t kOk = 0x0000;
inline constexpr std::uint32_t kOkCancel = 0x0001;
inline constexpr std::uint32_t kYesNo = 0x0004;
inline constexpr std::uint32_t kIconError = 0x0010;
inline constexpr std::uint32_t kIconQuestion = 0x0020;
inline constexpr std::uint32_t kIconExclamation = 0x0030;
inline constexpr std::uint32_t kIconInformation = 0x0040;
inline constexpr std::uint32_t kTopmost = 0x40000;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
}  // namespace mb

// Held while this process is the only instance of the program.
class InstanceGuard {
  public:
    virtual ~InstanceGuard() = default;
};

class Process {
  public:
    virtual ~Process() = default;
    virtual std::string commandLine() = 0;  // the arguments, without the program name
    // Null when another process holds the guard of that name.
    virtual std::unique_ptr<InstanceGuard> acquireSingleInstance(std::string_view name) = 0;
    virtual VersionInfo version() = 0;
    // MessageBoxA; returns the button pressed.
    virtual int messageBox(Hwnd owner, std::string_view text, std::string_view caption,
                           std::uint32_t style) = 0;
    virtual void setMousePointer(int pointer) = 0;
    virtual int mousePointer() = 0;
    // Starts another program (ShellExecute / CreateProcess) with a normal focused window.
    virtual bool startProgram(std::string_view path, std::string_view arguments) = 0;
    // The system's text for an error code (FormatMessage).
    virtual std::string errorText(ErrorCode code) = 0;
    // The user locale's decimal separator (what a number such as 0.5 is written with).
    virtual char decimalSeparator() = 0;
};

namespace snd {
inline constexpr std::uint32_t kAsync = 0x0001;
inline constexpr std::uint32_t kNoDefault = 0x0002;
inline constexpr std::uint32_t kAlias = 0x00010000;
}  // namespace snd

class Sound {
  public:
    virtual ~Sound() = default;
    // PlaySoundA(name, NULL, flags).
    virtual bool playSound(std::string_view name, std::uint32_t flags) = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint32_t tickCount() = 0;  // GetTickCount: milliseconds, wraps
    virtual LocalTime localTime() = 0;
};

// A loaded dynamic library; unloaded when destroyed.
class Library {
  public:
    virtual ~Library() = default;
    // GetProcAddress: null when the export is missing.
    virtual void* symbol(std::string_view name) = 0;
};

class Libraries {
  public:
    virtual ~Libraries() = default;
    // LoadLibraryA: null on failure (lastError).
    virtual std::unique_ptr<Library> load(std::string_view path) = 0;
    virtual ErrorCode lastError() = 0;
};

}  // namespace quilo::platform
