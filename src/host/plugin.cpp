#include "host/plugin.h"

#include <vector>

#include "core/error.h"
#include "core/text.h"

namespace quilo::host {

namespace {

// The prefix of every refusal the endpoint traces.
const std::string E = "Error:clsPlugin";

// A command's name and code as the traces show them: "GetStatus(6)".
std::string N(std::int32_t code) {
    return CommandName(code) + "(" + std::to_string(code) + ")";
}

std::string longText(platform::Hwnd h) {
    return std::to_string(platform::handleToRecord(h));
}

// The low 32 bits of a message parameter, read the way the 32-bit protocol reads it.
std::int32_t asLong(platform::LParam v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v & 0xFFFFFFFF));
}

}  // namespace

// --- the hook entry ----------------------------------------------------------------------------

platform::LResult PluginHook::HookProc(platform::Hwnd hwnd, platform::MsgId uMsg,
                                       platform::WParam wParam, platform::LParam lParam) {
    if (!target_) return windows_.defWindowProc(hwnd, uMsg, wParam, lParam);
    try {
        return target_->WindowProc(hwnd, uMsg, wParam, lParam);
    } catch (...) {
        // An error must not unwind through the system's message dispatch: it ends here, traced.
        target_->Trace(formatError(currentError("PluginHook"), "PluginHook.HookProc"));
    }
    return 0;
}

// --- creation and destruction ------------------------------------------------------------------

clsPlugin::clsPlugin(platform::Platform& platform, XrayIfc& xray, trace::Trace& trace)
    : platform_(platform), xray_(xray), trace_(trace), hook_(platform.windows()) {
    Trace("clsPlugin: Class_Initialize:App:" + platform_.process().version().title);
    interfaceMsg_ = xray_.GetInterfaceMessage();
    capabilities_.set(CapabilitiesRecord::size, CapabilitiesRecord::kSize);
}

clsPlugin::~clsPlugin() {
    hookedMessage_ = 0;
    if (hookedHWnd_ != 0) {
        if (initialized_ && kv2hWnd_ != 0) {
            // Reported without a StatusChange event: the plug-in is going away.
            statusCode_ = status::kUninitialized;
            xray_.SendStatus(kv2hWnd_, hookedHWnd_, StatusData());
        }
        Unhook();
    }
    hook_.SetHookTarget(nullptr);
    SaveLostImages();
    Trace("clsPlugin: Class_Terminate");
}

// --- status --------------------------------------------------------------------------------------

void clsPlugin::StatusCode(std::int32_t code) {
    SetStatus(code, dlgActive_);
}

void clsPlugin::StatusInfoStr(std::string_view text) {
    SetStatus(statusCode_, dlgActive_, text);
}

void clsPlugin::ExStatusCode(std::int32_t StatCode, std::string_view InfoStr) {
    SetStatus(StatCode, dlgActive_, InfoStr);
}

void clsPlugin::SetupActive(bool active) {
    SetStatus(statusCode_, active);
}

StatusRecord clsPlugin::StatusData() const {
    StatusRecord r;
    r.set(StatusRecord::size, StatusRecord::kSize);
    r.set(StatusRecord::statusCode, statusCode_);
    r.set(StatusRecord::dialogActive, dlgActive_);
    return r;
}

ExStatusRecord clsPlugin::buildExStatus() const {
    ExStatusRecord r;
    r.set(ExStatusRecord::size, ExStatusRecord::kSize);
    r.set(ExStatusRecord::statusCode, statusCode_);
    r.set(ExStatusRecord::dialogActive, dlgActive_);
    r.set(ExStatusRecord::infoText, utf8ToUtf16(infoStr_));
    return r;
}

void clsPlugin::reportStatus(std::string_view failureTextEx, std::string_view failureText) {
    if (!infoStr_.empty()) {
        if (xray_.ExSendStatus(kv2hWnd_, hookedHWnd_, buildExStatus()) == 0) Trace(failureTextEx);
    } else {
        if (xray_.SendStatus(kv2hWnd_, hookedHWnd_, StatusData()) == 0) Trace(failureText);
    }
}

void clsPlugin::SetStatus(std::int32_t StatCode, bool DlgActive,
                          std::optional<std::string_view> InfStr) {
    if (StatCode == kDontChangeStatusCode) {
        Trace(E + ":SetStatus:Me.DontChangeStatusCode");
        return;
    }
    if (StatCode != statusCode_) infoStr_.clear();
    bool changed = StatCode != statusCode_ || DlgActive != dlgActive_;
    if (InfStr && *InfStr != infoStr_) {
        changed = true;
        infoStr_ = std::string(*InfStr);
    }
    if (!changed) return;
    statusCode_ = StatCode;
    dlgActive_ = DlgActive;
    if (PluginEvents* events = events_.get())
        events->StatusChange(statusCode_, dlgActive_, infoStr_);
    if (initialized_) {
        reportStatus("Error: clsPlugin.SetStatus(), ExSendStatus failed.",
                     "Error: clsPlugin.SetStatus(), SendStatus failed.");
    }
}

// --- hooking -------------------------------------------------------------------------------------

void clsPlugin::HookMessages(std::span<const std::int64_t> MessageIDs) {
    hookedMessage_ = MessageIDs.empty()
                         ? 0
                         : static_cast<platform::MsgId>(static_cast<std::int32_t>(MessageIDs[0]));
}

void clsPlugin::Hook(Hwnd hWnd, bool Announce) {
    if (hookedHWnd_ != 0) return;
    hookedHWnd_ = hWnd;
    hook_.SetHookTarget(this);
    previousProc_ = platform_.windows().subclassWindow(hWnd, &hook_);
    if (previousProc_ == 0) {
        // Nothing was installed (no such window): stay unhooked and say so.
        Trace(E + ":Hook failed for window " + longText(hWnd));
        hookedHWnd_ = 0;
        hook_.SetHookTarget(nullptr);
        return;
    }
    if (Announce) xray_.SendRegisterPlugIn(hWnd);
}

void clsPlugin::Unhook() {
    if (hookedHWnd_ == 0) return;
    platform_.windows().restoreWindowProc(hookedHWnd_, previousProc_);
    previousProc_ = 0;
    hookedHWnd_ = 0;
    hook_.SetHookTarget(nullptr);
}

// --- services ------------------------------------------------------------------------------------

platform::LResult clsPlugin::SendSettingsAsString(std::string_view aStr) {
    if (!initialized_) {
        Trace(E + ":SendSettingsAsString " + ":UN-initialized , when SendSetupH(.. was called.");
        return 0;
    }
    auto block = MakeSettingsBlock(xray_.memory(), aStr);
    if (!block) {
        Trace(E + ":SendSettingsAsString: no memory for the settings block.");
        return 0;
    }
    // The block is freed when `block` goes, whatever SendSettings does.
    return xray_.SendSettings(kv2hWnd_, hookedHWnd_, block->ref(), true);
}

void clsPlugin::ShowDialog(std::string_view Msg, std::optional<std::string> Caption,
                           std::optional<std::int32_t> Style, std::optional<bool> Annoying) {
    if (DialogPort* dialogs = dialogs_.get()) {
        dialogs->ShowDlg(Msg, Caption, Style, Annoying);
        return;
    }
    // Before the message dialog exists the message still reaches the user, in a message box.
    platform_.process().messageBox(hookedHWnd_, Msg,
                                   Caption ? *Caption : platform_.process().version().title,
                                   platform::mb::kIconExclamation);
}

void clsPlugin::Trace(std::string_view Msg) {
    trace_.TraceLine(Msg);
    if (PluginEvents* events = events_.get()) {
        std::string m(Msg);
        events->TraceEvt(m);
    }
}

void clsPlugin::ActiveSecondsLeft(std::int32_t value) {
    if (value < -1) value = -1;
    if (value == secondsLeft_) return;
    const std::int32_t previous = secondsLeft_;
    secondsLeft_ = value;
    const platform::LResult answer = xray_.SendSecondsLeft(kv2hWnd_, hookedHWnd_, value);
    if (answer != 0) {
        secondsLeftFailureReported_ = false;
        if (value <= 5 || previous <= 0) {
            Trace("clsPlugin.ActiveSecondsLeft.Let=" + std::to_string(value));
        }
    } else if (!secondsLeftFailureReported_) {
        Trace("Error: clsPlugin.ActiveSecondsLeft.Let, SendMessage failed.");
        secondsLeftFailureReported_ = true;
    }
}

void clsPlugin::WM_CLOSE(std::optional<Hwnd> hWindow) {
    const Hwnd target = (hWindow && *hWindow != 0) ? *hWindow : hookedHWnd_;
    if (target != 0) platform_.windows().postMessage(target, platform::wm::kClose, 0, 0);
}

// --- receiving -----------------------------------------------------------------------------------

platform::LResult clsPlugin::WindowProc(Hwnd hwnd, platform::MsgId uMsg, platform::WParam wParam,
                                        platform::LParam lParam) {
    platform::LResult r = 0;
    if (interfaceMsg_ != 0 && uMsg == interfaceMsg_) {
        r = OnInterfaceMessage(hwnd, wParam, lParam);
        if (r != 0) return r;
    }
    if (uMsg == platform::wm::kCopyData) {
        r = OnCopyData(wParam, lParam);
        if (r != 0) return r;
    }
    if (hookedMessage_ != 0 && uMsg == hookedMessage_) {
        r = 0;
        if (PluginEvents* events = events_.get()) events->HookedMessage(uMsg, wParam, lParam, r);
        if (r != 0) return r;
    }
    if (uMsg == platform::wm::kSysCommand) {
        r = 0;
        if (PluginEvents* events = events_.get()) events->WmSysCommand(wParam, lParam, r);
        if (r != 0) return r;
    }
    auto& windows = platform_.windows();
    if (previousProc_ != 0)
        return windows.callWindowProc(previousProc_, hwnd, uMsg, wParam, lParam);
    return windows.defWindowProc(hwnd, uMsg, wParam, lParam);
}

platform::LResult clsPlugin::OnInterfaceMessage(Hwnd /*hwnd*/, platform::WParam wParam,
                                                platform::LParam lParam) {
    const std::int32_t lp = asLong(lParam);
    if (wParam == hookedHWnd_ && wParam != 0 && lp == kNextCommandLParam) {
        ProcessNextCommand();
        return -1;
    }
    if (lp != kEnumerateLParam) return 0;
    return OnEnumeratePlugIns(wParam) ? -1 : 0;
}

bool clsPlugin::OnEnumeratePlugIns(platform::WParam wParam) {
    if (!platform_.windows().isWindow(wParam)) {
        Trace(E + ":Invalid window handle, when received:" + N(cmd::kEnumeratePlugIns));
        return false;
    }
    std::int32_t cmdNo = cmd::kEnumeratePlugIns;
    if (PluginEvents* events = events_.get()) events->EnumeratePlugins(cmdNo);
    xray_.SendRegisterPlugIn(hookedHWnd_);
    cmdNo = cmd::kRegisterPlugIn;
    if (PluginEvents* events = events_.get()) events->RegisterPlugin(cmdNo);
    return true;
}

platform::LResult clsPlugin::OnCopyData(platform::WParam wParam, platform::LParam lParam) {
    if (lParam == 0) {
        Trace(E + ":WM_COPYDATA without a descriptor");
        return 0;
    }
    const platform::CopyData cd = platform::copyDataOf(lParam);
    const auto code = static_cast<std::int32_t>(static_cast<std::uint32_t>(cd.dwData & 0xFFFFFFFF));
    const std::uint32_t cbData = cd.cbData;
    if (cd.lpData == nullptr && cbData > 0) {
        // A descriptor that promises data it does not carry is refused, never read.
        Trace(E + ":no data (lpData=0) cbData=" + std::to_string(cbData));
        return 0;
    }
    const std::span<const std::byte> data(static_cast<const std::byte*>(cd.lpData), cbData);

    if (initialized_ && kv2hWnd_ != 0 && wParam != kv2hWnd_) {
        Trace(E + ":invalid caller (wParam <> mvarKV2hWnd)");
        return 0;
    }
    if (!initialized_ && code == cmd::kInitializePlugin) {
        kv2hWnd_ = 0;
        if (cbData == 4) kv2hWnd_ = platform::handleFromRecord(getLE32(data.data()));
        if (kv2hWnd_ == 0 || !platform_.windows().isWindow(kv2hWnd_)) {
            Trace(E + ":invalid window handle in: clsPlugin.InitializePlugin command");
            kv2hWnd_ = 0;
            return 0;
        }
    }
    if (!isAcceptedCommand(code)) {
        Trace(E + ":Unknown command(dwData): " + std::to_string(code) +
              " cbData=" + std::to_string(cbData));
        return 0;
    }
    if (!xray_.fifo().FifoPut(wParam, code, data)) {
        Trace(E + ":Command FIFO full.");
        return 0;
    }
    auto& windows = platform_.windows();
    if (!windows.postMessage(hookedHWnd_, interfaceMsg_, hookedHWnd_, kNextCommandLParam)) {
        // The command stays queued; the next post takes it.
        Trace(E + ":No: " + std::to_string(windows.lastError()) + " when PostMessage.");
    }
    return -1;
}

void clsPlugin::ProcessNextCommand() {
    CommandEntry entry;  // frees its data copy on every way out
    if (!xray_.fifo().FifoGet(entry)) return;
    const std::int32_t n = entry.code;
    bool ok = true;
    if (n != cmd::kSetSettings && entry.size != 4) {
        Trace(E + ":invalid data-size, " + N(n));
        ok = false;
    }
    if (ok) {
        if (entry.sender != kv2hWnd_) {
            Trace(E + ":invalid wParam(" + longText(entry.sender) + ")(window handle) " + N(n));
            ok = false;
        }
        const bool dataIsHostWindow = n != cmd::kSetSettings && n != cmd::kActivateCapture &&
                                      n != cmd::kImageStored && n != cmd::kGetSensorInformation;
        if (dataIsHostWindow && entry.value() != platform::handleToRecord(kv2hWnd_)) {
            Trace(E + "invalid lpData(" + std::to_string(entry.value()) + ")(window handle) " +
                  N(n));
            ok = false;
        }
    }
    if (!ok) return;
    if (n != cmd::kInitializePlugin && !initialized_) {
        Trace(E + ":Not initialized, when received:" + N(n));
        return;
    }
    handleCommand(n, entry);
}

void clsPlugin::handleCommand(std::int32_t n, const CommandEntry& entry) {
    switch (n) {
        case cmd::kInitializePlugin:
            cmdInitializePlugin(n);
            break;
        case cmd::kShutdownPlugin:
            cmdShutdownPlugin(n);
            break;
        case cmd::kGetInformation:
            cmdGetInformation(n);
            break;
        case cmd::kGetCapabilities:
            cmdGetCapabilities(n);
            break;
        case cmd::kGetStatus:
            cmdGetStatus(n);
            break;
        case cmd::kActivateSetup:
            cmdActivateSetup(n);
            break;
        case cmd::kGetSettings:
            cmdGetSettings(n);
            break;
        case cmd::kSetSettings:
            cmdSetSettings(n, entry);
            break;
        case cmd::kActivateCapture:
            cmdActivateCapture(n, entry.value());
            break;
        case cmd::kImageStored:
            cmdImageStored(n, entry.value());
            break;
        case cmd::kStopCapture:
            cmdStopCapture(n);
            break;
        case cmd::kGetSensorCount:
            cmdGetSensorCount(n);
            break;
        case cmd::kGetSensorInformation:
            cmdGetSensorInformation(n, entry.value());
            break;
        default:
            Trace(E + ":Unhandled function: " + N(n));
            break;
    }
}

// --- command handlers ----------------------------------------------------------------------------

void clsPlugin::cmdInitializePlugin(std::int32_t n) {
    if (initialized_) {
        Trace(E + ":Already initialized, when received:" + N(n));
        return;
    }
    initialized_ = true;
    StatusCode(status::kIdle);
    std::int32_t cmdNo = n;
    if (PluginEvents* events = events_.get()) events->InitializePlugin(cmdNo);
}

void clsPlugin::cmdShutdownPlugin(std::int32_t n) {
    std::int32_t cmdNo = n;
    std::int32_t newStatus = status::kUninitialized;
    if (PluginEvents* events = events_.get()) events->ShutdownPlugin(cmdNo, newStatus);
    if (newStatus == kDontChangeStatusCode) return;
    StatusCode(newStatus);  // reported while still initialised
    initialized_ = false;
    kv2hWnd_ = 0;
}

void clsPlugin::cmdGetInformation(std::int32_t n) {
    std::int32_t cmdNo = n;
    InformationRecord reply;
    if (PluginEvents* events = events_.get()) events->GetInformation(cmdNo, reply);
    reply.set(InformationRecord::size, InformationRecord::kSize);
    reply.set(InformationRecord::reserved12, 0);
    xray_.SendInformation(kv2hWnd_, hookedHWnd_, reply);
}

void clsPlugin::cmdGetCapabilities(std::int32_t n) {
    std::int32_t cmdNo = n;
    CapabilitiesRecord reply = capabilities_;
    if (PluginEvents* events = events_.get()) events->GetCapabilities(cmdNo, reply);
    capabilities_ = reply;
    capabilities_.set(CapabilitiesRecord::size, CapabilitiesRecord::kSize);
    xray_.SendCapabilities(kv2hWnd_, hookedHWnd_, capabilities_);
}

void clsPlugin::cmdGetStatus(std::int32_t n) {
    std::int32_t cmdNo = n;
    if (PluginEvents* events = events_.get()) events->GetStatus(cmdNo);
    reportStatus("Error: clsPlugin.cmdGetStatus(), ExSendStatus failed.",
                 "Error: clsPlugin.cmdGetStatus(), SendStatus failed.");
}

void clsPlugin::cmdActivateSetup(std::int32_t n) {
    std::int32_t cmdNo = n;
    if (PluginEvents* events = events_.get()) events->ActivateSetup(cmdNo);
}

void clsPlugin::cmdGetSettings(std::int32_t n) {
    std::int32_t cmdNo = n;
    if (PluginEvents* events = events_.get()) events->GetSettings(cmdNo);
}

void clsPlugin::cmdSetSettings(std::int32_t n, const CommandEntry& entry) {
    auto& mem = xray_.memory();
    const HGlobal block = entry.copy.handle();  // 0 when the data was 4 bytes or fewer
    const auto header = ReadSettingsHeader(mem, entry.size, block);
    if (!header) {
        Trace(E + ":Retrieving settings when received:" + N(n));
        return;
    }
    if (header->get(SettingsHeader::streamFlag)) {
        Trace(E + ":Stream-settings are unsupported when received:" + N(n));
        return;
    }
    auto text = ReadSettingsText(mem, entry.size, block);
    if (!text) {
        Trace(E + ":Retrieving string-settings when received:" + N(n));
        return;
    }
    std::int32_t cmdNo = n;
    if (PluginEvents* events = events_.get()) events->SetSettingsAsString(cmdNo, *text);
}

void clsPlugin::cmdActivateCapture(std::int32_t n, std::int32_t sensorNo) {
    std::int32_t cmdNo = n;
    std::int32_t newStatus = status::kActive;
    if (PluginEvents* events = events_.get()) events->ActivateCapture(cmdNo, sensorNo, newStatus);
    if (newStatus != kDontChangeStatusCode) StatusCode(newStatus);
}

void clsPlugin::cmdImageStored(std::int32_t n, std::int32_t imageId) {
    std::int32_t cmdNo = n;
    if (PluginEvents* events = events_.get()) events->ImageStored(cmdNo, imageId);
    if (KeepImages()) DeleteNewImage(imageId);
}

void clsPlugin::cmdStopCapture(std::int32_t n) {
    std::int32_t cmdNo = n;
    std::int32_t newStatus = status::kIdle;
    if (PluginEvents* events = events_.get()) events->StopCapture(cmdNo, newStatus);
    if (newStatus != kDontChangeStatusCode) StatusCode(newStatus);
}

void clsPlugin::cmdGetSensorCount(std::int32_t n) {
    std::int32_t cmdNo = n;
    SensorCountRecord reply;
    if (PluginEvents* events = events_.get()) events->GetSensorCount(cmdNo, reply);
    reply.set(SensorCountRecord::size, SensorCountRecord::kSize);
    xray_.SendSensorCount(kv2hWnd_, hookedHWnd_, reply);
}

void clsPlugin::cmdGetSensorInformation(std::int32_t n, std::int32_t sensorNo) {
    std::int32_t cmdNo = n;
    SensorInfoRecord reply;
    if (PluginEvents* events = events_.get()) events->GetsensorInformation(cmdNo, sensorNo, reply);
    reply.set(SensorInfoRecord::size, SensorInfoRecord::kSize);
    xray_.SendSensorInformation(kv2hWnd_, hookedHWnd_, reply);
}

}  // namespace quilo::host
