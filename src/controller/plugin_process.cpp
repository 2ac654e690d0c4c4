#include "controller/plugin_process.h"

#include "controller/frm_main.h"
#include "imaging/enhancement_options_form.h"

#include <new>
#include <utility>

namespace quilo::controller {

// The title a hidden application window of a Windows program carries: the program's name.
ApplicationWindow::ApplicationWindow(platform::WindowSystem& windows, std::function<void()> onLost)
    : windows_(windows), onLost_(std::move(onLost)) {
    platform::WindowSpec spec;
    spec.title = "QuiloPlugin";
    hwnd_ = windows_.createWindow(spec, this);
}

ApplicationWindow::~ApplicationWindow() {
    const platform::Hwnd hwnd = std::exchange(hwnd_, 0);
    if (hwnd != 0 && windows_.isWindow(hwnd)) windows_.destroyWindow(hwnd);
}

platform::LResult ApplicationWindow::windowProc(platform::Hwnd hwnd, platform::MsgId msg,
                                                platform::WParam wParam, platform::LParam lParam) {
    // Destroyed by someone else (hwnd_ is still set): the plug-in has lost its windows.
    if (msg == platform::wm::kDestroy && hwnd == hwnd_) {
        hwnd_ = 0;
        if (onLost_) onLost_();
    }
    return windows_.defWindowProc(hwnd, msg, wParam, lParam);
}

PluginProcess::PluginProcess(platform::Platform& platform)
    : platform_(platform),
      trace_(platform_.mailslots(), platform_.clock(), platform_.process()),
      forms_(platform_),
      log_(platform_.files(), platform_.clock(), *this),
      settings_(platform_),
      language_(platform_.files(), platform_.process()),
      xray_(platform_.windows(), platform_.memory(), trace_),
      library_(platform_.libraries()),
      imageHandler_(platform_.memory()),
      sensorApi_(std::make_unique<scanner::SensorAPI>(library_, platform_.files(),
                                                      platform_.process(),
                                                      static_cast<scanner::ScannerHost&>(*this))) {
    sensorApi_->bindCurrentSet(settings_.settings().CurrentParamSetNr,
                               settings_.settings().CurrentParamSet, settings_.CurrentImageType());
}

PluginProcess::~PluginProcess() {
    // A process that ends without its main form having unloaded (a test, or a second
    // instance that never started) still goes through the unload, unless it never began.
    if (main_ && main_->loaded() && !ended_) main_->unload(forms::UnloadMode::Code);
    plugin_.reset();
    // The retired endpoint outlives the main form; the form's registrations with it end with
    // the form, so its end does not reach the form.
    main_.reset();
    retired_.reset();
    forms_.setApplicationWindow(0);
    appWindow_.reset();
    sensorApi_.reset();
    // Form_Terminate: the trace is the last thing to go.
    trace_.TraceClose();
}

bool PluginProcess::start() {
    // The application window exists before the first form loads, so that the main form is
    // owned by it. Without one (creation failed) the forms have no owner and nothing is
    // re-parented into a host.
    appWindow_ = std::make_unique<ApplicationWindow>(platform_.windows(), [this] {
        // The host destroyed the window it had taken the plug-in's windows into: the main
        // form's window went with it. The process ends as if the form had been closed, so that
        // the scanner is released and nothing lingers without a window.
        forms_.setApplicationWindow(0);
        if (main_ && main_->loaded() && !ended_) main_->applicationWindowLost();
    });
    forms_.setApplicationWindow(appWindow_->hwnd());
    main_ = std::make_unique<frmMain>(*this);
    try {
        main_->load();
    } catch (...) {
        // The main form's own error handler is not reached when its window cannot be made:
        // the program says why it cannot start instead of vanishing.
        endBeforeStart(currentError("frmMain"));
    }
    return !ended_ && main_->loaded();
}

void PluginProcess::endBeforeStart(const RuntimeError& e) {
    const std::string text = formatError(e, "frmMain.Load");
    trace_.TraceLine(text);
    platform_.process().messageBox(0, text, platform_.process().version().title,
                                   platform::mb::kIconExclamation);
    ended_ = true;
    exitCode_ = 1;
}

int PluginProcess::run() {
    if (ended_) return exitCode_;
    platform_.windows().runMessageLoop();
    return exitCode_;
}

void PluginProcess::mainFormUnloaded() {
    if (ended_) return;
    ended_ = true;
    exitCode_ = 0;
    platform_.windows().postQuitMessage(exitCode_);
}

bool PluginProcess::takeInstanceGuard() {
    if (!instanceGuard_)
        instanceGuard_ = platform_.process().acquireSingleInstance(kInstanceGuardName);
    return instanceGuard_ != nullptr;
}

host::clsPlugin& PluginProcess::createPlugin() {
    plugin_ = std::make_unique<host::clsPlugin>(platform_, xray_, trace_);
    // An image never acknowledged is settled when the user saves it or chooses not to.
    plugin_->setLostImageOutcome([this](std::int32_t imageId, bool settled) {
        if (settled) spool().releaseImage(imageId);
    });
    return *plugin_;
}

PlateSpool& PluginProcess::spool() {
    if (!spool_)
        spool_ = std::make_unique<PlateSpool>(platform_.files(),
                                              settings_.names().PluginDataFolder + "\\Spool");
    return *spool_;
}

imaging::EnhancementComponent& PluginProcess::createEnhancement() {
    enhancement_ = std::make_unique<imaging::EnhancementComponent>(platform_.memory());
    enhancement_->setOptionsPresenter(imaging::makeOptionsPresenter(forms_, *enhancement_));
    return *enhancement_;
}

void PluginProcess::retirePlugin() {
    retired_ = std::move(plugin_);
}

std::vector<std::string> PluginProcess::loadedFormNames() const {
    return forms_.names();
}

void PluginProcess::traceLine(std::string_view line) {
    trace_.TraceLine(line);
}

void PluginProcess::doShowDialog(std::string_view message, std::string_view caption,
                                 int modalType) {
    if (main_) main_->doShowDialog(message, caption, modalType);
}

std::string PluginProcess::langText(int number) {
    return language_.LangText(number);
}

std::string PluginProcess::readMachineSetting(std::string_view section, std::string_view key) {
    return settings_.registry().ReadRegSetting(section, key, false);
}

int PluginProcess::noPreview() {
    return settings_.settings().NoPreview;
}

void PluginProcess::clearStopRequested() {
    if (main_) main_->clearStopRequested();
}

void PluginProcess::stopActiveTimer() {
    if (main_) main_->stopActiveTimer();
}

}  // namespace quilo::controller
