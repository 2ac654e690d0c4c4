#include "ui/frm_about.h"

#include <exception>
#include <utility>

#include "core/text.h"
#include "ui/text_ids.h"

namespace quilo::ui {

namespace {

constexpr int kWidth = 6000;

}  // namespace

bool GetKeyValue(platform::Registry& registry, platform::RegRoot KeyRoot, std::string_view Keyname,
                 std::string_view SubKeyRef, std::string& KeyVal) {
    KeyVal.clear();
    platform::RegValue value;
    if (registry.queryValue(KeyRoot, Keyname, SubKeyRef, 1024, value) != 0) return false;
    std::string data(reinterpret_cast<const char*>(value.data.data()), value.data.size());
    if (!data.empty() && data.back() == '\0') data.pop_back();
    if (value.type == platform::RegType::Dword) {
        // The bytes as one number, most significant first; every byte is two hex digits.
        unsigned long long n = 0;
        for (auto it = data.rbegin(); it != data.rend(); ++it)
            n = (n << 8) | static_cast<unsigned char>(*it);
        KeyVal = std::to_string(n);
    } else {
        KeyVal = data;
    }
    return true;
}

std::string driverInfoText(const AboutFacts& facts, TextLookup& text) {
    std::string info =
        text.langText(txt::kAboutDriverVersion) + " (Orvane.dll)\r\n  " + facts.driverVersion;
    if (!facts.serialNumber.empty())
        info +=
            "\r\n\r\n" + text.langText(txt::kAboutSerialNumber) + " \r\n  " + facts.serialNumber;
    return info;
}

frmAbout::frmAbout(forms::Forms& forms, TextLookup& text, AboutFacts facts)
    : forms::Form(forms, "frmAbout"),
      lblTitle(add<forms::Label>("lblTitle")),
      lblVersion(add<forms::Label>("lblVersion")),
      lblDescription(add<forms::Label>("lblDescription")),
      Frame1(add<forms::Frame>("Frame1")),
      Label1(add<forms::Label>("Label1")),
      lbl_DLLInfo(add<forms::Label>("lbl_DLLInfo")),
      cmdOK(add<forms::CommandButton>("cmdOK")),
      cmdSysInfo(add<forms::CommandButton>("cmdSysInfo")),
      text_(text),
      facts_(std::move(facts)) {
    setCaption("About ");
    setBorderStyle(forms::BorderStyle::FixedDialog);
    setClientSize(kWidth, 3960);
    lblTitle.setCaption("Quilo Plugin");
    lblTitle.setFontBold(true);
    lblTitle.move(240, 240, kWidth - 480, 300);
    lblVersion.setCaption("Version 1.0");
    lblVersion.move(240, 600, kWidth - 480, 255);
    lblDescription.move(240, 960, kWidth - 480, 255);
    Frame1.move(240, 1380, kWidth - 480, 1800);
    Label1.setCaption("DLL info:");
    Label1.setTag("5110");
    Label1.setContainer(&Frame1);
    Label1.move(180, 300, 2000, 255);
    lbl_DLLInfo.setContainer(&Frame1);
    lbl_DLLInfo.setWordWrap(true);
    lbl_DLLInfo.move(180, 600, kWidth - 840, 1080);
    cmdSysInfo.setCaption("&System Info...");
    cmdSysInfo.setTag("5120");
    cmdSysInfo.move(kWidth - 2 * 1575 - 360, 3420, 1575, 375);
    cmdOK.setCaption("OK");
    cmdOK.setTag("5130");
    cmdOK.setDefault(true);
    cmdOK.setCancel(true);
    cmdOK.move(kWidth - 1575 - 240, 3420, 1575, 375);

    onLoad = [this] { Form_Load(); };
    // Shown again whenever the box comes to the front.
    onActivate = [this] { lbl_DLLInfo.setCaption(driverInfoText(facts_, text_)); };
    cmdOK.onClick = [this] { unload(); };
    cmdSysInfo.onClick = [this] { StartSysInfo(); };
}

frmAbout::~frmAbout() {
    if (loaded()) unload();
}

void frmAbout::Form_Load() {
    // The caption is composed below: the form carries no number of its own.
    text_.translateForm(*this);
    const std::string title =
        replaceAll(text_.langText(txt::kProductTitle), "XXX",
                   facts_.scannerModel.empty() ? "Quilo" : facts_.scannerModel);
    setCaption(text_.langText(txt::kAboutCaption) + " " + title);
    const platform::VersionInfo v = platform().process().version();
    lblVersion.setCaption("Version " + std::to_string(v.major) + "." + std::to_string(v.minor) +
                          "." + std::to_string(v.revision));
    lblTitle.setCaption(title);
    lblDescription.setCaption("Copyright \u00A9 2002-" +
                              std::to_string(platform().clock().localTime().year) + " " +
                              facts_.company);
    lbl_DLLInfo.setCaption(driverInfoText(facts_, text_));
}

void frmAbout::StartSysInfo() {
    try {
        platform::Platform& p = platform();
        std::string path;
        if (GetKeyValue(p.registry(), platform::RegRoot::LocalMachine,
                        "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO", "PATH", path)) {
            p.process().startProgram(path, "");
            return;
        }
        if (GetKeyValue(p.registry(), platform::RegRoot::LocalMachine,
                        "SOFTWARE\\Microsoft\\Shared Tools Location", "MSINFO", path) &&
            p.files().exists(path + "\\MSINFO32.EXE")) {
            p.process().startProgram(path + "\\MSINFO32.EXE", "");
            return;
        }
        p.process().messageBox(hwnd(), "System Information Is Unavailable At This Time",
                               p.process().version().title, platform::mb::kOk);
    } catch (const std::exception&) {
        // The tool is a convenience: a failure to start it ends here without a message.
    }
}

}  // namespace quilo::ui
