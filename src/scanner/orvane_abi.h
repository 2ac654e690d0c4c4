// The scanner library's exported functions as C function types. The deployment build is 32-bit
// and the library uses the stdcall convention there with undecorated names; on 64-bit Windows
// and on Linux there is only one calling convention. Texts are ANSI (Windows-1252).
//
// Values that carry a global memory handle (the preview picture, the raw image) are
// pointer-sized: 32 bits in the deployment build, wide enough for a handle on 64-bit Windows.
#pragma once

#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define ORVANE_CALL __stdcall
#else
#define ORVANE_CALL
#endif

namespace quilo::scanner::abi {

using Long = std::int32_t;
using HandleOut = std::intptr_t;

inline constexpr int kTextBuffer = 256;       // caller buffer of every text result
inline constexpr int kImageNameBuffer = 255;  // caller buffer of Get_ImageName
inline constexpr int kImageInfoBytes = 108;   // Get_ImageInfo's record

using Init_Dll = Long(ORVANE_CALL*)(const char* dllName);
using Get_IniFileName = Long(ORVANE_CALL*)(char* buffer);
using Set_IniFileName = Long(ORVANE_CALL*)(const char* path);
using Get_Paramcount = Long(ORVANE_CALL*)();
using Get_Paramname = Long(ORVANE_CALL*)(char* buffer, Long setNumber);
using Open_Scanner = Long(ORVANE_CALL*)(Long setNumber);
using Set_Prescanmode = Long(ORVANE_CALL*)(Long mode);
using Get_Serialnumber = Long(ORVANE_CALL*)(char* buffer);
using Get_DriverVersion = Long(ORVANE_CALL*)(char* buffer);
using Set_ImageExtraHeader = Long(ORVANE_CALL*)(Long a, Long b);
using Aktivate_Scanner = Long(ORVANE_CALL*)();
using Get_Status = Long(ORVANE_CALL*)();
using GetPrescanImage = Long(ORVANE_CALL*)(HandleOut* picture, Long* bytes);
using ClearPrescanImage = Long(ORVANE_CALL*)();
using Get_ImageName = Long(ORVANE_CALL*)(char* buffer);
using Get_ImageInfo = Long(ORVANE_CALL*)(const char* name, unsigned char* record);
using GetRawImage = Long(ORVANE_CALL*)(const char* name, Long width, Long height, HandleOut* image,
                                       Long* bytes, Long optimise, Long mappingType, Long limitLow,
                                       Long limitHigh);
using Delete_Image = Long(ORVANE_CALL*)(const char* name);
using Deaktivate_Scanner = Long(ORVANE_CALL*)();
using Close_Scanner = Long(ORVANE_CALL*)();

// Every export the plug-in calls, in the order the binding resolves them.
inline constexpr const char* kExportNames[] = {
    "Init_Dll",          "Get_IniFileName",      "Set_IniFileName",    "Get_Paramcount",
    "Get_Paramname",     "Open_Scanner",         "Set_Prescanmode",    "Get_Serialnumber",
    "Get_DriverVersion", "Set_ImageExtraHeader", "Aktivate_Scanner",   "Get_Status",
    "GetPrescanImage",   "ClearPrescanImage",    "Get_ImageName",      "Get_ImageInfo",
    "GetRawImage",       "Delete_Image",         "Deaktivate_Scanner", "Close_Scanner",
};
inline constexpr int kExportCount = sizeof(kExportNames) / sizeof(kExportNames[0]);

// The library's other exports; the plug-in does not call them.
inline constexpr const char* kOtherExportNames[] = {
    "Get_Prescanline",       "Ext_ScannerCTRL",      "Get_ImageExtraHeader",
    "Read_DiskImage",        "Opt_ImageGreyscale",   "Invert_Image",
    "Get_FirstOldImageName", "Get_NextOldImageName", "Run_Beltdrive",
};

}  // namespace quilo::scanner::abi
