// The setup cycle of the main form: the setup dialog filled, shown modally (host commands are
// still worked off meanwhile), its results read back, saved and announced to the host.
#include <memory>

#include "controller/frm_main.h"
#include "controller/plugin_process.h"
#include "core/error.h"
#include "settings/dialogs/frm_setup.h"
#include "ui/monitors.h"
#include "ui/text_ids.h"

namespace quilo::controller {

namespace {

// What the setup dialog asks of the main form.
class SetupLink final : public settings::SetupHost {
  public:
    SetupLink(frmMain& main, PluginProcess& process) : main_(main), process_(process) {}
    void doShowDialog(std::string_view Msg, std::string_view Caption, int ModalType) override {
        main_.doShowDialog(Msg, Caption, ModalType);
    }
    void doStopCapture() override { main_.doStopCapture(); }
    void TraceLine(std::string_view line) override { process_.trace().TraceLine(line); }
    forms::Form& mainForm() override { return main_; }
    imaging::EnhancementComponent* enhancementComponent() override {
        return process_.enhancement();
    }

  private:
    frmMain& main_;
    PluginProcess& process_;
};

std::string withModel(std::string text, const std::string& model) {
    const std::string with = model.empty() ? std::string("Quilo") : model;
    for (std::size_t at = text.find("XXX"); at != std::string::npos;
         at = text.find("XXX", at + with.size()))
        text.replace(at, 3, with);
    return text;
}

}  // namespace

void frmMain::ActivateSetup(std::int32_t& /*cmdNo*/) {
    doSetup();
}

void frmMain::doSetup() {
    platform::Process& os = platform().process();
    try {
        scanner::SensorAPI& scanner = process_.sensors();
        settings::SettingsStore& store = process_.settings();
        // The dialog lists the scanner's parameter sets: open it first if it is not.
        if (!scanner.HardwareInitialized) scanner.InitializeHardware();
        Plugin()->SetupActive(true);
        // The dialog, in the user's language, with the current settings.
        SetupLink link(*this, process_);
        auto dialog = std::make_unique<settings::frmSetup>(process_.forms(), store, scanner,
                                                           process_.language(), link);
        dialog->load();
        dialog->setCaption(
            withModel(process_.language().LangText(ui::txt::kSetupTitle), scanner.ScannerModel));
        const settings::PluginSettings& before = store.settings();
        dialog->setPluginVerbose(before.Verbose);
        dialog->setPluginVisible(before.Visible);
        dialog->setPluginAutoStart(before.AutoStart);
        dialog->chkSaveCopy.setValue(before.SavePreview ? 1 : 0);
        // Modal, centred on the host's monitor.
        ui::CenterOnHostMonitor(*dialog, HostParentWindow);
        dialog->show(forms::ShowMode::Modal, this);
        os.setMousePointer(platform::pointer::kHourglass);
        // OK keeps the choices: the tool sets, the plug-in's options, the window's place; the
        // host hears the new capabilities.
        if (dialog->pressedOK()) {
            settings::PluginSettings& s = store.settings();
            s.SavePreview = dialog->chkSaveCopy.value() == 1;
            const forms::ListBox& list = dialog->lstParams;
            for (int i = 0; i < list.listCount(); ++i) {
                scanner::cSensor* sensor =
                    scanner.Sensors.find(scanner::sensorKey(list.itemData(i)));
                if (sensor == nullptr) continue;
                sensor->bShowAsTool = list.selected(i);
                store.registry().WriteRegSetting(settings::kDevicesSection,
                                                 sensor->ParamName + "_AsTool",
                                                 sensor->bShowAsTool ? "1" : "0", false);
            }
            if (dialog->PluginVerbose() != s.Verbose) s.Verbose = dialog->PluginVerbose();
            if (dialog->PluginVisible() != s.Visible) {
                s.Visible = dialog->PluginVisible();
                if (s.Visible == 1) {
                    show();
                    restoreAppParent();
                } else {
                    hide();
                    if (HostParentWindow != 0) {
                        lookUpAppOwner();
                        restoreAppParent();
                        if (AppOwnerWindow != 0 &&
                            platform().windows().getParent(AppOwnerWindow) != HostParentWindow)
                            reparentAppInto(HostParentWindow);
                    }
                }
            }
            s.AutoStart = dialog->PluginAutoStart();
            s.Left = left();
            s.Top = top();
            store.SaveSetup();
            store.LoadSetup();
            if (host::clsPlugin* plugin = Plugin(); plugin != nullptr && plugin->KV2hWnd() != 0)
                process_.xray().SendCapabilities(plugin->KV2hWnd(), hwnd(),
                                                 plugin->CapabilitiesData());
        }
        // Every setup form goes, whichever way the dialog ended.
        while (forms::Form* open = process_.forms().find("frmSetup"))
            if (!open->unload()) break;
        dialog.reset();
        // A host that shut the plug-in down meanwhile took the endpoint with it.
        if (host::clsPlugin* plugin = Plugin()) plugin->SetupActive(false);
        os.setMousePointer(platform::pointer::kDefault);
    } catch (const RuntimeError& e) {
        if (Plugin() != nullptr) ShowDialog(formatError(e, "frmMain.doSetup"));
    }
}

}  // namespace quilo::controller
