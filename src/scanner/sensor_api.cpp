#include "scanner/sensor_api.h"

#include <algorithm>
#include <exception>
#include <new>
#include <vector>

#include "core/error.h"
#include "core/text.h"
#include "scanner/orvane_abi.h"

namespace quilo::scanner {

namespace {

// The scanner library's INI file is read only to find the maker's name in it; a file larger
// than this is searched in its first part only.
constexpr std::size_t kMaxIniBytes = 4u << 20;

// A scanner has a handful of parameter sets; a larger count from the library is taken as
// this many, so a broken answer cannot keep the GUI thread busy for hours.
constexpr Long kMaxParameterSets = 1024;

bool contains(std::string_view text, std::string_view word) {
    return text.find(word) != std::string_view::npos;
}

std::string trimBlanks(std::string s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

}  // namespace

std::string ScannerErrorText(Long code) {
    switch (code) {
        case 0:
            return "No error";
        case -1:
            return "File not found";
        case -2:
            return "One of the specified parameter could not be found";
        case -3:
            return "Error while writing configuration data";
        case -4:
            return "Data file was not open for access / Open_Scanner not called";
        case -5:
            return "Ctrl code is not valid";
        case -6:
            return "The Aktivate_Scanner function was called without first calling the "
                   "Deaktivate_Scanner function";
        case -7:
            return "The operation can not be performed because scanner is open";
        case -90:
            return "Out of memory";
        case -99:
            return "OrvaneEx.dll not initialized (call Init_Dll(\"\"))";
        case -100:
            return "No buffer-RAM found";
        case -101:
            return "Buffer-RAM is not of a support size";
        case -102:
            return "Configuration parameter is out of range";
        case -200:
            return "Checksum error during data transmission";
        case -1000:
            return "LPT-interface is busy";
        case -1001:
            return "Scanner not found";
        case -1002:
            return "Firmware data file not found";
        case -1003:
            return "Check-sum error in firmware data file";
        case -1004:
            return "Firmware read error";
        case -1005:
            return "FPGA does not respond to Reset";
        case -1006:
            return "EPP time-out error";
        case -1007:
            return "I2C bus error";
        case -1008:
            return "Initialization file was not found";
        case -1009:
            return "Optical switch is occupied by (busy with) activity / plate is there";
        case -1010:
            return "Temperature in housing is too high";
        case -1011:
            return "Missing user interaction (used only for configuration mode)";
        case -10000:
            return "Too much ambient light during operation";
        case -10001:
            return "There are remaining unreported images while calling close";
        default:
            return "Unknown Error";
    }
}

int openFailureMessage(Long result) {
    switch (result) {
        case -1:
            return 7040;
        case -2:
            return 7050;
        case -3:
            return 7060;
        case -100:
            return 7070;
        case -101:
            return 7080;
        case -102:
            return 7090;
        case -1001:
            return 7100;
        case -1007:
            return 7110;
        case -1010:
            return 7120;
        default:
            return 7130;
    }
}

SensorAPI::SensorAPI(ScannerLibrary& library, platform::Files& files, platform::Process& process,
                     ScannerHost& host)
    : library_(library), files_(files), process_(process), host_(host) {}

void SensorAPI::message(int number) {
    host_.doShowDialog(host_.langText(number), "", 1);
}

void SensorAPI::InitializeHardware() {
    try {
        initialize();
    } catch (...) {
        // The state stays as far as it got.
        const RuntimeError e = currentError("SensorAPI");
        process_.messageBox(
            0, "InitializeHardware error: " + std::to_string(e.number()) + " " + e.description(),
            process_.version().title, platform::mb::kOk);
    }
}

void SensorAPI::initialize() {
    host_.traceLine("Initialization started");
    host_.clearStopRequested();

    if (!DllLoaded) {
        if (library_.Init_Dll("Orvane.dll") == 2) {
            message(msg::kDllUnusable);
            return;
        }
        DllLoaded = true;
    }

    if (HardwareInitialized) {
        host_.traceLine("No need to Initialize, already done.");
        return;
    }

    std::string buffer;
    if (library_.Get_IniFileName(buffer) != 0) {
        HardwareInitialized = false;
        message(msg::kNoIniFile);
        return;
    }
    host_.traceLine("Orvane INI opened.");
    IniFileName = untilNul(buffer);

    readParameterSets();

    host_.traceLine("Read Parameters OK");
    if (Sensors.count() == 0) {
        HardwareInitialized = false;
        message(msg::kNoParameterSet);
        return;
    }

    chooseSet();

    Long result = library_.Get_Paramname(buffer, CurrentParamSetNr());
    if (result != 0) {
        // The current set's name cannot be read: nothing is opened and this result decides
        // the outcome below.
        message(msg::kNoParameterSet);
    } else {
        // The name of the set about to be opened is the current set's name from now on.
        CurrentParamSet() = untilNul(buffer);
        host_.traceLine("About to Open scanner");
        result = library_.Open_Scanner(CurrentParamSetNr());
        if (result == -2) {
            message(msg::kSetNotFound);
            CurrentParamSetNr() = 1;
            CurrentParamSet() =
                library_.Get_Paramname(buffer, 1) == 0 ? untilNul(buffer) : std::string("-");
            result = library_.Open_Scanner(1);
        }
        host_.traceLine("Open scanner returned: " + std::to_string(result) + " " +
                        ScannerErrorText(result));
    }

    detectModel();

    PixelPitchX = 25.0f;
    PixelPitchY = 25.0f;

    if (result == 0) {
        HardwareInitialized = true;
        setPreviewMode();
        readSerial();
    } else if (result == -7) {
        // Already open counts as open; the serial number is not read again.
        HardwareInitialized = true;
        setPreviewMode();
    } else {
        ScannerSerial.clear();
        HardwareInitialized = false;
        message(openFailureMessage(result));
    }

    host_.traceLine("Initialization is done!");
}

void SensorAPI::readParameterSets() {
    Sensors = SensorCollection();
    const Long count = library_.Get_Paramcount();
    host_.traceLine("Parameter count=" + std::to_string(count));

    std::string buffer;
    for (Long i = 1; i <= std::min(count, kMaxParameterSets); ++i) {
        if (library_.Get_Paramname(buffer, i) != 0) continue;  // unreadable sets are skipped
        cSensor sensor;
        sensor.ParamName = untilNul(buffer);
        const std::string u = upper(sensor.ParamName);
        // Tested in this order, so the last match wins.
        sensor.ImageType = kIntraoral;
        if (contains(u, "INTRA")) sensor.ImageType = kIntraoral;
        if (contains(u, "CEPH")) sensor.ImageType = kCephalometric;
        if (contains(u, "PAN")) sensor.ImageType = kPanoramic;
        sensor.Perio = contains(u, "PERIO");
        sensor.OrdinalNo = i;
        sensor.bShowAsTool =
            host_.readMachineSetting("Devices", sensor.ParamName + "_AsTool") == "1";
        Sensors.add(std::move(sensor), sensorKey(i));
    }
}

void SensorAPI::chooseSet() {
    for (auto& entry : Sensors) {
        if (entry.sensor.bShowAsTool) {
            if (CurrentParamSetNr() == 0) {
                CurrentParamSetNr() = entry.sensor.OrdinalNo;
                CurrentImageType() = entry.sensor.ImageType;
            }
            return;
        }
    }
    cSensor& first = *Sensors.item(1);
    first.bShowAsTool = true;
    if (CurrentParamSetNr() == 0) {
        CurrentParamSetNr() = 1;
        CurrentImageType() = first.ImageType;
    }
}

void SensorAPI::detectModel() {
    if (ScannerMaker.empty()) {
        if (!IniFileName.empty() && files_.exists(IniFileName) &&
            !files_.isDirectory(IniFileName)) {
            auto file = files_.open(IniFileName, platform::OpenMode::Read);
            if (!file) throw RuntimeError(75, "Path/File access error", "SensorAPI");
            const std::size_t size =
                static_cast<std::size_t>(std::min<std::uint64_t>(file->size(), kMaxIniBytes));
            std::vector<std::byte> bytes(size);
            std::size_t done = 0;
            while (done < size) {
                auto n = file->read(std::span<std::byte>(bytes).subspan(done));
                if (!n) throw RuntimeError(75, "Path/File access error", "SensorAPI");
                if (*n == 0) break;
                done += *n;
            }
            const std::string text =
                upper(std::string_view(reinterpret_cast<const char*>(bytes.data()), done));
            if (contains(text, "STELLAN")) {
                ScannerMaker = "Stellan Inc.";
                if (ScannerModel.empty()) ScannerModel = "Quilo";
            } else {
                ScannerMaker = "Wenbrig Dental GmbH & Co.KG";
                if (ScannerModel.empty()) ScannerModel = "Orvane";
            }
        }
        if (ScannerMaker.empty()) ScannerMaker = "Wenbrig/Stellan";
        if (ScannerModel.empty()) ScannerModel = "Orvane/Quilo";
    }
    host_.traceLine("Scanner model is: " + ScannerMaker + " " + ScannerModel);
}

void SensorAPI::setPreviewMode() {
    const int noPreview = host_.noPreview();
    if (noPreview == 0 || noPreview == 2) {
        const Long r = library_.Set_Prescanmode(kPreviewLinesOn);
        host_.traceLine("Set_Prescanmode(256) returned: " + std::to_string(r));
    } else {
        library_.Set_Prescanmode(kPreviewLinesOff);
    }
}

void SensorAPI::readSerial() {
    std::string buffer;
    if (library_.Get_Serialnumber(buffer) == 0) {
        buffer.erase(std::remove(buffer.begin(), buffer.end(), '\0'), buffer.end());
        ScannerSerial = trimBlanks(std::move(buffer));
    } else {
        ScannerSerial.clear();
    }
    LastSerial = ScannerSerial;
    host_.traceLine("SerialNo = " + ScannerSerial);
}

void SensorAPI::CloseHardware() {
    host_.stopActiveTimer();
    if (PreviewShown) {
        PreviewWindowHook* preview = preview_.get();
        if (preview && preview->imageCount() > 0) {
            process_.messageBox(0, "Save your images before closing!", process_.version().title,
                                platform::mb::kOk);
        } else {
            if (preview) preview->unload();
            PreviewShown = false;
        }
    }
    if (HardwareInitialized) {
        if (ScannerActivated) library_.Deaktivate_Scanner();
        library_.Close_Scanner();
    }
    HardwareInitialized = false;
    ScannerActivated = false;
}

}  // namespace quilo::scanner
