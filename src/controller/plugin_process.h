// PluginProcess: everything one run of the plug-in owns, from the trace to the main form. The
// Windows entry point creates one on the real platform; a test creates as many as it likes in
// a simulated world. Nothing of it lives in globals.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "controller/block_cache.h"
#include "controller/spool.h"
#include "core/error.h"
#include "forms/forms.h"
#include "host/plugin.h"
#include "host/xray_ifc.h"
#include "imaging/enhancement.h"
#include "imaging/kv_image_handler.h"
#include "platform/platform.h"
#include "scanner/orvane_binding.h"
#include "scanner/sensor_api.h"
#include "settings/plugin_settings.h"
#include "trace/log.h"
#include "trace/trace.h"
#include "ui/language/language_selector.h"

namespace quilo::controller {

class frmMain;

// The name of the single-instance guard; one plug-in process per user session.
inline constexpr std::string_view kInstanceGuardName = "QuiloPlugin.SingleInstance";

// The application's hidden window: the owner of every form loaded without an owner form, and
// the window a host re-parents into its own so that the plug-in's windows stay with it.
// Destroyed with its holder.
// When it goes with the window it sits in (a host that destroys its window while the plug-in
// is parented into it), the forms it owns are gone too: `onLost` is called then.
class ApplicationWindow final : private platform::WindowHandler {
  public:
    ApplicationWindow(platform::WindowSystem& windows, std::function<void()> onLost);
    ~ApplicationWindow();
    ApplicationWindow(const ApplicationWindow&) = delete;
    ApplicationWindow& operator=(const ApplicationWindow&) = delete;
    platform::Hwnd hwnd() const { return hwnd_; }

  private:
    platform::LResult windowProc(platform::Hwnd hwnd, platform::MsgId msg, platform::WParam wParam,
                                 platform::LParam lParam) override;

    platform::WindowSystem& windows_;
    std::function<void()> onLost_;
    platform::Hwnd hwnd_ = 0;
};

// The platform as the process uses it: the system's, with its global memory behind a BlockCache.
class ProcessPlatform final : public platform::Platform {
  public:
    explicit ProcessPlatform(platform::Platform& system)
        : system_(system), memory_(system.memory()) {}
    platform::WindowSystem& windows() override { return system_.windows(); }
    platform::GlobalMemory& memory() override { return memory_; }
    platform::Registry& registry() override { return system_.registry(); }
    platform::Profile& profile() override { return system_.profile(); }
    platform::Mailslots& mailslots() override { return system_.mailslots(); }
    platform::Files& files() override { return system_.files(); }
    platform::Display& display() override { return system_.display(); }
    platform::Process& process() override { return system_.process(); }
    platform::Sound& sound() override { return system_.sound(); }
    platform::Clock& clock() override { return system_.clock(); }
    platform::Libraries& libraries() override { return system_.libraries(); }
    BlockCache& blockCache() { return memory_; }

  private:
    platform::Platform& system_;
    BlockCache memory_;
};

class PluginProcess final : private trace::FormRegistry, private scanner::ScannerHost {
  public:
    explicit PluginProcess(platform::Platform& platform);
    // Unloads the main form if it is still loaded, releases the endpoint and closes the trace
    // last (Form_Terminate).
    ~PluginProcess();
    PluginProcess(const PluginProcess&) = delete;
    PluginProcess& operator=(const PluginProcess&) = delete;

    // Creates and loads the main form. False when the process is to end at once (another
    // instance runs, or loading failed so badly that no window exists).
    bool start();
    // The message loop of the Windows program: runs until the main form has unloaded.
    int run();

    // True once the main form has unloaded (or start decided to end): the process is over.
    bool ended() const { return ended_; }
    int exitCode() const { return exitCode_; }
    // Called by the main form when it has unloaded.
    void mainFormUnloaded();
    void endAtOnce() { ended_ = true; }

    platform::Platform& platform() { return platform_; }
    // The large blocks kept from one plate for the next (the platform's global memory).
    BlockCache& blockCache() { return platform_.blockCache(); }
    trace::Trace& trace() { return trace_; }
    trace::Log& log() { return log_; }
    forms::Forms& forms() { return forms_; }
    settings::SettingsStore& settings() { return settings_; }
    ui::modLAnguageSelector& language() { return language_; }
    host::XrayIfc& xray() { return xray_; }
    scanner::OrvaneBinding& scannerLibrary() { return library_; }
    scanner::SensorAPI& sensors() { return *sensorApi_; }
    frmMain* mainForm() { return main_.get(); }
    // The hidden application window (0 before start, or when it could not be created).
    platform::Hwnd applicationWindow() const { return appWindow_ ? appWindow_->hwnd() : 0; }

    // The single-instance guard: taken by the main form's load, held for the process's life.
    bool takeInstanceGuard();

    // The endpoint. It is created by the main form's load; at unload it is retired rather than
    // destroyed, because the unload may run inside one of the endpoint's own events. A retired
    // endpoint is destroyed when the process object goes (its termination reports
    // "Un-Initialized" and offers unacknowledged images for saving).
    host::clsPlugin* plugin() { return plugin_.get(); }
    host::clsPlugin& createPlugin();
    void retirePlugin();

    // The enhancement component: created by the main form's load (with its options form
    // wired up), released by its unload. Null outside that time.
    imaging::EnhancementComponent& createEnhancement();
    void releaseEnhancement() { enhancement_.reset(); }
    imaging::EnhancementComponent* enhancement() { return enhancement_.get(); }
    // The host image library of the capture path; one for the process's life.
    imaging::KVImageHandler& imageHandler() { return imageHandler_; }
    // The plate spool in the plug-in's data folder (made when first asked for, once the
    // settings are read).
    PlateSpool& spool();

  private:
    // The main form could not be loaded: shown, traced, and the process ends.
    void endBeforeStart(const RuntimeError& e);

    std::vector<std::string> loadedFormNames() const override;
    // What the scanner connection asks of the plug-in.
    void traceLine(std::string_view line) override;
    void doShowDialog(std::string_view message, std::string_view caption, int modalType) override;
    std::string langText(int number) override;
    std::string readMachineSetting(std::string_view section, std::string_view key) override;
    int noPreview() override;
    void clearStopRequested() override;
    void stopActiveTimer() override;

    // First, so that it goes last: every block the parts below free comes back through it.
    ProcessPlatform platform_;
    trace::Trace trace_;
    forms::Forms forms_;
    trace::Log log_;
    settings::SettingsStore settings_;
    ui::modLAnguageSelector language_;
    host::XrayIfc xray_;
    scanner::OrvaneBinding library_;
    imaging::KVImageHandler imageHandler_;
    std::unique_ptr<scanner::SensorAPI> sensorApi_;
    std::unique_ptr<platform::InstanceGuard> instanceGuard_;
    // Declared before the forms that it owns, so that it goes after them.
    std::unique_ptr<ApplicationWindow> appWindow_;
    std::unique_ptr<PlateSpool> spool_;  // outlives the endpoints, which report to it
    std::unique_ptr<host::clsPlugin> plugin_;
    std::unique_ptr<host::clsPlugin> retired_;
    std::unique_ptr<imaging::EnhancementComponent> enhancement_;
    std::unique_ptr<frmMain> main_;
    bool ended_ = false;
    int exitCode_ = 0;
};

}  // namespace quilo::controller
