#include "settings/dialogs/frm_setup.h"

#include "core/text.h"
#include "settings/dialogs/frm_advanced.h"
#include "ui/frm_about.h"
#include "ui/text_ids.h"

namespace quilo::settings {

namespace {

constexpr forms::Color kLinkBlue = 0xCC0000;  // 0x00BBGGRR
constexpr int kRow = 255;
constexpr int kButtonHeight = 375;
constexpr int kLeftWidth = 4800;
constexpr int kRightLeft = 5040;
constexpr int kRightWidth = 4200;
constexpr int kClientWidth = kRightLeft + kRightWidth + 120;

template <class T>
T& placed(T& c, forms::Control* container, int left, int top, int width, int height = kRow) {
    c.setContainer(container);
    c.move(left, top, width, height);
    return c;
}

std::string cutAtNul(std::string s) {
    if (const auto nul = s.find('\0'); nul != std::string::npos) s.resize(nul);
    return s;
}

}  // namespace

frmSetup::frmSetup(forms::Forms& forms, SettingsStore& store, scanner::SensorAPI& scanner,
                   ui::TextLookup& text, SetupHost& host)
    : forms::Form(forms, "frmSetup"),
      Frame1(add<forms::Frame>("Frame1")),
      chkSaveCopy(add<forms::CheckBox>("chkSaveCopy")),
      chkKVEnhancement(add<forms::CheckBox>("chkKVEnhancement")),
      chkEnhancement(add<forms::CheckBox>("chkEnhancement")),
      cmdAdvanced(add<forms::CommandButton>("cmdAdvanced")),
      cboDepth(add<forms::ComboBox>("cboDepth")),
      chkOptimize(add<forms::CheckBox>("chkOptimize")),
      cmdLeadAdvanced(add<forms::CommandButton>("cmdLeadAdvanced")),
      chkInvert(add<forms::CheckBox>("chkInvert")),
      lnkKVEnhancement(add<forms::Label>("lnkKVEnhancement")),
      Label7(add<forms::Label>("Label7")),
      fraIOXImageSize(add<forms::Frame>("fraIOXImageSize")),
      lstParams(add<forms::ListBox>("lstParams")),
      Text1(add<forms::TextBox>("Text1")),
      chkNoPreview(add<forms::CheckBox>("chkNoPreview")),
      chkPreview(add<forms::CheckBox>("chkPreview")),
      chkClose(add<forms::CheckBox>("chkClose")),
      Label5(add<forms::Label>("Label5")),
      Label6(add<forms::Label>("Label6")),
      fraPluginOptions(add<forms::Frame>("fraPluginOptions")),
      chkAutoStart(add<forms::CheckBox>("chkAutoStart")),
      chkVisible(add<forms::CheckBox>("chkVisible")),
      chkVerbose(add<forms::CheckBox>("chkVerbose")),
      AboutButton(add<forms::CommandButton>("AboutButton")),
      CancelButton(add<forms::CommandButton>("CancelButton")),
      OKButton(add<forms::CommandButton>("OKButton")),
      mnuPopup(add<forms::Menu>("mnuPopup")),
      mnuIO(add<forms::Menu>("mnuIO")),
      mnuPan(add<forms::Menu>("mnuPan")),
      mnuCeph(add<forms::Menu>("mnuCeph")),
      store_(store),
      scanner_(scanner),
      text_(text),
      host_(host) {
    setCaption("Dialog Caption");
    setBorderStyle(forms::BorderStyle::FixedDialog);
    setClientSize(kClientWidth, 4995);

    // Left: the image processing, in the order a user decides it.
    Frame1.setCaption("Image processing");
    Frame1.setTag("3070");
    Frame1.move(120, 120, kLeftWidth, 4200);
    placed(chkKVEnhancement, &Frame1, 180, 300, 4440).setCaption("Image enhancement");
    chkKVEnhancement.setTag("3080");
    placed(lnkKVEnhancement, &Frame1, 420, 600, 4290)
        .setCaption("Click here for Enhancement options");
    lnkKVEnhancement.setTag("3090");
    // The link: blue, underlined, the pointing hand; a click opens the image-type menu.
    lnkKVEnhancement.setForeColor(kLinkBlue);
    lnkKVEnhancement.setFontUnderline(true);
    lnkKVEnhancement.setMousePointer(forms::pointer::kHand);
    placed(chkSaveCopy, &Frame1, 420, 900, 4200)
        .setCaption("Save image copy for enhancement preview");
    chkSaveCopy.setTag("3100");
    placed(chkOptimize, &Frame1, 180, 1320, 3240).setCaption("Standard image enhancement");
    chkOptimize.setTag("3110");
    placed(cmdAdvanced, &Frame1, 3480, 1260, 1200, 345).setCaption("Advanced...");
    cmdAdvanced.setTag("3150");
    placed(chkEnhancement, &Frame1, 180, 1740, 3240).setCaption("Alternate image enhancement");
    chkEnhancement.setTag("3200");
    placed(cmdLeadAdvanced, &Frame1, 3480, 1680, 1200, 345).setCaption("Advanced...");
    cmdLeadAdvanced.setTag("3150");
    cmdAdvanced.setEnabled(false);
    cmdLeadAdvanced.setEnabled(false);
    placed(Label7, &Frame1, 180, 2250, 1500).setCaption("Color-depth:");
    Label7.setTag("3160");
    placed(cboDepth, &Frame1, 1740, 2190, 1500, 315);
    placed(chkInvert, &Frame1, 180, 2640, 4440).setCaption("Invert images");
    chkInvert.setTag("3180");
    placed(chkNoPreview, &Frame1, 180, 3060, 4440).setCaption("Import at once");
    chkNoPreview.setTag("3190");
    placed(chkPreview, &Frame1, 420, 3360, 4200).setCaption("Preview");
    chkPreview.setTag("3220");
    placed(chkClose, &Frame1, 420, 3660, 4200).setCaption("Close preview window when done");
    chkClose.setTag("3230");

    // Right: the scanner's options and the plug-in's own.
    fraIOXImageSize.setCaption("Scanner options");
    fraIOXImageSize.setTag("3040");
    fraIOXImageSize.move(kRightLeft, 120, kRightWidth, 2880);
    placed(Label5, &fraIOXImageSize, 180, 300, kRightWidth - 360, 480)
        .setCaption("Scan parameters. Check the ones you want on toolbar");
    Label5.setTag("3050");
    Label5.setWordWrap(true);
    placed(lstParams, &fraIOXImageSize, 180, 840, kRightWidth - 360, 1200);
    lstParams.setStyle(forms::ListBox::Style::CheckBox);
    placed(Label6, &fraIOXImageSize, 180, 2130, kRightWidth - 360).setCaption("Driver INI-file:");
    Label6.setTag("3060");
    placed(Text1, &fraIOXImageSize, 180, 2430, kRightWidth - 360, 315);
    fraPluginOptions.setCaption("Plugin Options");
    fraPluginOptions.setTag("3010");
    fraPluginOptions.move(kRightLeft, 3120, kRightWidth, 1200);
    placed(chkAutoStart, &fraPluginOptions, 180, 300, kRightWidth - 360)
        .setCaption("Auto-start Capture");
    chkAutoStart.setTag("3030");
    placed(chkVisible, &fraPluginOptions, 180, 570, kRightWidth - 360).setCaption("Plugin Visible");
    chkVisible.setTag("3020");
    placed(chkVerbose, &fraPluginOptions, 180, 840, kRightWidth - 360).setCaption("Show Messages");
    chkVerbose.setTag("3240");

    const int buttonTop = 4500;
    AboutButton.setCaption("About...");
    AboutButton.setTag("3120");
    AboutButton.move(120, buttonTop, 1335, kButtonHeight);
    OKButton.setCaption("OK");
    OKButton.setTag("3130");
    OKButton.setDefault(true);
    OKButton.move(kClientWidth - 2 * 1335 - 240, buttonTop, 1335, kButtonHeight);
    CancelButton.setCaption("Cancel");
    CancelButton.setTag("3140");
    CancelButton.setCancel(true);
    CancelButton.move(kClientWidth - 1335 - 120, buttonTop, 1335, kButtonHeight);

    mnuPopup.setCaption("Popupmenu");
    mnuPopup.setVisible(false);
    for (auto [item, caption] : {std::pair{&mnuIO, "Intraoral"}, std::pair{&mnuPan, "Panoramic"},
                                 std::pair{&mnuCeph, "Cephalometric"}}) {
        item->setContainer(&mnuPopup);
        item->setCaption(caption);
    }

    onLoad = [this] { Form_Load(); };
    onUnload = [this](bool& cancel) { Form_Unload(cancel); };
    chkKVEnhancement.onClick = [this] { chkKVEnhancement_Click(); };
    chkEnhancement.onClick = [this] { chkEnhancement_Click(); };
    chkOptimize.onClick = [this] { chkOptimize_Click(); };
    chkNoPreview.onClick = [this] { chkNoPreview_Click(); };
    chkPreview.onClick = [this] { chkPreview_Click(); };
    chkAutoStart.onClick = [this] { autoStart_ = static_cast<std::int16_t>(chkAutoStart.value()); };
    chkVisible.onClick = [this] { visible_ = static_cast<std::int16_t>(chkVisible.value()); };
    chkVerbose.onClick = [this] { verbose_ = static_cast<std::int16_t>(chkVerbose.value()); };
    AboutButton.onClick = [this] { AboutButton_Click(); };
    cmdAdvanced.onClick = [this] { cmdAdvanced_Click(); };
    cmdLeadAdvanced.onClick = [this] { cmdLeadAdvanced_Click(); };
    lnkKVEnhancement.onClick = [this] { popupMenu(mnuPopup); };
    mnuIO.onClick = [this] { showOptions("Intraoral", 0); };
    mnuPan.onClick = [this] { showOptions("Panoramic", 2); };
    mnuCeph.onClick = [this] { showOptions("Cephalometric", 1); };
    CancelButton.onClick = [this] { CancelButton_Click(); };
    OKButton.onClick = [this] { OKButton_Click(); };
}

frmSetup::~frmSetup() {
    if (loaded()) unload();
}

void frmSetup::setPluginVisible(std::int16_t v) {
    visible_ = v;
    chkVisible.setValue(v == 1 ? 1 : 0);
}
void frmSetup::setPluginVerbose(std::int16_t v) {
    verbose_ = v;
    chkVerbose.setValue(v == 1 ? 1 : 0);
}
void frmSetup::setPluginAutoStart(std::int16_t v) {
    autoStart_ = v;
    chkAutoStart.setValue(v == 1 ? 1 : 0);
}

void frmSetup::Form_Load() {
    text_.translateForm(*this);
    // The enhancement menu names the image types as the advanced dialogs' tabs do.
    const std::pair<forms::Menu*, std::int32_t> items[] = {{&mnuIO, ui::txt::kTypeIntraoral},
                                                           {&mnuPan, ui::txt::kTypePanoramic},
                                                           {&mnuCeph, ui::txt::kTypeCephalometric}};
    for (auto [item, number] : items)
        item->setCaption(text_.langText(number));
    setIcon(host_.mainForm().icon());
    const PluginSettings& s = store_.settings();
    // The preview boxes: no preview, preview, close when done.
    switch (s.NoPreview) {
        case 1:
            chkNoPreview.setValue(1);
            chkPreview.setEnabled(true);
            chkPreview.setValue(0);
            chkClose.setEnabled(false);
            break;
        case 2:
            chkNoPreview.setValue(1);
            chkPreview.setEnabled(true);
            chkPreview.setValue(1);
            chkClose.setEnabled(true);
            chkClose.setValue(s.CloseDone != 0 ? 1 : 0);
            break;
        default:
            chkNoPreview.setValue(0);
            chkPreview.setEnabled(false);
            chkClose.setEnabled(false);
            break;
    }
    chkInvert.setValue(s.Invert ? 1 : 0);
    previewMode_ = s.NoPreview;
    previewModeAtOpen_ = s.NoPreview;
    // The bit depths, 16 first.
    cboDepth.clear();
    for (const char* bits : {"16", "12", "8"})
        cboDepth.addItem(replaceAll(text_.langText(ui::txt::kSetupDepthLine), "NNN", bits));
    cboDepth.setListIndex(s.BitDepth == 8 ? 2 : s.BitDepth == 12 ? 1 : 0);
    // One enhancement box at most is ticked.
    chkKVEnhancement.setValue(0);
    chkEnhancement.setValue(0);
    chkOptimize.setValue(0);
    switch (s.ImageEnhancement) {
        case 1:
            chkEnhancement.setValue(1);
            break;
        case 2:
            chkOptimize.setValue(1);
            break;
        case 3:
            chkKVEnhancement.setValue(1);
            break;
        default:
            break;
    }
    // The scanner's facts for the information lines; whether it was open decides whether
    // Cancel closes it.
    readyAtOpen_ = scanner_.HardwareInitialized ? 1 : 0;
    scanner::ScannerLibrary& library = scanner_.library();
    std::string buffer(256, '\0');
    driverVersion_ = library.Get_DriverVersion(buffer) == 0 ? cutAtNul(buffer) : std::string();
    serial_ = scanner_.HardwareInitialized ? scanner_.ScannerSerial : std::string();
    buffer.assign(256, '\0');
    if (library.Get_IniFileName(buffer) == 0) {
        iniAtOpen_ = cutAtNul(buffer);
        Text1.setText(iniAtOpen_);
    } else {
        host_.doShowDialog("INI-file not found. Please enter filename", "", 1);
    }
    lstParams.clear();
    for (const auto& entry : scanner_.Sensors) {
        const scanner::cSensor& sensor = entry.sensor;
        const int line =
            lstParams.addItem(sensor.ParamName + " (#" + std::to_string(sensor.OrdinalNo) + ")");
        lstParams.setItemData(line, sensor.OrdinalNo);
        lstParams.setSelected(line, sensor.bShowAsTool);
    }
}

void frmSetup::Form_Unload(bool& /*cancel*/) {
    host_.TraceLine("frmSetup Unload");
}

void frmSetup::chkKVEnhancement_Click() {
    const bool on = chkKVEnhancement.value() == 1;
    chkSaveCopy.setEnabled(on);
    lnkKVEnhancement.setEnabled(on);
    if (on) {
        chkEnhancement.setValue(0);
        chkOptimize.setValue(0);
    }
}

void frmSetup::chkEnhancement_Click() {
    if (chkEnhancement.value() == 1) {
        chkOptimize.setValue(0);
        chkKVEnhancement.setValue(0);
        cmdAdvanced.setEnabled(false);
        cmdLeadAdvanced.setEnabled(true);
    } else {
        cmdLeadAdvanced.setEnabled(false);
    }
}

void frmSetup::chkOptimize_Click() {
    if (chkOptimize.value() == 1) {
        cmdAdvanced.setEnabled(true);
        cmdLeadAdvanced.setEnabled(false);
        chkEnhancement.setValue(0);
        chkKVEnhancement.setValue(0);
    } else {
        cmdAdvanced.setEnabled(false);
    }
}

void frmSetup::chkNoPreview_Click() {
    if (chkNoPreview.value() == 1) {
        chkPreview.setEnabled(true);
        chkPreview_Click();
    } else {
        chkPreview.setEnabled(false);
        chkClose.setEnabled(false);
        previewMode_ = 0;
    }
}

void frmSetup::chkPreview_Click() {
    if (chkNoPreview.value() != 1) {
        previewMode_ = 0;
        return;
    }
    const bool preview = chkPreview.value() == 1;
    previewMode_ = preview ? 2 : 1;
    chkClose.setEnabled(preview);
}

void frmSetup::AboutButton_Click() {
    ui::frmAbout about(forms(), text_,
                       {scanner_.ScannerModel, store_.names().Company, driverVersion_, serial_});
    about.show(forms::ShowMode::Modal, this);
}

void frmSetup::cmdAdvanced_Click() {
    frmSettings dialog(forms(), store_, text_);
    dialog.show(forms::ShowMode::Modal, this);
}

void frmSetup::cmdLeadAdvanced_Click() {
    frmLeadSettings dialog(forms(), store_, text_);
    dialog.show(forms::ShowMode::Modal, this);
}

void frmSetup::showOptions(std::string_view name, int code) {
    if (imaging::EnhancementComponent* component = host_.enhancementComponent())
        component->showOptions(name, code, hwnd(), store_.settings().Visible != 0);
}

void frmSetup::CancelButton_Click() {
    if (readyAtOpen_ == 0) scanner_.CloseHardware();
    unload();
}

void frmSetup::OKButton_Click() {
    platform::Process& process = platform().process();
    setMousePointer(forms::pointer::kHourglass);
    const std::string path = Text1.text();
    // At least one parameter set on the toolbar.
    if (lstParams.listCount() > 0 && lstParams.selCount() == 0) {
        process.messageBox(
            hwnd(),
            "Please make sure you have at least one scan parameter checked to show on toolbar.",
            process.version().title, platform::mb::kOk);
        setMousePointer(forms::pointer::kDefault);
        return;
    }
    if (!platform().files().exists(path)) {
        host_.doShowDialog("INI-file not found. Please enter a valid filename", "", 1);
        setMousePointer(forms::pointer::kDefault);
        return;
    }
    // A new INI file (10) or preview mode (2) means the scanner must be opened again.
    int change = path != iniAtOpen_ ? 10 : 0;
    if (previewMode_ != previewModeAtOpen_) change += 2;
    PluginSettings& s = store_.settings();
    switch (cboDepth.listIndex()) {
        case 0:
            s.BitDepth = 16;
            break;
        case 1:
            s.BitDepth = 12;
            break;
        case 2:
            s.BitDepth = 8;
            break;
        default:
            break;  // no line chosen: the depth stays
    }
    s.ImageEnhancement = 0;
    if (chkKVEnhancement.value() == 1) s.ImageEnhancement = 3;
    if (chkEnhancement.value() == 1) s.ImageEnhancement = 1;
    if (chkOptimize.value() == 1) s.ImageEnhancement = 2;
    s.CloseDone = chkClose.value() == 1 ? 1 : 0;
    s.Invert = chkInvert.value() == 1;
    iniAtOpen_ = path;
    if (change > 0) {
        scanner_.CloseHardware();
        if (change > 9) scanner_.library().Set_IniFileName(path);
    }
    forms().doEvents();
    pressedOK_ = true;
    s.AutoStart = autoStart_;
    s.NoPreview = previewMode_;
    forms().doEvents();
    if (change > 0) host_.doStopCapture();
    setMousePointer(forms::pointer::kDefault);
    hide();
}

}  // namespace quilo::settings
