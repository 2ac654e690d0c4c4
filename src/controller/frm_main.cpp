#include "controller/frm_main.h"

#include <algorithm>
#include <new>
#include <utility>

#include "controller/plugin_process.h"
#include "core/error.h"
#include "core/text.h"
#include "core/value_text.h"
#include "host/xray_ifc.h"
#include "ui/text_ids.h"

namespace quilo::controller {

using platform::Hwnd;

namespace {

constexpr platform::WParam kScClose = 0xF060;

// A 16 x 16 status picture in colour: a disc (or the stop sign's octagon) with a dark outline
// on white, so the state reads at a glance and the shapes still differ for colour-blind users.
std::shared_ptr<const forms::DisplayImage> statusPicture(bool octagon, std::uint32_t rgb) {
    constexpr int n = 16;
    std::vector<std::uint8_t> px(n * n * 4, 0xFF);
    auto inside = [octagon](int dx, int dy, int r) {
        const int ax = std::abs(dx), ay = std::abs(dy);
        return octagon ? ax <= r && ay <= r && ax + ay <= r * 10 / 7 : dx * dx + dy * dy <= r * r;
    };
    auto put = [&px](int x, int y, std::uint32_t colour) {
        const auto at = static_cast<std::size_t>(y * n + x) * 4;
        px[at] = static_cast<std::uint8_t>(colour & 0xFF);              // blue
        px[at + 1] = static_cast<std::uint8_t>((colour >> 8) & 0xFF);   // green
        px[at + 2] = static_cast<std::uint8_t>((colour >> 16) & 0xFF);  // red
        px[at + 3] = 0;
    };
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            const int dx = 2 * x - (n - 1);
            const int dy = 2 * y - (n - 1);
            if (inside(dx, dy, 15)) put(x, y, 0x202020);
            if (inside(dx, dy, 12)) put(x, y, rgb);
        }
    }
    return forms::makeDisplayImage(n, n, 32, std::move(px));
}

}  // namespace

std::int32_t kindCode(std::int32_t imageType) {
    switch (imageType) {
        case scanner::kIntraoral:
            return 1;
        case scanner::kCephalometric:
            return 5;
        case scanner::kPanoramic:
            return 4;
        default:
            return 0;
    }
}

frmMain::frmMain(PluginProcess& process)
    : forms::Form(process.forms(), "frmMain"),
      txtLog(add<forms::TextBox>("txtLog")),
      tmrAlive(add<forms::Timer>("tmrAlive")),
      ActiveTimer(add<forms::Timer>("ActiveTimer")),
      Command1(add<forms::CommandButton>("Command1")),
      leadIMG(process.platform().memory(), add<forms::ImageView>("leadIMG")),
      tmrGetStatus(add<forms::Timer>("tmrGetStatus")),
      cmdScan(add<forms::CommandButton>("cmdScan")),
      imgICONS(add<forms::ImageList>("imgICONS")),
      Label1(add<forms::Label>("Label1")),
      imgStatus(add<forms::Picture>("imgStatus")),
      lblStatus(add<forms::Label>("lblStatus")),
      mnuPopUp(add<forms::Menu>("mnuPopUp")),
      mnuStartScan(add<forms::Menu>("mnuStartScan")),
      mnuCancelScan(add<forms::Menu>("mnuCancelScan")),
      mnuSetup(add<forms::Menu>("mnuSetup")),
      mnuExit(add<forms::Menu>("mnuExit")),
      process_(process),
      dlgContext_{process.forms(), &process.language(),
                  [&process] { return process.sensors().ScannerModel; },
                  [this] { return HostParentWindow; }, this} {
    // Form_Initialize: the trace's writing end. (Common controls are the renderer's concern.)
    process_.trace().TraceOpen(false);

    setBorderStyle(forms::BorderStyle::FixedSingle);
    move(0, 0, 5520, 4380);
    setClientSize(5400, 3900);

    imgStatus.move(120, 120, 480, 480);
    lblStatus.setCaption("Status");
    lblStatus.move(720, 180, 4560, 300);
    Label1.move(720, 480, 4560, 255);
    txtLog.setMultiLine(true);
    txtLog.setLocked(true);
    txtLog.move(120, 780, 5160, 2400);
    cmdScan.setCaption("Start");
    cmdScan.setTag("1020");
    cmdScan.move(120, 3360, 1215, 375);
    Command1.setCaption("OK");
    Command1.setTag("1030");
    Command1.move(1455, 3360, 1215, 375);
    leadIMG.view().setVisible(false);
    leadIMG.view().move(4200, 3360, 1080, 375);

    tmrAlive.setInterval(20000);
    tmrAlive.setEnabled(true);
    ActiveTimer.setInterval(5);
    ActiveTimer.setEnabled(false);
    tmrGetStatus.setInterval(200);
    tmrGetStatus.setEnabled(true);

    imgICONS.add("StopSign", statusPicture(true, 0xC81E1E));
    imgICONS.add("RedCir", statusPicture(false, 0xE03C32));
    imgICONS.add("YellowCir", statusPicture(false, 0xF5C814));
    imgICONS.add("GreenCir", statusPicture(false, 0x28A046));
    imgICONS.add("BlackCir", statusPicture(false, 0x000000));

    mnuPopUp.setCaption("POPUP MENU");
    mnuPopUp.setVisible(false);
    mnuStartScan.setCaption("Start Capture");
    mnuCancelScan.setCaption("Abort Capture");
    mnuSetup.setCaption("Setup...");
    mnuExit.setCaption("Exit");
    for (forms::Menu* item : {&mnuStartScan, &mnuCancelScan, &mnuSetup, &mnuExit})
        item->setContainer(&mnuPopUp);

    onLoad = [this] { Form_Load(); };
    onUnload = [this](bool& cancel) { Form_Unload(cancel); };
    onMouseDown = [this](int button, int, int, int) {
        if (button == forms::mouse::kRight) showPopup();
    };
    lblStatus.onMouseDown = [this](int button, int, int, int) {
        if (button == forms::mouse::kRight) showPopup();
    };
    // The context-menu key opens the pop-up menu whichever control has the focus.
    setKeyPreview(true);
    onKeyUp = [this](int keyCode, int) {
        if (keyCode == forms::key::kApps) showPopup();
    };
    mnuStartScan.onClick = [this] { (void)doActivateCapture(); };
    mnuCancelScan.onClick = [this] { doStopCapture(); };
    mnuSetup.onClick = [this] { doSetup(); };
    Command1.onClick = [this] { Command1_Click(); };
    cmdScan.onClick = [this] { cmdScan_Click(); };
    ActiveTimer.onTimer = [this] { ActiveTimer_Timer(); };
    mnuExit.onClick = [this] {
        doStopCapture();
        if (Plugin() != nullptr) Plugin()->WM_CLOSE(hwnd());
    };
    tmrAlive.onTimer = [this] { tmrAlive_Timer(); };

    linkPreview();
    logBox_ = process_.log().attachLogBox(*this);
    process_.log().setVisibleMode([&process] { return process.settings().PluginIsVisible(); });
}

host::clsPlugin* frmMain::Plugin() const {
    return process_.plugin();
}

// --- start-up ----------------------------------------------------------------------------------

void frmMain::Form_Load() {
    long number = 0;
    std::string description;
    try {
        loadSteps();
        return;
    } catch (...) {
        const RuntimeError e = currentError("frmMain");
        number = e.number();
        description = e.description();
    }
    const std::string msg =
        "Error during frmMain.Load(), can't continue\r\nErrno:" + std::to_string(number) +
        "\r\nDescription:" + description;
    ShowDialog(msg);
    platform().windows().postMessage(hwnd(), platform::wm::kClose, 0, 0);
}

void frmMain::loadSteps() {
    platform::Platform& p = platform();
    // One plug-in per session: a second copy ends before it shows or announces anything.
    if (!process_.takeInstanceGuard()) {
        process_.endAtOnce();
        return;
    }
    // Every form hands itself to the forms collection as it loads (Forms::onFormLoad).
    // The sensors start empty; the scanner fills them when it is opened.
    scanner::SensorAPI& scanner = process_.sensors();
    scanner.Sensors.clear();
    // "/TEST" anywhere on the command line shows the form and marks its caption.
    TestMode = upper(p.process().commandLine()).find("/TEST") != std::string::npos;
    imaging::EnhancementComponent& enhancement = process_.createEnhancement();
    // Defaults first, then what the registry holds.
    settings::SettingsStore& store = process_.settings();
    store.SetDefaultOptions();
    store.LoadSetup();  // the scanner connection shares the current set with the settings
    // The enhancement component keeps its settings under the product's names.
    enhancement.setProductName(p.process().version().productName);
    enhancement.setShortName(store.names().PluginShortName);
    // The language the settings name, and this form in it.
    process_.language().setTranslatorMode(false);
    process_.language().Initlanguage(store.names().Language);
    process_.language().TranslateForm(*this);
    SetProgramDirectory();
    setCaption(productTitle());
    // The host endpoint, with this form as its events and dialogs, and the language's texts.
    host::clsPlugin& plugin = process_.createPlugin();
    pluginEvents_ = plugin.attachEvents(*this);
    pluginDialogs_ = plugin.attachDialogPort(*this);
    plugin.setTextSource(
        [&language = process_.language()](int number) { return language.LangText(number); });
    plugin.CapabilitiesData(Capabilities());
    if (TestMode) {
        store.settings().Visible = 1;
        setCaption(caption() + " [Testmode]");
    }
    // From here the host's messages arrive.
    plugin.Hook(hwnd(), true);
    PlaceMainForm();
    // A log file that cannot be written stops the load here, like any other error.
    process_.log().LogMsg("Plugin started --------------------------");
    // The status picture and texts show the endpoint's state from the start.
    std::int32_t code = plugin.StatusCode();
    bool dlg = plugin.SetupActive();
    std::string info = plugin.StatusInfoStr();
    StatusChange(code, dlg, info);
    // Plates an earlier session read but never delivered (it ended on the way): saved now;
    // the user is told where once the host has connected.
    recoverPlates();
}

std::string frmMain::productTitle() const {
    const std::string& model = process_.sensors().ScannerModel;
    return replaceAll(process_.language().LangText(ui::txt::kProductTitle), "XXX",
                      model.empty() ? std::string("Quilo") : model);
}

void frmMain::SetProgramDirectory() {
    // Setting the program's full path changes drive and directory in one step; when it
    // already is the current directory nothing changes. A failure is of no consequence.
    platform::Files& files = platform().files();
    (void)files.setCurrentDirectory(files.programFolder());
}

void frmMain::PlaceMainForm() {
    const settings::PluginSettings& s = process_.settings().settings();
    if (s.Visible == 1)
        show();
    else
        hide();
    platform::Display& display = platform().display();
    const int screenWidth =
        display.systemMetrics(platform::sm::kCxScreen) * display.twipsPerPixelX();
    const int screenHeight =
        display.systemMetrics(platform::sm::kCyScreen) * display.twipsPerPixelY();
    int newLeft = s.Left;
    if (newLeft < 0 || newLeft > screenWidth) newLeft = (screenWidth - width()) / 2;
    setLeft(newLeft);
    int newTop = s.Top;
    if (newTop < 0 || newTop > screenHeight) newTop = (screenHeight - height()) / 2;
    setTop(newTop);
}

host::CapabilitiesRecord frmMain::Capabilities() {
    host::CapabilitiesRecord r;
    r.set(r.size, 20);
    r.set(r.reserved4, 0);
    r.set(r.flag8, true);
    r.set(r.keepImages, true);
    r.set(r.flag12, false);
    r.set(r.flag14, true);
    r.set(r.flag16, true);
    r.set(r.flag18, false);
    return r;
}

void frmMain::LogMsg(std::string_view message) {
    try {
        process_.log().LogMsg(message);
    } catch (const RuntimeError& e) {
        process_.trace().TraceLine(formatError(e, "frmMain.LogMsg"));
    }
}

// --- host commands -----------------------------------------------------------------------------

void frmMain::lookUpAppOwner() {
    if (AppOwnerWindow == 0) AppOwnerWindow = platform().windows().getOwner(hwnd());
}

void frmMain::applicationWindowLost() {
    AppOwnerWindow = 0;
    AppWindowReparented = false;
    unload(forms::UnloadMode::Code);
}

void frmMain::restoreAppParent() {
    if (AppOwnerWindow == 0 || !AppWindowReparented) return;
    platform().windows().setParent(AppOwnerWindow, PreviousParentWindow);
    AppWindowReparented = false;
}

void frmMain::reparentAppInto(Hwnd parent) {
    // Without an application window (the forms have no owner) there is nothing to move.
    if (AppOwnerWindow == 0) return;
    platform::WindowSystem& w = platform().windows();
    const Hwnd previous = w.setParent(AppOwnerWindow, parent);
    // A window that is not there any more leaves the application window where it was.
    if (w.getParent(AppOwnerWindow) != parent) return;
    PreviousParentWindow = previous;
    AppWindowReparented = true;
}

void frmMain::InitializePlugin(std::int32_t& /*cmdNo*/) {
    InitCalled = true;
    const Hwnd host = Plugin()->KV2hWnd();
    if (host != 0) {
        if (HostParentWindow == 0) HostParentWindow = host;
        lookUpAppOwner();
        restoreAppParent();
        // Back under its previous parent; into the host's window unless that is where it is.
        if (AppOwnerWindow != 0 &&
            platform().windows().getParent(AppOwnerWindow) != HostParentWindow)
            reparentAppInto(HostParentWindow);
    }
    LogMsg("Plugin initialized");
    process_.sensors().InitializeHardware();
    if (!recoveredMessage_.empty())
        doShowDialog(std::exchange(recoveredMessage_, {}), productTitle(), 0);
}

void frmMain::ShutdownPlugin(std::int32_t& /*cmdNo*/, std::int32_t& /*newStatusCode*/) {
    unload(forms::UnloadMode::Code);
}

void frmMain::GetInformation(std::int32_t& /*cmdNo*/, host::InformationRecord& r) {
    platform::Platform& p = platform();
    const platform::VersionInfo v = p.process().version();
    r.set(r.size, 336);
    switch (process_.sensors().CurrentImageType()) {
        case scanner::kIntraoral:
            r.set(r.imageKind, 1);
            break;
        case scanner::kCephalometric:
            r.set(r.imageKind, InitCalled ? 5 : 4);
            break;
        case scanner::kPanoramic:
            r.set(r.imageKind, 4);
            break;
        default:
            break;
    }
    r.set(r.value8, 24);
    r.set(r.productText, v.productName + " ver: " + std::to_string(v.major) + "." +
                             std::to_string(v.minor) + "(." + std::to_string(v.revision) + ")");
    r.set(r.programPath, p.files().programFolder() + "\\" + p.files().programName() + ".exe");
}

void frmMain::GetCapabilities(std::int32_t& /*cmdNo*/, host::CapabilitiesRecord& reply) {
    reply = Capabilities();
}

void frmMain::GetSensorCount(std::int32_t& /*cmdNo*/, host::SensorCountRecord& r) {
    r.set(r.size, 8);
    r.set(r.count, static_cast<std::int32_t>(process_.sensors().Sensors.count()) + 1);
}

void frmMain::GetsensorInformation(std::int32_t& /*cmdNo*/, std::int32_t& SensorNo,
                                   host::SensorInfoRecord& r) {
    scanner::SensorAPI& scanner = process_.sensors();
    const auto count = static_cast<std::int32_t>(scanner.Sensors.count());
    r.set(r.size, 220);
    r.set(r.sensorNo, SensorNo);
    bool simulated = false;
    if (SensorNo >= 1 && SensorNo <= count) {
        if (const scanner::cSensor* s = scanner.Sensors.find(scanner::sensorKey(SensorNo))) {
            r.set(r.name, s->ParamName);
            r.set(r.showAsTool, s->bShowAsTool);
            r.set(r.imageKind, kindCode(s->ImageType));
        }
    } else if (SensorNo == 0) {
        // Before the scanner has been opened the current set is not known yet: the default
        // entry then carries no set name and the kind of the remembered image type.
        const scanner::cSensor* s =
            scanner.Sensors.find(scanner::sensorKey(scanner.CurrentParamSetNr()));
        r.set(r.name, "(Default) " + (s != nullptr ? s->ParamName : std::string()));
        r.set(r.showAsTool, false);
        r.set(r.imageKind, kindCode(s != nullptr ? s->ImageType : scanner.CurrentImageType()));
    } else if (SensorNo > count) {
        simulated = true;
        r.set(r.name, "Simulate capture");
        r.set(r.showAsTool, false);
        r.set(r.imageKind, 1);
    }
    r.set(r.value88, 2);
    r.set(r.text, scanner.ScannerMaker);
    r.set(r.description,
          scanner.ScannerModel + (simulated ? " TEST IMAGE / " : " / ") + scanner.ScannerSerial);
}

void frmMain::SetSettingsAsString(std::int32_t& /*cmdNo*/, std::string& Settings) {
    const std::string prefix = upper(std::string_view(Settings).substr(0, 3));
    const std::string value = Settings.size() > 4 ? Settings.substr(4) : std::string();
    settings::SetupNames& names = process_.settings().names();
    ui::modLAnguageSelector& language = process_.language();
    if (prefix == "LAN" || prefix == "TRA") {
        names.Language = value;
        language.setTranslatorMode(prefix == "TRA");
        language.Initlanguage(names.Language);
        if (visible()) language.TranslateForm(controls());
        // An open preview window speaks the new language too (its status line follows with
        // the next change of selection).
        if (prescan_ && prescan_->loaded()) prescan_->translate();
        // The status line is one of the language's texts too: shown again in the new language
        // at once rather than at the next status change (without logging the status again).
        if (host::clsPlugin* plugin = Plugin())
            showStatus(plugin->StatusCode(), plugin->StatusInfoStr());
    } else if (prefix == "PHW") {
        HostParentWindow = platform::handleFromRecord(roundToInt32(leadingNumber(value)));
        if (HostParentWindow != 0) {
            lookUpAppOwner();
            restoreAppParent();
            reparentAppInto(HostParentWindow);
        }
    }
}

void frmMain::StopCapture(std::int32_t& /*cmdNo*/, std::int32_t& /*newStatusCode*/) {
    doStopCapture();
}

void frmMain::StatusChange(std::int32_t& StatCode, bool& /*DlgActive*/, std::string& InfoStr) {
    LogMsg(InfoStr);
    showStatus(StatCode, InfoStr);
}

void frmMain::showStatus(std::int32_t StatCode, const std::string& InfoStr) {
    imgStatus.setToolTipText(host::StatusName(StatCode));
    switch (StatCode) {
        case host::status::kUninitialized:
            SetStatusIcon("StopSign");
            cmdScan.setEnabled(false);
            mnuStartScan.setEnabled(false);
            mnuCancelScan.setEnabled(false);
            mnuSetup.setEnabled(true);
            lblStatus.setCaption(process_.language().LangText(ui::txt::kStatusNotInitialized));
            lblStatus.setForeColor(forms::color::kRed);
            break;
        case host::status::kIdle:
            SetStatusIcon("RedCir");
            cmdScan.setEnabled(true);
            mnuStartScan.setEnabled(true);
            mnuCancelScan.setEnabled(false);
            mnuSetup.setEnabled(true);
            lblStatus.setCaption(process_.language().LangText(ui::txt::kStatusIdle));
            lblStatus.setForeColor(forms::color::kSystemButtonText);
            break;
        case host::status::kBusy:
            SetStatusIcon("YellowCir");
            mnuStartScan.setEnabled(false);
            mnuCancelScan.setEnabled(false);
            mnuSetup.setEnabled(false);
            lblStatus.setCaption(InfoStr);
            lblStatus.setForeColor(forms::color::kSystemButtonText);
            break;
        case host::status::kActive:
            SetStatusIcon("GreenCir");
            mnuStartScan.setEnabled(false);
            mnuCancelScan.setEnabled(true);
            mnuSetup.setEnabled(true);
            break;
        default:
            SetStatusIcon("BlackCir");
            mnuStartScan.setEnabled(false);
            mnuCancelScan.setEnabled(false);
            mnuSetup.setEnabled(false);
            break;
    }
}

void frmMain::SetStatusIcon(std::string_view name) {
    if (imgStatus.tag() == name) return;
    imgStatus.setTag(name);
    imgStatus.setPicture(imgICONS.image(name));
}

void frmMain::WmSysCommand(platform::WParam wParam, platform::LParam /*lParam*/,
                           platform::LResult& result) {
    if ((wParam & 0xFFF0) != kScClose) return;
    if (visible() && Plugin() != nullptr && Plugin()->StatusCode() != 0) {
        // Closing the visible window of a working plug-in only hides it.
        result = -1;
        settings::PluginSettings& s = process_.settings().settings();
        if (s.Visible == 1) {
            s.Visible = 0;
            platform().windows().setWindowPos(hwnd(), platform::kHwndNoTopmost, {},
                                              platform::swp::kNoSize | platform::swp::kNoMove);
            hide();
        }
    } else {
        result = 0;
        doStopCapture();
    }
}

// --- the user interface ------------------------------------------------------------------------

void frmMain::showPopup() {
    popupMenu(mnuPopUp);
}

void frmMain::doShowDialog(std::string_view Msg, std::string_view Caption,
                           std::optional<std::int32_t> ModalType) {
    LogMsg(Msg);
    ShowDialog(Msg, std::string(Caption), ModalType, false);
}

void frmMain::ShowDialog(std::string_view Msg, std::optional<std::string> Caption,
                         std::optional<std::int32_t> Style, std::optional<bool> Annoying) {
    ShowDlg(Msg, Caption, Style, Annoying);
}

void frmMain::ShowDlg(std::string_view Msg, const std::optional<std::string>& Caption,
                      std::optional<std::int32_t> Style, std::optional<bool> Annoying) {
    std::string caption = Caption.value_or(std::string());
    ui::ShowDlg(dlgContext_, Msg, caption, Style.value_or(0), Annoying.value_or(false));
}

void frmMain::tmrAlive_Timer() {
    if (TestMode || Plugin() == nullptr) return;
    platform::WindowSystem& w = platform().windows();
    const Hwnd host = Plugin()->KV2hWnd();
    const bool alive = w.isWindow(host);
    lblStatus.setCaption("KV: (" + std::to_string(platform::handleToRecord(host)) +
                         ") : " + (alive ? "1" : "0") + " " + std::to_string(HostWatchdogCount));
    if (alive) {
        HostWatchdogCount = 0;
    } else if (HostWatchdogCount < 1) {
        ++HostWatchdogCount;
    } else {
        process_.sensors().CloseHardware();
        HostWatchdogCount = 2;
        process_.forms().unloadAllExcept(this, true);
        Plugin()->WM_CLOSE(hwnd());
    }
}

// --- shut-down ---------------------------------------------------------------------------------

void frmMain::Form_Unload(bool& /*cancel*/) {
    // No more polling; the form goes back to its own parent and the scanner is closed.
    ActiveTimer.setEnabled(false);
    restoreAppParent();
    process_.sensors().CloseHardware();
    // An endpoint with a status reports "Uninitialized"; then it goes.
    if (host::clsPlugin* plugin = Plugin()) {
        if (plugin->StatusCode() != 0) plugin->StatusCode(host::status::kUninitialized);
        plugin->Unhook();
        process_.retirePlugin();
    }
    // The window's place is kept for the next start.
    settings::PluginSettings& s = process_.settings().settings();
    s.Left = left();
    s.Top = top();
    process_.sensors().Sensors.clear();
    process_.releaseEnhancement();
    LogMsg("Plugin closed --------------------------");
    // Forms still loaded now were left open by mistake: traced, then unloaded.
    const std::vector<forms::Form*> loaded = process_.forms().loaded();
    for (auto it = loaded.rbegin(); it != loaded.rend(); ++it) {
        forms::Form* f = *it;
        if (f == this) continue;
        process_.trace().TraceLine("frmSorvel_Unload:Dangeling form:" + f->name());
        f->unload(forms::UnloadMode::Code);
    }
    process_.mainFormUnloaded();
}

}  // namespace quilo::controller
