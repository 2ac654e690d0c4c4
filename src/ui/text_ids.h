// The numbers of every translatable text the program looks up or carries in a control's tag.
// Code asks for texts by these names; the shipped language files hold a text for each of them,
// and a test keeps the two in step.
#pragma once

#include <array>
#include <cstdint>

namespace quilo::ui::txt {

// Product title template; "XXX" stands for the scanner model. Window captions, the message
// dialog's default caption (followed by " error!") and the About box use it.
inline constexpr std::int32_t kProductTitle = 100;

// Main window: the tags of its two buttons, and its status line.
inline constexpr std::int32_t kMainScanButton = 1020;       // cmdScan
inline constexpr std::int32_t kMainTestImageButton = 1030;  // Command1
inline constexpr std::int32_t kStatusNotInitialized = 2020;
inline constexpr std::int32_t kStatusIdle = 2030;

// Refusals of the image hand-over; kImageNotSentAdvice follows each of them on a new line.
inline constexpr std::int32_t kImagePluginNotInitialized = 2100;
inline constexpr std::int32_t kImageNotSentAdvice = 2110;
inline constexpr std::int32_t kImageNoBitmap = 2120;
inline constexpr std::int32_t kImageSizeMismatch = 2130;
inline constexpr std::int32_t kImageSaveFailed = 2140;
inline constexpr std::int32_t kImageSendFailed = 2150;

// Setup dialog: its title ("XXX" = scanner model) and the tags of its controls.
inline constexpr std::int32_t kSetupTitle = 3000;
inline constexpr std::int32_t kSetupPluginOptionsFrame = 3010;   // fraPluginOptions
inline constexpr std::int32_t kSetupVisibleCheck = 3020;         // chkVisible
inline constexpr std::int32_t kSetupAutoStartCheck = 3030;       // chkAutoStart
inline constexpr std::int32_t kSetupScannerOptionsFrame = 3040;  // fraIOXImageSize
inline constexpr std::int32_t kSetupParamsLabel = 3050;          // Label5
inline constexpr std::int32_t kSetupIniFileLabel = 3060;         // Label6
inline constexpr std::int32_t kSetupAboutButton = 3120;          // AboutButton
inline constexpr std::int32_t kSetupOkButton = 3130;             // OKButton
inline constexpr std::int32_t kSetupCancelButton = 3140;         // CancelButton
inline constexpr std::int32_t kSetupAlternateCheck = 3200;       // chkEnhancement
inline constexpr std::int32_t kSetupProcessingFrame = 3070;      // Frame1
inline constexpr std::int32_t kSetupEnhancementCheck = 3080;     // chkKVEnhancement
inline constexpr std::int32_t kSetupEnhancementLink = 3090;      // lnkKVEnhancement
inline constexpr std::int32_t kSetupSaveCopyCheck = 3100;        // chkSaveCopy
inline constexpr std::int32_t kSetupStandardCheck = 3110;        // chkOptimize
inline constexpr std::int32_t kSetupAdvancedButton = 3150;       // cmdAdvanced, cmdLeadAdvanced
inline constexpr std::int32_t kSetupDepthLabel = 3160;           // Label7
inline constexpr std::int32_t kSetupDepthLine = 3170;            // cboDepth: "NNN" = bits
inline constexpr std::int32_t kSetupInvertCheck = 3180;          // chkInvert
inline constexpr std::int32_t kSetupImportCheck = 3190;          // chkNoPreview
inline constexpr std::int32_t kSetupPreviewCheck = 3220;         // chkPreview
inline constexpr std::int32_t kSetupCloseCheck = 3230;           // chkClose
inline constexpr std::int32_t kSetupMessagesCheck = 3240;        // chkVerbose

// Advanced enhancement dialogs: titles, the tags of their controls, and texts of their lists.
// The image types name the tabs of both and the setup dialog's enhancement menu.
inline constexpr std::int32_t kStandardTitle = 3500;         // frmSettings
inline constexpr std::int32_t kStandardFrame = 3510;         // Frame1
inline constexpr std::int32_t kStandardMappingLabel = 3520;  // lblMapping
inline constexpr std::int32_t kStandardLowLabel = 3550;      // lblLow
inline constexpr std::int32_t kStandardUppLabel = 3560;      // lblUpp
inline constexpr std::int32_t kAdvancedOkButton = 3580;      // Command1
inline constexpr std::int32_t kAdvancedCancelButton = 3590;  // Command2
inline constexpr std::int32_t kTypeIntraoral = 3600;
inline constexpr std::int32_t kTypePanoramic = 3610;
inline constexpr std::int32_t kTypeCephalometric = 3620;
inline constexpr std::int32_t kAlternateTitle = 3650;       // frmLeadSettings
inline constexpr std::int32_t kAlternateNRLabel = 3660;     // lblNR
inline constexpr std::int32_t kAlternateHistoCheck = 3670;  // chkHisto
inline constexpr std::int32_t kAlternateCutLabel = 3680;    // lblCut
inline constexpr std::int32_t kAlternateLowLabel = 3690;    // lblLow
inline constexpr std::int32_t kAlternateUppLabel = 3730;    // lblUpp
inline constexpr std::int32_t kNoiseReductionNone = 3740;   // first line of cboNR
inline constexpr std::int32_t kMappingType0 = 3530;
inline constexpr std::int32_t kMappingType1 = 3540;
inline constexpr std::int32_t kLimitInvalid = 3570;
inline constexpr std::int32_t kCutoffAbsolute = 3700;
inline constexpr std::int32_t kCutoffPercent = 3710;
inline constexpr std::int32_t kCutoffInvalid = 3720;

// Preview window.
inline constexpr std::int32_t kPreviewPleaseWait = 4010;
inline constexpr std::int32_t kPreviewImage = 4020;
inline constexpr std::int32_t kPreviewOf = 4022;
inline constexpr std::int32_t kPreviewPixels = 4024;
inline constexpr std::int32_t kPreviewSelected = 4026;
inline constexpr std::int32_t kPreviewNoImages = 4028;       // the status line after load
inline constexpr std::int32_t kPreviewImageLabel = 4040;     // Label1
inline constexpr std::int32_t kPreviewScanningLabel = 4050;  // Label2
inline constexpr std::int32_t kPreviewSaveButton = 4060;     // Command1
inline constexpr std::int32_t kPreviewAllButton = 4070;      // Command3
inline constexpr std::int32_t kPreviewNoneButton = 4080;     // Command4
inline constexpr std::int32_t kPreviewCloseButton = 4090;    // Command2
inline constexpr std::int32_t kPreviewCloseQuestion = 4030;

// About box: the word before the product title in its caption, the tags of its controls, and
// the two headings of the driver information.
inline constexpr std::int32_t kAboutCaption = 5100;
inline constexpr std::int32_t kAboutDllInfoLabel = 5110;   // Label1
inline constexpr std::int32_t kAboutSysInfoButton = 5120;  // cmdSysInfo
inline constexpr std::int32_t kAboutOkButton = 5130;       // cmdOK
inline constexpr std::int32_t kAboutDriverVersion = 5140;
inline constexpr std::int32_t kAboutSerialNumber = 5150;

// Message dialog: the tag of its OK button.
inline constexpr std::int32_t kDialogOkButton = 6000;

// Scanner connection.
inline constexpr std::int32_t kScannerLibraryMissing = 7000;
inline constexpr std::int32_t kScannerIniMissing = 7010;
inline constexpr std::int32_t kScannerNoParamSets = 7020;
inline constexpr std::int32_t kScannerParamSetNotFound = 7030;
inline constexpr std::int32_t kOpenFileNotFound = 7040;       // -1
inline constexpr std::int32_t kOpenParameterNotFound = 7050;  // -2
inline constexpr std::int32_t kOpenConfigWriteFailed = 7060;  // -3
inline constexpr std::int32_t kOpenNoBufferRam = 7070;        // -100
inline constexpr std::int32_t kOpenBufferRamSize = 7080;      // -101
inline constexpr std::int32_t kOpenConfigOutOfRange = 7090;   // -102
inline constexpr std::int32_t kOpenScannerNotFound = 7100;    // -1001
inline constexpr std::int32_t kOpenBusError = 7110;           // -1007
inline constexpr std::int32_t kOpenTooHot = 7120;             // -1010
inline constexpr std::int32_t kOpenOtherError = 7130;         // any other failure

// The plate spool: plates of an earlier session recovered at start ("NNN" = their number,
// "FFF" = the folder they were saved in), a plate that could not be kept ("FFF" = the
// spool folder), and a chosen preview image that could be read back neither from its file nor
// from the spool ("NNN" = its number in the preview window).
inline constexpr std::int32_t kSpoolRecovered = 8000;
inline constexpr std::int32_t kSpoolWriteFailed = 8010;
inline constexpr std::int32_t kPreviewImageUnreadable = 8020;

// Every number above: each shipped language file has a text for each.
inline constexpr std::array kAllTextNumbers = {
    kProductTitle,
    kMainScanButton,
    kMainTestImageButton,
    kStatusNotInitialized,
    kStatusIdle,
    kImagePluginNotInitialized,
    kImageNotSentAdvice,
    kImageNoBitmap,
    kImageSizeMismatch,
    kImageSaveFailed,
    kImageSendFailed,
    kSetupTitle,
    kSetupPluginOptionsFrame,
    kSetupVisibleCheck,
    kSetupAutoStartCheck,
    kSetupScannerOptionsFrame,
    kSetupParamsLabel,
    kSetupIniFileLabel,
    kSetupAboutButton,
    kSetupOkButton,
    kSetupCancelButton,
    kSetupAlternateCheck,
    kSetupProcessingFrame,
    kSetupEnhancementCheck,
    kSetupEnhancementLink,
    kSetupSaveCopyCheck,
    kSetupStandardCheck,
    kSetupAdvancedButton,
    kSetupDepthLabel,
    kSetupDepthLine,
    kSetupInvertCheck,
    kSetupImportCheck,
    kSetupPreviewCheck,
    kSetupCloseCheck,
    kSetupMessagesCheck,
    kStandardTitle,
    kStandardFrame,
    kStandardMappingLabel,
    kStandardLowLabel,
    kStandardUppLabel,
    kAdvancedOkButton,
    kAdvancedCancelButton,
    kTypeIntraoral,
    kTypePanoramic,
    kTypeCephalometric,
    kAlternateTitle,
    kAlternateNRLabel,
    kAlternateHistoCheck,
    kAlternateCutLabel,
    kAlternateLowLabel,
    kAlternateUppLabel,
    kNoiseReductionNone,
    kMappingType0,
    kMappingType1,
    kLimitInvalid,
    kCutoffAbsolute,
    kCutoffPercent,
    kCutoffInvalid,
    kPreviewPleaseWait,
    kPreviewImage,
    kPreviewOf,
    kPreviewPixels,
    kPreviewSelected,
    kPreviewNoImages,
    kPreviewImageLabel,
    kPreviewScanningLabel,
    kPreviewSaveButton,
    kPreviewAllButton,
    kPreviewNoneButton,
    kPreviewCloseButton,
    kPreviewCloseQuestion,
    kAboutCaption,
    kAboutDllInfoLabel,
    kAboutSysInfoButton,
    kAboutOkButton,
    kAboutDriverVersion,
    kAboutSerialNumber,
    kDialogOkButton,
    kScannerLibraryMissing,
    kScannerIniMissing,
    kScannerNoParamSets,
    kScannerParamSetNotFound,
    kOpenFileNotFound,
    kOpenParameterNotFound,
    kOpenConfigWriteFailed,
    kOpenNoBufferRam,
    kOpenBufferRamSize,
    kOpenConfigOutOfRange,
    kOpenScannerNotFound,
    kOpenBusError,
    kOpenTooHot,
    kOpenOtherError,
    kSpoolRecovered,
    kSpoolWriteFailed,
    kPreviewImageUnreadable,
};

// Tool tips: a check box or button with tag T shows the text of T followed by the digit 1.
inline constexpr std::array kToolTipNumbers = {
    std::int32_t{10201}, std::int32_t{10301}, std::int32_t{30201},
    std::int32_t{30301}, std::int32_t{31201}, std::int32_t{31301},
    std::int32_t{31401}, std::int32_t{32001}, std::int32_t{60001},
};

// Texts whose "XXX" is replaced by the scanner model.
inline constexpr std::array kModelTemplateNumbers = {kProductTitle, kSetupTitle};

}  // namespace quilo::ui::txt
