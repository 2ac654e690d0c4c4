// The scanner vendor's library as the plug-in uses it. One method per operation; text results
// come back as the whole caller buffer (256 characters, 255 for Get_ImageName) exactly as the
// library left it, so each caller applies its own rule (up to the first NUL, or every NUL
// removed). Results are the library's: 0 success, negative an error code.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/types.h"

namespace quilo::scanner {

using Long = std::int32_t;

// The status word of Get_Status.
namespace status {
inline constexpr Long kImageReadyMask = 0xFF;
inline constexpr Long kSlot1 = 0x10000;
inline constexpr Long kSlot2 = 0x40000;
inline constexpr Long kSlot3 = 0x100000;
inline constexpr Long kSlot4 = 0x400000;
inline constexpr Long kPreview = 0x1000000;
inline constexpr Long kTransport = 0x2000000;
inline constexpr Long kSlots[4] = {kSlot1, kSlot2, kSlot3, kSlot4};
}  // namespace status

// Set_Prescanmode arguments.
inline constexpr Long kPreviewLinesOn = 256;
inline constexpr Long kPreviewLinesOff = 0;

using ImageInfoRecord = std::array<std::byte, 108>;

// The fields of the image-information record that the plug-in reads.
struct ImageInfo {
    Long width = 0;
    Long height = 0;
    Long pitchXNm = 0;
    Long pitchYNm = 0;
    int bitsPerPixel = 0;
};
ImageInfo parseImageInfo(const ImageInfoRecord& record);

// The text of a caller buffer up to its first NUL.
std::string untilNul(std::string_view buffer);

class ScannerLibrary {
  public:
    virtual ~ScannerLibrary() = default;

    virtual Long Init_Dll(std::string_view dllName) = 0;
    virtual Long Get_IniFileName(std::string& buffer) = 0;
    virtual Long Set_IniFileName(std::string_view path) = 0;
    virtual Long Get_Paramcount() = 0;
    virtual Long Get_Paramname(std::string& buffer, Long setNumber) = 0;
    virtual Long Open_Scanner(Long setNumber) = 0;
    virtual Long Set_Prescanmode(Long mode) = 0;
    virtual Long Get_Serialnumber(std::string& buffer) = 0;
    virtual Long Get_DriverVersion(std::string& buffer) = 0;
    virtual Long Set_ImageExtraHeader(Long a, Long b) = 0;
    virtual Long Aktivate_Scanner() = 0;
    virtual Long Get_Status() = 0;
    // The picture is a memory block that stays the library's: valid until the next call.
    virtual Long GetPrescanImage(platform::HGlobal& picture, Long& bytes) = 0;
    virtual Long ClearPrescanImage() = 0;
    virtual Long Get_ImageName(std::string& buffer) = 0;
    virtual Long Get_ImageInfo(std::string_view name, ImageInfoRecord& record) = 0;
    // On 0 the caller owns `image` and frees it with GlobalFree.
    virtual Long GetRawImage(std::string_view name, Long width, Long height,
                             platform::HGlobal& image, Long& bytes, Long optimise, Long mappingType,
                             Long limitLow, Long limitHigh) = 0;
    virtual Long Delete_Image(std::string_view name) = 0;
    virtual Long Deaktivate_Scanner() = 0;
    virtual Long Close_Scanner() = 0;
};

}  // namespace quilo::scanner
