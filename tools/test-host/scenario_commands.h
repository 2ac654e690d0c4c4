// The host command codes the scenarios send and check, and where the plug-in keeps its
// machine-wide options.
#pragma once

#include <cstdint>

namespace quilo::testhost {

inline constexpr std::int32_t kInitializePlugin = 2;
inline constexpr std::int32_t kShutdownPlugin = 3;
inline constexpr std::int32_t kGetInformation = 4;
inline constexpr std::int32_t kGetCapabilities = 5;
inline constexpr std::int32_t kGetStatus = 6;
inline constexpr std::int32_t kSetSettings = 12;
inline constexpr std::int32_t kGetSensorCount = 30;
inline constexpr std::int32_t kGetSensorInformation = 31;
inline constexpr std::int32_t kAnnouncement = -1;
inline constexpr std::int32_t kActivateCapture = 20;
inline constexpr std::int32_t kImageStored = 22;
inline constexpr std::int32_t kStopCapture = 23;
inline constexpr std::int32_t kImageCapturedEx = 24;

// The plug-in's machine-wide options, where the host and the plug-in both find them.
inline constexpr const char* kOptionsKey = "SOFTWARE\\Kelvora AB\\Plugins\\Quilo Plugin\\Options";

}  // namespace quilo::testhost
