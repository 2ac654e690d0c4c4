// frmSetup: the plug-in's modal setup dialog. It edits the enhancement type, colour depth,
// inversion, preview mode, which parameter sets appear as tools, the driver's INI file and the
// three plug-in options; it opens the About box and the two advanced dialogs. The caller fills
// the plug-in options, shows it modally and reads the results back once it is hidden.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "forms/form.h"
#include "forms/forms.h"
#include "imaging/enhancement.h"
#include "scanner/sensor_api.h"
#include "settings/plugin_settings.h"
#include "ui/text_lookup.h"

namespace quilo::settings {

// What the dialog asks of the main form around it.
class SetupHost {
  public:
    virtual void doShowDialog(std::string_view Msg, std::string_view Caption, int ModalType) = 0;
    // Ends a running capture (closing the scanner).
    virtual void doStopCapture() = 0;
    virtual void TraceLine(std::string_view line) = 0;
    // The main form: its icon is the dialog's.
    virtual forms::Form& mainForm() = 0;
    // The host maker's enhancement component; null when there is none.
    virtual imaging::EnhancementComponent* enhancementComponent() = 0;

  protected:
    ~SetupHost() = default;
};

class frmSetup final : public forms::Form {
  public:
    frmSetup(forms::Forms& forms, SettingsStore& store, scanner::SensorAPI& scanner,
             ui::TextLookup& text, SetupHost& host);
    ~frmSetup() override;

    // --- controls, as designed ----------------------------------------------------------
    forms::Frame& Frame1;
    forms::CheckBox& chkSaveCopy;
    forms::CheckBox& chkKVEnhancement;
    forms::CheckBox& chkEnhancement;  // alternate
    forms::CommandButton& cmdAdvanced;
    forms::ComboBox& cboDepth;
    forms::CheckBox& chkOptimize;  // standard
    forms::CommandButton& cmdLeadAdvanced;
    forms::CheckBox& chkInvert;
    forms::Label& lnkKVEnhancement;
    forms::Label& Label7;
    forms::Frame& fraIOXImageSize;
    forms::ListBox& lstParams;
    forms::TextBox& Text1;
    forms::CheckBox& chkNoPreview;
    forms::CheckBox& chkPreview;
    forms::CheckBox& chkClose;
    forms::Label& Label5;
    forms::Label& Label6;
    forms::Frame& fraPluginOptions;
    forms::CheckBox& chkAutoStart;
    forms::CheckBox& chkVisible;
    forms::CheckBox& chkVerbose;
    forms::CommandButton& AboutButton;
    forms::CommandButton& CancelButton;
    forms::CommandButton& OKButton;
    forms::Menu& mnuPopup;
    forms::Menu& mnuIO;
    forms::Menu& mnuPan;
    forms::Menu& mnuCeph;

    // --- properties ---------------------------------------------------------------------
    bool pressedOK() const { return pressedOK_; }
    std::int16_t PluginVisible() const { return visible_; }
    std::int16_t PluginVerbose() const { return verbose_; }
    std::int16_t PluginAutoStart() const { return autoStart_; }
    // Each also sets its check box.
    void setPluginVisible(std::int16_t v);
    void setPluginVerbose(std::int16_t v);
    void setPluginAutoStart(std::int16_t v);
    // 0 preview with selection, 1 import at once, 2 import at once with the progress window.
    std::int16_t previewMode() const { return previewMode_; }
    // What the About box shows of the driver.
    const std::string& driverVersion() const { return driverVersion_; }
    const std::string& serialNumber() const { return serial_; }

  private:
    void Form_Load();
    void Form_Unload(bool& cancel);
    void chkKVEnhancement_Click();
    void chkEnhancement_Click();
    void chkOptimize_Click();
    void chkNoPreview_Click();
    void chkPreview_Click();
    void AboutButton_Click();
    void cmdAdvanced_Click();
    void cmdLeadAdvanced_Click();
    void showOptions(std::string_view name, int code);
    void CancelButton_Click();
    void OKButton_Click();

    SettingsStore& store_;
    scanner::SensorAPI& scanner_;
    ui::TextLookup& text_;
    SetupHost& host_;
    bool pressedOK_ = false;
    std::int16_t visible_ = 0;
    std::int16_t verbose_ = 0;
    std::int16_t autoStart_ = 0;
    std::int16_t previewMode_ = 0;
    std::int16_t previewModeAtOpen_ = 0;
    std::string iniAtOpen_;
    std::int16_t readyAtOpen_ = 0;
    std::string driverVersion_;
    std::string serial_;
};

}  // namespace quilo::settings
