// frmMain: the plug-in's main form and the spine of the process. It starts the process, holds
// the endpoint with its events bound here, answers every host command and carries the small
// user interface of the plug-in: status icon, status line, log box, pop-up menu and timers.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/registration.h"
#include "forms/form.h"
#include "host/plugin.h"
#include "host/records.h"
#include "trace/log.h"
#include "ui/dlg_box.h"
#include "ui/lead_control.h"
#include "ui/prescan/frm_prescan.h"

namespace quilo::controller {

class PluginProcess;

// Image kind codes of the information and sensor records, by image type.
std::int32_t kindCode(std::int32_t imageType);

// A local date and time as the host's records carry it: days since 30 December 1899, the
// time of day as the fraction.
double dayCount(const platform::LocalTime& t);

// The scanner's last answers as the polling keeps them.
struct ScannerStatusRecord {
    std::int32_t Status = 0;            // the last Get_Status word
    std::int32_t LastResult = 0;        // of the last Deaktivate_Scanner or GetPrescanImage
    std::int32_t PreviewLineCount = 0;  // preview pictures fetched since the process started
    std::int32_t SlotBit = 0;
};

class frmMain final : public forms::Form,
                      public host::PluginEvents,
                      public host::DialogPort,
                      private trace::LogBox {
  public:
    // Form_Initialize: opens the trace's writing end. Load the form with load() afterwards.
    explicit frmMain(PluginProcess& process);
    ~frmMain() override;

    // --- controls, as designed ----------------------------------------------------------
    forms::TextBox& txtLog;
    forms::Timer& tmrAlive;
    forms::Timer& ActiveTimer;
    forms::CommandButton& Command1;
    ui::LeadControl leadIMG;
    forms::Timer& tmrGetStatus;
    forms::CommandButton& cmdScan;
    forms::ImageList& imgICONS;
    forms::Label& Label1;
    forms::Picture& imgStatus;
    forms::Label& lblStatus;
    forms::Menu& mnuPopUp;
    forms::Menu& mnuStartScan;
    forms::Menu& mnuCancelScan;
    forms::Menu& mnuSetup;
    forms::Menu& mnuExit;

    // --- what the process object and the scanner connection ask of the form ------------
    // A scanner session starts without a pending stop.
    void clearStopRequested() { StopRequested = false; }
    // The status polling stops.
    void stopActiveTimer() { ActiveTimer.setEnabled(false); }
    // The sensor the next plates are delivered for, as ActivateCapture chooses it.
    void setActiveSensor(std::int32_t SensorNo) { ActiveSensorNo = SensorNo; }

    // --- a look at the form's state (diagnostics and tests) ----------------------------
    bool testMode() const { return TestMode; }
    bool initCalled() const { return InitCalled; }
    bool stopRequested() const { return StopRequested; }
    bool scanInProgress() const { return ScanInProgress != 0; }
    const ScannerStatusRecord& scannerStatus() const { return ScannerStatus; }
    std::int16_t hostWatchdogCount() const { return HostWatchdogCount; }
    platform::Hwnd hostParentWindow() const { return HostParentWindow; }
    platform::Hwnd appOwnerWindow() const { return AppOwnerWindow; }
    platform::Hwnd previousParentWindow() const { return PreviousParentWindow; }
    bool appWindowReparented() const { return AppWindowReparented; }

    host::clsPlugin* Plugin() const;

    // --- procedures -------------------------------------------------------------------
    // The application window went with the host's window it sat in: nothing is put back, the
    // form unloads.
    void applicationWindowLost();
    void doStopCapture();
    // The setup dialog cycle: fill, show modally, read back, save, announce.
    void doSetup();
    // --- the capture sequence -----------------------------------------------------------
    bool doActivateCapture();
    // One polling step of ActiveTimer.
    void ActiveTimer_Timer();
    // --- image acquisition --------------------------------------------------------------
    void GetImage();
    // Processes one image held as a TIFF file image in a global memory block.
    void DoGrabFrame(platform::HGlobal block, std::size_t size, bool& IsTest);
    // A plate the scanner library handed over (its image name): kept in the spool and processed
    // while it is written there, and on disk on return. Its spool entry, 0 when it could not be
    // kept; the exceptions of DoGrabFrame pass on, with the entry given up.
    int grabPlate(platform::HGlobal block, std::size_t size, const std::string& name);
    // The intensity and histogram stretch of a plate of that image type.
    void StretchImage(imaging::ImageControl& control, std::int32_t type);
    // The simulated capture: Test.tif from the program's folder.
    void GetImageTest();
    // Hands one image file of the preview window to the host.
    void SendSelected(const std::string& FileName, std::int32_t OrdinalNo);
    // Checks leadIMG against the record and hands it to the endpoint.
    bool SendLeadImageEx(host::ImageExRecord& record, std::int32_t SensorNo, std::string_view Text1,
                         std::string_view Text2);
    // The manual roads: the test-image button and the parameter-set choice.
    void Command1_Click();
    void cmdScan_Click();
    void doShowDialog(std::string_view Msg, std::string_view Caption,
                      std::optional<std::int32_t> ModalType = std::nullopt);
    // The capabilities the plug-in declares.
    static host::CapabilitiesRecord Capabilities();
    void PlaceMainForm();
    void SetStatusIcon(std::string_view name);
    void SetProgramDirectory();
    // The host watchdog's tick (tmrAlive).
    void tmrAlive_Timer();
    // The log entry; a log file that cannot be written is traced and does not stop the
    // caller (a host command must not fail because of the log).
    void LogMsg(std::string_view message);

    // --- events of the endpoint ---------------------------------------------------------
    void InitializePlugin(std::int32_t& cmdNo) override;
    void ShutdownPlugin(std::int32_t& cmdNo, std::int32_t& newStatusCode) override;
    void GetInformation(std::int32_t& cmdNo, host::InformationRecord& reply) override;
    void GetCapabilities(std::int32_t& cmdNo, host::CapabilitiesRecord& reply) override;
    void GetSensorCount(std::int32_t& cmdNo, host::SensorCountRecord& reply) override;
    void GetsensorInformation(std::int32_t& cmdNo, std::int32_t& SensorNo,
                              host::SensorInfoRecord& reply) override;
    void ActivateSetup(std::int32_t& cmdNo) override;
    void SetSettingsAsString(std::int32_t& cmdNo, std::string& Settings) override;
    void StopCapture(std::int32_t& cmdNo, std::int32_t& newStatusCode) override;
    void ActivateCapture(std::int32_t& cmdNo, std::int32_t& SensorNo,
                         std::int32_t& newStatusCode) override;
    void WmSysCommand(platform::WParam wParam, platform::LParam lParam,
                      platform::LResult& result) override;
    void StatusChange(std::int32_t& StatCode, bool& DlgActive, std::string& InfoStr) override;
    void ImageStored(std::int32_t& cmdNo, std::int32_t ImageID) override;

    // The message dialog: the endpoint's ShowDialog arrives here, and the form's own messages
    // come straight here (ShowDialog below).
    void ShowDlg(std::string_view Msg, const std::optional<std::string>& Caption,
                 std::optional<std::int32_t> Style, std::optional<bool> Annoying) override;

  private:
    // --- the form's state ---------------------------------------------------------------
    bool TestMode = false;
    bool InTimer = false;
    bool StopRequested = false;
    platform::Hwnd HostParentWindow = 0;
    platform::Hwnd AppOwnerWindow = 0;
    platform::Hwnd PreviousParentWindow = 0;
    // True while the application window sits in a host's window. The window system reports a
    // top-level window's parent as 0, so PreviousParentWindow alone cannot tell "never moved"
    // from "moved out of the desktop"; this flag does.
    bool AppWindowReparented = false;
    std::int32_t ActiveSensorNo = 0;
    std::int32_t ScanInProgress = 0;  // the last seen transport bit of the status word
    ScannerStatusRecord ScannerStatus;
    std::int16_t HostWatchdogCount = 0;
    bool InitCalled = false;

    // The form's message dialog, with the endpoint's ShowDialog arguments.
    void ShowDialog(std::string_view Msg, std::optional<std::string> Caption = std::nullopt,
                    std::optional<std::int32_t> Style = std::nullopt,
                    std::optional<bool> Annoying = std::nullopt);
    void Form_Load();
    void Form_Unload(bool& cancel);
    void loadSteps();
    void showPopup();
    // Icon, tooltip, status line and menus for a status (StatusChange without the log line).
    void showStatus(std::int32_t StatCode, const std::string& InfoStr);
    void lookUpAppOwner();
    // Puts the application window back under PreviousParentWindow if it has been moved.
    void restoreAppParent();
    // Makes the application window a child of `parent`; PreviousParentWindow = where it was.
    void reparentAppInto(platform::Hwnd parent);
    std::string productTitle() const;
    // The capture's preview steps: the preview window shown and fed while a plate is read, and
    // its slot indicators.
    void previewPicture();
    void previewSlots();
    // The control a grab works on: the preview window's large view with preview selection,
    // leadIMG otherwise.
    ui::LeadControl& grabTarget();
    void addToPreview(const std::string& fileName, std::int32_t xres, std::int32_t yres);
    // The preview window, loaded and shown (placed on the host's monitor) when it is not.
    ui::frmPrescan& showPrescan();
    void linkPreview();
    void unlinkPreview();
    // True when the capture's set is a perio set, or for the test image.
    bool perioWanted(bool isTest);
    // Hands leadIMG over with its record: pixels and millimetres from the control and the pitch.
    // `plate` is the spool entry of the plate it came from (0: none), settled by the outcome.
    void sendLeadImage(const platform::LocalTime& captured, std::int32_t sensorNo,
                       const std::string& text1, int plate);
    // A plate not loaded into a control: an image over the samples in the scanner's block.
    struct UnloadedPlate {
        const imaging::Image& image;
        platform::HGlobal block;
        std::size_t size;
    };
    // The enhancement and depth the settings choose, applied to a loaded plate, or to an unloaded
    // one with the host's enhancement component (loaded into the control only should it fail).
    void processPlate(imaging::ImageControl& control, std::int32_t type, bool perio,
                      const UnloadedPlate* unloaded = nullptr);
    // Loads and processes plate `entry` of the spool; false when it is not there or unreadable.
    bool loadFromSpool(imaging::ImageControl& control, int entry);
    // --- the plate spool ---
    // Starts keeping the raw plate on disk before anything else happens to it (the block stays
    // locked until the spool has finished with it); its entry, 0 if it could not be kept.
    int keepPlate(const platform::GlobalLock& raw, std::size_t size, const std::string& name);
    // A plate the spool could not keep is said once per session; the capture goes on.
    void spoolFailure();
    // A plate's hand-over is over: when the host took it, its entry goes (or waits for the
    // acknowledgement while the host keeps images).
    void settlePlate(int plate, bool sent, std::int32_t imageId);
    // Plates an earlier session left in the spool: processed, saved where the user is told.
    void recoverPlates();
    // The text a hand-over carries for a set: "name (#n)", or "Test image." above the sets.
    std::string imageText(std::int32_t ordinalNo, bool overSets);

    int plate_ = 0;  // the spool entry of the plate on the capture road now
    bool spoolFailureShown_ = false;
    std::string recoveredMessage_;  // plates of an earlier session saved; said at InitializePlugin
    std::map<std::string, int> previewPlates_;  // preview file -> spool entry

    // trace::LogBox
    bool formVisible() const override { return visible(); }
    std::string text() const override { return txtLog.text(); }
    void setText(std::string text) override { txtLog.setText(text); }

    PluginProcess& process_;
    ui::DlgBoxContext dlgContext_;
    class PrescanLink;
    struct PrescanLinkDeleter {
        void operator()(PrescanLink* link) const;
    };
    std::unique_ptr<PrescanLink, PrescanLinkDeleter> prescanLink_;
    std::unique_ptr<ui::frmPrescan> prescan_;
    // Last, so that they end first: nothing reaches the form once it is being destroyed.
    Registration previewHook_;  // the scanner connection's way to the preview window
    Registration logBox_;       // the log's way to txtLog
    Registration pluginEvents_;
    Registration pluginDialogs_;
};

}  // namespace quilo::controller
