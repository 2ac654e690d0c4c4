// SensorAPI: the connection to the image-plate scanner. It loads the scanner library, reads its
// parameter sets into sensors, opens the chosen set, detects maker and model, sets the preview
// mode and reads the serial number; CloseHardware closes it again. Everything runs on the GUI
// thread. What it needs of the rest of the plug-in arrives through the narrow ports below.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/registration.h"
#include "platform/files.h"
#include "platform/process.h"
#include "scanner/scanner_library.h"
#include "scanner/sensor.h"

namespace quilo::scanner {

// What the scanner connection asks of the plug-in around it.
class ScannerHost {
  public:
    virtual ~ScannerHost() = default;
    // The trace entry; never throws.
    virtual void traceLine(std::string_view line) = 0;
    // The main form's way to the message dialog.
    virtual void doShowDialog(std::string_view message, std::string_view caption,
                              int modalType) = 0;
    // A numbered, translatable text.
    virtual std::string langText(int number) = 0;
    // A machine-wide registry setting of the plug-in ("" when missing).
    virtual std::string readMachineSetting(std::string_view section, std::string_view key) = 0;
    // The NoPreview setting: 0 preview with selection, 1 none, 2 progress only.
    virtual int noPreview() = 0;
    // The capture sequence's stop flag and its status-poll timer.
    virtual void clearStopRequested() = 0;
    virtual void stopActiveTimer() = 0;
};

// The preview window as CloseHardware sees it.
class PreviewWindowHook {
  public:
    virtual ~PreviewWindowHook() = default;
    // Number of images the window still holds.
    virtual int imageCount() = 0;
    virtual void unload() = 0;
};

// Message numbers of the language table shown by InitializeHardware.
namespace msg {
inline constexpr int kDllUnusable = 7000;
inline constexpr int kNoIniFile = 7010;
inline constexpr int kNoParameterSet = 7020;
inline constexpr int kSetNotFound = 7030;
}  // namespace msg

// The message number for a failed opening (any non-zero result except -7).
int openFailureMessage(Long result);

// English text of a scanner library result code; "Unknown Error" for codes not in the table.
std::string ScannerErrorText(Long code);

class SensorAPI {
  public:
    SensorAPI(ScannerLibrary& library, platform::Files& files, platform::Process& process,
              ScannerHost& host);

    SensorAPI(const SensorAPI&) = delete;
    SensorAPI& operator=(const SensorAPI&) = delete;

    // The preview window's side, while its registration lasts.
    Registration attachPreviewHook(PreviewWindowHook& hook) { return preview_.attach(hook); }
    // The chosen set is a setting: bind these to the settings record so both see one value.
    // Until bound, SensorAPI keeps its own.
    void bindCurrentSet(Long& setNumber, std::string& setName, Long& imageType) {
        currentSetNr_ = &setNumber;
        currentSet_ = &setName;
        currentImageType_ = &imageType;
    }
    ScannerLibrary& library() { return library_; }

    // Opens the scanner; the outcome is HardwareInitialized. Safe to call while open.
    void InitializeHardware();
    void CloseHardware();

    // --- module state ----------------------------------------------------------------
    SensorCollection Sensors;
    bool DllLoaded = false;  // Init_Dll has succeeded once; never reset
    bool HardwareInitialized = false;
    bool ScannerActivated = false;
    bool PreviewShown = false;
    Long& CurrentParamSetNr() { return *currentSetNr_; }  // the chosen set; 0 = none saved
    std::string& CurrentParamSet() { return *currentSet_; }
    Long& CurrentImageType() { return *currentImageType_; }
    std::string ScannerMaker;  // found once per process
    std::string ScannerModel;
    std::string ScannerSerial;  // empty while not open
    std::string LastSerial;     // the serial of the last opening with result 0
    std::string IniFileName;    // the library's INI file, as it reported it
    float PixelPitchX = 25.0f;  // micrometres
    float PixelPitchY = 25.0f;

  private:
    void initialize();
    void message(int number);
    void readParameterSets();
    void chooseSet();
    void detectModel();
    void setPreviewMode();
    void readSerial();

    ScannerLibrary& library_;
    platform::Files& files_;
    platform::Process& process_;
    ScannerHost& host_;
    ListenerSlot<PreviewWindowHook> preview_;
    Long ownSetNr_ = 0;
    std::string ownSet_;
    Long ownImageType_ = 0;
    Long* currentSetNr_ = &ownSetNr_;
    std::string* currentSet_ = &ownSet_;
    Long* currentImageType_ = &ownImageType_;
};

}  // namespace quilo::scanner
