// clsPlugin: the plug-in's end of the host protocol. It subclasses the main window, takes the
// host's commands into the command ring, works them off one per self-posted message, raises one
// event per command and sends the reply the event handler gave back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/registration.h"
#include "host/plugin_hook.h"
#include "host/records.h"
#include "host/xray_ifc.h"
#include "imaging/image_control.h"
#include "platform/global_memory.h"
#include "platform/platform.h"
#include "trace/trace.h"

namespace quilo::host {

// The events of the endpoint, in their declaration order. Arguments passed by reference may be
// changed by the handler; the endpoint uses what the handler leaves. A command with a reply record
// passes it in empty: the handler fills it, the endpoint fixes its size field and sends it. Every
// event has an empty default so a listener overrides only what it handles.
class PluginEvents {
  public:
    virtual void EnumeratePlugins(std::int32_t& /*cmdNo*/) {}
    virtual void RegisterPlugin(std::int32_t& /*cmdNo*/) {}
    virtual void InitializePlugin(std::int32_t& /*cmdNo*/) {}
    virtual void ShutdownPlugin(std::int32_t& /*cmdNo*/, std::int32_t& /*newStatusCode*/) {}
    virtual void GetInformation(std::int32_t& /*cmdNo*/, InformationRecord& /*reply*/) {}
    // The reply starts as the capabilities the endpoint holds now.
    virtual void GetCapabilities(std::int32_t& /*cmdNo*/, CapabilitiesRecord& /*reply*/) {}
    virtual void GetStatus(std::int32_t& /*cmdNo*/) {}
    virtual void GetSensorCount(std::int32_t& /*cmdNo*/, SensorCountRecord& /*reply*/) {}
    virtual void GetsensorInformation(std::int32_t& /*cmdNo*/, std::int32_t& /*SensorNo*/,
                                      SensorInfoRecord& /*reply*/) {}
    virtual void ActivateSetup(std::int32_t& /*cmdNo*/) {}
    virtual void GetSettings(std::int32_t& /*cmdNo*/) {}
    virtual void SetSettingsAsString(std::int32_t& /*cmdNo*/, std::string& /*Settings*/) {}
    virtual void ActivateCapture(std::int32_t& /*cmdNo*/, std::int32_t& /*SensorNo*/,
                                 std::int32_t& /*newStatusCode*/) {}
    virtual void ImageStored(std::int32_t& /*cmdNo*/, std::int32_t /*ImageID*/) {}
    virtual void StopCapture(std::int32_t& /*cmdNo*/, std::int32_t& /*newStatusCode*/) {}
    virtual void HookedMessage(platform::MsgId /*uMsg*/, platform::WParam /*wParam*/,
                               platform::LParam /*lParam*/, platform::LResult& /*result*/) {}
    virtual void WmSysCommand(platform::WParam /*wParam*/, platform::LParam /*lParam*/,
                              platform::LResult& /*result*/) {}
    virtual void StatusChange(std::int32_t& /*StatCode*/, bool& /*DlgActive*/,
                              std::string& /*InfoStr*/) {}
    virtual void TraceEvt(std::string& /*Msg*/) {}

  protected:
    ~PluginEvents() = default;
};

// The way to the message dialog; the user interface provides it.
class DialogPort {
  public:
    virtual void ShowDlg(std::string_view Msg, const std::optional<std::string>& Caption,
                         std::optional<std::int32_t> Style, std::optional<bool> Annoying) = 0;

  protected:
    ~DialogPort() = default;
};

// One store of sent images waiting for the host's acknowledgement: at most 20, in sending
// order. A slot keeps the record as it was sent and the TIFF block (never a copy of the pixels).
template <class Rec>
struct ImageStore {
    static constexpr std::size_t kCapacity = 20;
    struct Slot {
        Rec record;
        std::string fileName;  // always empty: images go in memory form only
        platform::GlobalBlock block;
        std::uint32_t size = 0;
    };
    std::vector<Slot> slots;
};

class clsPlugin {
  public:
    // `platform` and `xray` must outlive the endpoint.
    clsPlugin(platform::Platform& platform, XrayIfc& xray, trace::Trace& trace);
    ~clsPlugin();
    clsPlugin(const clsPlugin&) = delete;
    clsPlugin& operator=(const clsPlugin&) = delete;

    // The event listener and the message dialog, each until its registration ends. Without a
    // dialog port ShowDialog falls back to a message box.
    Registration attachEvents(PluginEvents& events) { return events_.attach(events); }
    Registration attachDialogPort(DialogPort& dialogs) { return dialogs_.attach(dialogs); }
    // Numbered texts of the hand-over's refusals (the language table).
    void setTextSource(std::function<std::string(int)> langText) {
        langText_ = std::move(langText);
    }
    // Told, for each image SaveLostImages handles, whether it is settled: saved to a file, or
    // discarded because the user chose not to save. An image whose file could not be written
    // is not settled.
    void setLostImageOutcome(std::function<void(std::int32_t imageId, bool settled)> outcome) {
        lostImageOutcome_ = std::move(outcome);
    }

    // --- status ---------------------------------------------------------------------------
    std::int32_t StatusCode() const { return statusCode_; }
    void StatusCode(std::int32_t code);
    const std::string& StatusInfoStr() const { return infoStr_; }
    void StatusInfoStr(std::string_view text);
    void ExStatusCode(std::int32_t StatCode, std::string_view InfoStr);
    static constexpr std::int32_t DontChangeStatusCode() { return kDontChangeStatusCode; }
    bool Initialized() const { return initialized_; }
    bool SetupActive() const { return dlgActive_; }
    void SetupActive(bool active);
    void SetStatus(std::int32_t StatCode, bool DlgActive,
                   std::optional<std::string_view> InfStr = std::nullopt);

    Hwnd HookedHWnd() const { return hookedHWnd_; }
    Hwnd KV2hWnd() const { return kv2hWnd_; }

    // --- hooking ----------------------------------------------------------------------------
    // Only the first id counts; an empty list clears the extra hooked message.
    void HookMessages(std::span<const std::int64_t> MessageIDs);
    void Hook(Hwnd hWnd, bool Announce);
    void Unhook();

    // --- services ---------------------------------------------------------------------------
    platform::LResult SendSettingsAsString(std::string_view aStr);
    void ShowDialog(std::string_view Msg, std::optional<std::string> Caption = std::nullopt,
                    std::optional<std::int32_t> Style = std::nullopt,
                    std::optional<bool> Annoying = std::nullopt);
    void Trace(std::string_view Msg);
    std::int32_t ActiveSecondsLeft() const { return secondsLeft_; }
    void ActiveSecondsLeft(std::int32_t value);
    void WM_CLOSE(std::optional<Hwnd> hWindow = std::nullopt);

    // The subclass procedure.
    platform::LResult WindowProc(Hwnd hwnd, platform::MsgId uMsg, platform::WParam wParam,
                                 platform::LParam lParam);

    // --- records ----------------------------------------------------------------------------
    // The capabilities: what the plug-in declares before the host asks, then the last reply to
    // GetCapabilities.
    CapabilitiesRecord CapabilitiesData() const { return capabilities_; }
    void CapabilitiesData(const CapabilitiesRecord& r) { capabilities_ = r; }
    StatusRecord StatusData() const;

    // Whether sent images are kept until acknowledged (the capabilities' Boolean at 10).
    bool KeepImages() const { return capabilities_.get(CapabilitiesRecord::keepImages); }
    std::int32_t ImageCounter() const { return imageCounter_; }

    // --- image hand-over ---------------------------------------------------------------------
    // Saves the control's bitmap as a TIFF file image, gives it the next image id, sends it to
    // the host and keeps it until acknowledged (with KeepImages). Every refusal is shown to the
    // user; the result is true when the host accepted the image.
    bool SendLeadImageEx(ImageExRecord& record, const imaging::ImageControl& control, bool AsFile,
                         std::string_view Text1, std::string_view Text2);
    bool SendLeadImage(ImageRecord& record, const imaging::ImageControl& control, bool AsFile);
    // Sends a record with a TIFF block, which it takes over: kept in the store with KeepImages,
    // freed after the send without.
    bool SendImageEx(ImageExRecord& record, std::string_view FileName, platform::GlobalBlock hMem,
                     std::uint32_t size, std::string_view Text1, std::string_view Text2);
    bool SendImage(ImageRecord& record, std::string_view FileName, platform::GlobalBlock hMem,
                   std::uint32_t size);
    // The acknowledgement: frees the image of that id; false (and a dialog) when none is kept.
    bool DeleteNewImage(std::int32_t ImageID);
    // Offers the images never acknowledged for saving as files, then frees them.
    void SaveLostImages();
    void lostImageSettled(std::int32_t imageId, bool settled) {
        if (lostImageOutcome_) lostImageOutcome_(imageId, settled);
    }
    const ImageStore<ImageRecord>& basicStore() const { return basicStore_; }
    const ImageStore<ImageExRecord>& extendedStore() const { return extendedStore_; }
    platform::MsgId interfaceMessage() const { return interfaceMsg_; }

    // Parts of the protocol, public for the hook entry and the tests that drive them directly.
    platform::LResult OnInterfaceMessage(Hwnd hwnd, platform::WParam wParam,
                                         platform::LParam lParam);
    bool OnEnumeratePlugIns(platform::WParam wParam);
    platform::LResult OnCopyData(platform::WParam wParam, platform::LParam lParam);
    void ProcessNextCommand();

  private:
    template <class Rec>
    friend struct HandOver;
    void handleCommand(std::int32_t n, const CommandEntry& entry);
    void cmdInitializePlugin(std::int32_t n);
    void cmdShutdownPlugin(std::int32_t n);
    void cmdGetInformation(std::int32_t n);
    void cmdGetCapabilities(std::int32_t n);
    void cmdGetStatus(std::int32_t n);
    void cmdActivateSetup(std::int32_t n);
    void cmdGetSettings(std::int32_t n);
    void cmdSetSettings(std::int32_t n, const CommandEntry& entry);
    void cmdActivateCapture(std::int32_t n, std::int32_t sensorNo);
    void cmdImageStored(std::int32_t n, std::int32_t imageId);
    void cmdStopCapture(std::int32_t n);
    void cmdGetSensorCount(std::int32_t n);
    void cmdGetSensorInformation(std::int32_t n, std::int32_t sensorNo);
    ExStatusRecord buildExStatus() const;
    // Sends the current status to the host; the extended record when there is a text.
    void reportStatus(std::string_view failureTextEx, std::string_view failureText);

    platform::Platform& platform_;
    XrayIfc& xray_;
    trace::Trace& trace_;
    ListenerSlot<PluginEvents> events_;
    ListenerSlot<DialogPort> dialogs_;
    std::function<std::string(int)> langText_;
    std::function<void(std::int32_t, bool)> lostImageOutcome_;
    PluginHook hook_;

    Hwnd hookedHWnd_ = 0;
    Hwnd kv2hWnd_ = 0;
    bool initialized_ = false;
    platform::MsgId hookedMessage_ = 0;
    std::int32_t statusCode_ = status::kUninitialized;
    bool dlgActive_ = false;
    std::string infoStr_;
    CapabilitiesRecord capabilities_;
    std::int32_t secondsLeft_ = 0;
    platform::WndProcRef previousProc_ = 0;
    platform::MsgId interfaceMsg_ = 0;
    std::int32_t imageCounter_ = 0;
    ImageStore<ImageRecord> basicStore_;
    ImageStore<ImageExRecord> extendedStore_;
    bool secondsLeftFailureReported_ = false;
};

}  // namespace quilo::host
