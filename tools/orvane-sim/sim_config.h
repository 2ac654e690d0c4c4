// The simulated scanner's INI file: who made it, its parameter sets, how plates arrive and how
// long each step takes, and the fault script. Every key and its default is in docs/scanner.md.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orvane-sim/device_environment.h"
#include "orvane-sim/phantom.h"

namespace quilo::orvanesim {

struct ParameterSet {
    std::string name;
    PlateKind kind = PlateKind::Intraoral;
    int widthMm10 = 310;  // plate size in tenths of a millimetre
    int heightMm10 = 410;
    int pitchNm = 25000;      // pixel pitch
    bool unreadable = false;  // Get_Paramname fails for this set
    int widthPx() const;
    int heightPx() const;
};

// One failure of the fault script: the nth call of an export (counted since the library was
// loaded) returns `result` and does nothing else.
struct CallFault {
    std::string exportName;
    int nth = 0;
    std::int32_t result = 0;
    friend bool operator==(const CallFault&, const CallFault&) = default;
};

struct SimConfig {
    // [Scanner]
    std::string maker;
    std::string model;
    std::string serial;
    std::string driverVersion;
    std::vector<ParameterSet> sets;
    // [Behaviour]
    std::string feedFolder;  // TIFF plates in name order; empty = phantoms
    std::uint64_t phantomSeed = 1;
    int autoPlates = 0;           // plates fed by themselves after each activation
    int firstPlateMs = 3000;      // activation to the first automatic plate
    int plateIntervalMs = 15000;  // between automatic plates
    int transportStartMs = 500;   // insertion to transport start
    int readMs = 4000;            // reading the plate (preview lines arrive meanwhile)
    int ejectMs = 800;            // end of reading to transport stop and image ready
    int previewLines = 64;        // plate lines per preview picture
    int previewWidth = 256;       // preview pictures are scaled down to this width
    // [Faults]
    std::int32_t initDll = 0;
    std::int32_t iniFileName = 0;
    std::vector<std::int32_t> openResults;      // consumed one per Open_Scanner call
    std::vector<std::int32_t> activateResults;  // consumed one per Aktivate_Scanner call
    int statusFaultPlate = 0;
    std::int32_t statusFaultCode = -200;
    int statusFaultCalls = 1;  // 0 = until deactivation
    int infoFaultPlate = 0;
    std::int32_t infoFaultResult = -1;
    int infoFaultCalls = 1;
    int rawFaultPlate = 0;
    std::int32_t rawFaultResult = -90;
    int rawFaultCalls = 1;
    std::int32_t serialResult = 0;
    std::vector<CallFault> callFaults;
};

// Reads the INI file; a missing file gives the built-in scanner (four sets, no faults).
SimConfig readConfig(DeviceEnvironment& env, const std::string& path);

// "-2, 0,-7" -> {-2, 0, -7}; entries that are not numbers are left out.
std::vector<std::int32_t> parseResultList(const std::string& text);
// "GetRawImage:2:-90, Get_Status:7:-5" -> two faults; malformed entries are left out.
std::vector<CallFault> parseCallFaults(const std::string& text);

}  // namespace quilo::orvanesim
