// frmAbout: the plug-in's title and version, a notice line with the company, the scanner
// driver's version and serial number, and a button that starts the system-information tool.
#pragma once

#include <string>
#include <string_view>

#include "forms/form.h"
#include "forms/forms.h"
#include "platform/registry.h"
#include "ui/text_lookup.h"

namespace quilo::ui {

// What the box shows besides its own texts.
struct AboutFacts {
    std::string scannerModel;   // replaces "XXX"; empty: "Quilo"
    std::string company;        // after the former company name was replaced
    std::string driverVersion;  // empty when the library could not give it
    std::string serialNumber;   // empty while the scanner was not open
};

// Reads one registry value into KeyVal: a string value as it is, a 32-bit value as its decimal
// text. False (and KeyVal empty) when the key or the value cannot be read.
bool GetKeyValue(platform::Registry& registry, platform::RegRoot KeyRoot, std::string_view Keyname,
                 std::string_view SubKeyRef, std::string& KeyVal);

// The driver information: the library's version, and the serial number when there is one,
// each under its heading in the loaded language.
std::string driverInfoText(const AboutFacts& facts, TextLookup& text);

class frmAbout final : public forms::Form {
  public:
    frmAbout(forms::Forms& forms, TextLookup& text, AboutFacts facts);
    ~frmAbout() override;

    forms::Label& lblTitle;
    forms::Label& lblVersion;
    forms::Label& lblDescription;
    forms::Frame& Frame1;
    forms::Label& Label1;  // "DLL info:"
    forms::Label& lbl_DLLInfo;
    forms::CommandButton& cmdOK;
    forms::CommandButton& cmdSysInfo;

    // Starts the system-information tool, or says that it is missing.
    void StartSysInfo();

  private:
    void Form_Load();

    TextLookup& text_;
    AboutFacts facts_;
};

}  // namespace quilo::ui
