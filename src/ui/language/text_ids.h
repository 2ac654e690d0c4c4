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

// Advanced enhancement dialogs.
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
inline constexpr std::int32_t kPreviewCloseQuestion = 4030;

// About box: the word before the product title in its caption.
inline constexpr std::int32_t kAboutCaption = 5100;

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
// "FFF" = the folder they were saved in), and a plate that could not be kept ("FFF" = the
// spool folder).
inline constexpr std::int32_t kSpoolRecovered = 8000;
inline constexpr std::int32_t kSpoolWriteFailed = 8010;

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
    kPreviewCloseQuestion,
    kAboutCaption,
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
