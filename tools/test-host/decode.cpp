#include "test-host/decode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "core/text.h"

namespace quilo::testhost {

namespace {

std::int32_t i32(std::span<const std::byte> d, std::size_t at) {
    if (d.size() < at + 4) return 0;
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(d[at + i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}

std::int16_t i16(std::span<const std::byte> d, std::size_t at) {
    if (d.size() < at + 2) return 0;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(
        static_cast<unsigned>(d[at]) | (static_cast<unsigned>(d[at + 1]) << 8)));
}

std::string ansi(std::span<const std::byte> d, std::size_t at, std::size_t width) {
    std::string s;
    for (std::size_t i = at; i < at + width && i < d.size() && d[i] != std::byte{0}; ++i)
        s.push_back(static_cast<char>(d[i]));
    return ansiToUtf8(s);
}

std::string utf16(std::span<const std::byte> d, std::size_t at, std::size_t units) {
    std::u16string s;
    for (std::size_t i = 0; i < units; ++i)
        s.push_back(static_cast<char16_t>(static_cast<std::uint16_t>(i16(d, at + 2 * i))));
    while (!s.empty() && s.back() == u' ')
        s.pop_back();
    return utf16ToUtf8(s);
}

std::string statusName(std::int32_t code) {
    switch (code) {
        case 0:
            return "Un-Initialized";
        case 16:
            return "Idle";
        case 32:
            return "Busy";
        case 64:
            return "Active";
        case 0x8000:
            return "Error(undef)";
        default:
            return "Undefined status code";
    }
}

std::string flag(std::int16_t v) {
    return v == 0 ? "0" : (v == -1 ? "-1" : std::to_string(v));
}

}  // namespace

std::string commandLabel(std::int32_t code) {
    const char* name = "* U-N-K-N-O-W-N *";
    switch (code) {
        case -1:
            return "RegisterPlugIn announcement";
        case 2:
            name = "InitializePlugin";
            break;
        case 3:
            name = "ShutdownPlugin";
            break;
        case 4:
            name = "GetInformation";
            break;
        case 5:
            name = "GetCapabilities";
            break;
        case 6:
            name = "GetStatus";
            break;
        case 7:
            name = "ActiveSecondsLeft";
            break;
        case 10:
            name = "ActivateSetup";
            break;
        case 11:
            name = "GetSettings";
            break;
        case 12:
            name = "SetSettings";
            break;
        case 20:
            name = "ActivateCapture";
            break;
        case 21:
            name = "ImageCaptured";
            break;
        case 22:
            name = "ImageStored";
            break;
        case 23:
            name = "StopCapture";
            break;
        case 24:
            name = "ImageCapturedEx";
            break;
        case 30:
            name = "GetSensorCount";
            break;
        case 31:
            name = "GetSensorInformation";
            break;
        default:
            break;
    }
    return std::string(name) + "(" + std::to_string(code) + ")";
}

std::string decodeRecord(std::int32_t code, std::span<const std::byte> d) {
    const std::string head = commandLabel(code) + " " + std::to_string(d.size()) + " bytes: ";
    switch (code) {
        case -1:
            return commandLabel(code);
        case 4:
            return head + "size=" + std::to_string(i32(d, 0)) +
                   " kind=" + std::to_string(i32(d, 4)) + " value8=" + std::to_string(i32(d, 8)) +
                   " product=\"" + ansi(d, 16, 64) + "\" path=\"" + ansi(d, 80, 256) + "\"";
        case 5: {
            std::string s = head + "size=" + std::to_string(i32(d, 0)) + " flags=";
            for (std::size_t at = 8; at < 20; at += 2)
                s += flag(i16(d, at)) + (at < 18 ? "," : "");
            return s;
        }
        case 6:
            if (d.size() == 256)
                return head + "status=" + std::to_string(i32(d, 4)) + " " + statusName(i32(d, 4)) +
                       " dialog=" + flag(i16(d, 8)) + " text=\"" + utf16(d, 10, 122) + "\"";
            return head + "status=" + std::to_string(i32(d, 4)) + " " + statusName(i32(d, 4)) +
                   " dialog=" + flag(i16(d, 8));
        case 7:
            return head + "seconds left=" + std::to_string(i32(d, 4));
        case 11:
        case 12:
            return head + "text=\"" + ansi(d, 12, d.size() > 12 ? d.size() - 12 : 0) + "\"";
        case 30:
            return head + "sensors=" + std::to_string(i32(d, 4));
        case 31:
            return head + "sensor=" + std::to_string(i32(d, 4)) +
                   " kind=" + std::to_string(i32(d, 8)) + " name=\"" + ansi(d, 16, 64) +
                   "\" tool=" + flag(i16(d, 80)) + " value88=" + std::to_string(i32(d, 88)) +
                   " text=\"" + ansi(d, 92, 64) + "\" description=\"" + ansi(d, 156, 64) + "\"";
        case 21:
        case 24: {
            char mm[64] = "";
            if (d.size() >= 32) {
                double w = 0, h = 0;
                std::memcpy(&w, d.data() + 16, 8);
                std::memcpy(&h, d.data() + 24, 8);
                std::snprintf(mm, sizeof mm, " (%.1f x %.1f mm)", w, h);
            }
            std::string s = head + "image id=" + std::to_string(i32(d, 4)) + " " +
                            std::to_string(i32(d, 8)) + "x" + std::to_string(i32(d, 12)) + mm +
                            " sensor=" + std::to_string(i32(d, 44)) +
                            " format=" + std::to_string(i32(d, 48)) +
                            " data=" + std::to_string(i32(d, 308)) + " bytes";
            if (code == 24 && d.size() >= 2376) s += " text=\"" + ansi(d, 1352, 1024) + "\"";
            return s;
        }
        default:
            return head + hexDump(d.first(std::min<std::size_t>(d.size(), 32)));
    }
}

std::string hexDump(std::span<const std::byte> d) {
    std::string s;
    char buf[4];
    for (std::size_t i = 0; i < d.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(d[i]));
        if (i > 0) s += (i % 16 == 0) ? "\n" : " ";
        s += buf;
    }
    return s;
}

}  // namespace quilo::testhost
