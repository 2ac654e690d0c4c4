// Stand-ins for what the scanner code talks to besides the platform: the plug-in around
// SensorAPI, and a scanner library whose every answer a test scripts.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scanner/sensor_api.h"

namespace quilo::scanner::testing {

// The plug-in around SensorAPI: traces, dialogs (with the message number in place of the
// translated text), machine settings and the capture sequence's flags.
class RecordingHost final : public ScannerHost, public PreviewWindowHook {
  public:
    std::vector<std::string> traces;
    std::vector<std::string> dialogs;                    // "<text>|<caption>|<modal type>"
    std::map<std::string, std::string> machineSettings;  // "Section\Key" -> value
    int noPreviewSetting = 0;
    bool stopRequested = true;
    int timerStops = 0;
    int previewImages = 0;
    int previewUnloads = 0;

    void traceLine(std::string_view line) override { traces.emplace_back(line); }
    void doShowDialog(std::string_view message, std::string_view caption, int modalType) override {
        dialogs.push_back(std::string(message) + "|" + std::string(caption) + "|" +
                          std::to_string(modalType));
    }
    std::string langText(int number) override { return "#" + std::to_string(number); }
    std::string readMachineSetting(std::string_view section, std::string_view key) override {
        auto it = machineSettings.find(std::string(section) + "\\" + std::string(key));
        return it == machineSettings.end() ? std::string() : it->second;
    }
    int noPreview() override { return noPreviewSetting; }
    void clearStopRequested() override { stopRequested = false; }
    void stopActiveTimer() override { ++timerStops; }
    int imageCount() override { return previewImages; }
    void unload() override { ++previewUnloads; }
};

// A scanner library whose answers the test sets; it records every call by name.
class ScriptedLibrary final : public ScannerLibrary {
  public:
    struct SetAnswer {
        Long result = 0;
        std::string name;
    };
    Long initDll = 0;
    Long iniResult = 0;
    std::string iniPath = "C:\\Scanner\\OrvaneEx.ini";
    Long paramCount = 0;
    std::map<Long, SetAnswer> sets;
    std::vector<Long> openResults;  // consumed per call; 0 once used up
    Long prescanResult = 0;
    Long serialResult = 0;
    std::string serialBuffer;  // the whole buffer as the library leaves it
    std::vector<std::string> calls;
    std::vector<Long> opened;
    std::vector<Long> prescanModes;

    void addSet(Long n, std::string name, Long result = 0) {
        sets[n] = {result, std::move(name)};
        paramCount = std::max(paramCount, n);
    }
    int count(const std::string& name) const {
        return static_cast<int>(std::count(calls.begin(), calls.end(), name));
    }

    Long Init_Dll(std::string_view) override { return log("Init_Dll", initDll); }
    Long Get_IniFileName(std::string& buffer) override {
        buffer = iniPath;
        buffer.resize(256, '\0');
        return log("Get_IniFileName", iniResult);
    }
    Long Set_IniFileName(std::string_view) override { return log("Set_IniFileName", 0); }
    Long Get_Paramcount() override { return log("Get_Paramcount", paramCount); }
    Long Get_Paramname(std::string& buffer, Long n) override {
        auto it = sets.find(n);
        buffer.assign(256, '\0');
        if (it == sets.end()) return log("Get_Paramname", -2);
        std::memcpy(buffer.data(), it->second.name.data(),
                    std::min<std::size_t>(255, it->second.name.size()));
        return log("Get_Paramname", it->second.result);
    }
    Long Open_Scanner(Long n) override {
        opened.push_back(n);
        Long r = 0;
        if (!openResults.empty()) {
            r = openResults.front();
            openResults.erase(openResults.begin());
        }
        return log("Open_Scanner", r);
    }
    Long Set_Prescanmode(Long mode) override {
        prescanModes.push_back(mode);
        return log("Set_Prescanmode", prescanResult);
    }
    Long Get_Serialnumber(std::string& buffer) override {
        buffer = serialBuffer;
        buffer.resize(256, '\0');
        return log("Get_Serialnumber", serialResult);
    }
    Long Get_DriverVersion(std::string& buffer) override {
        buffer.assign(256, '\0');
        return log("Get_DriverVersion", 0);
    }
    Long Set_ImageExtraHeader(Long, Long) override { return log("Set_ImageExtraHeader", 0); }
    Long Aktivate_Scanner() override { return log("Aktivate_Scanner", 0); }
    Long Get_Status() override { return log("Get_Status", 0); }
    Long GetPrescanImage(platform::HGlobal& picture, Long& bytes) override {
        picture = 0;
        bytes = 0;
        return log("GetPrescanImage", -1);
    }
    Long ClearPrescanImage() override { return log("ClearPrescanImage", 0); }
    Long Get_ImageName(std::string& buffer) override {
        buffer.assign(255, '\0');
        return log("Get_ImageName", 0);
    }
    Long Get_ImageInfo(std::string_view, ImageInfoRecord&) override {
        return log("Get_ImageInfo", -1);
    }
    Long GetRawImage(std::string_view, Long, Long, platform::HGlobal& image, Long& bytes, Long,
                     Long, Long, Long) override {
        image = 0;
        bytes = 0;
        return log("GetRawImage", -1);
    }
    Long Delete_Image(std::string_view) override { return log("Delete_Image", 0); }
    Long Deaktivate_Scanner() override { return log("Deaktivate_Scanner", 0); }
    Long Close_Scanner() override { return log("Close_Scanner", 0); }

  private:
    Long log(const char* name, Long r) {
        calls.emplace_back(name);
        return r;
    }
};

}  // namespace quilo::scanner::testing
