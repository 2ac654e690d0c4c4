// The setup scenario of the test host: the plug-in's setup dialogs driven as a user drives them.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "test-host/scenario.h"
#include "test-host/scenario_commands.h"

namespace quilo::testhost {

int Scenario::setup(DialogDriver& ui) {
    constexpr std::int32_t kActivateSetup = 10;
    constexpr std::uint32_t kDialogMs = 20000;
    // The options this scenario changes are put back at its end, so the scenarios after it
    // capture with the settings they expect.
    struct Restore {
        Scenario& s;
        std::vector<std::pair<std::string, std::string>> before;
        ~Restore() {
            platform::Registry& r = s.host_.platform().registry();
            for (const auto& [name, value] : before) {
                if (value == "<absent>") {
                    r.deleteValue(platform::RegRoot::LocalMachine, kOptionsKey, name);
                    continue;
                }
                std::vector<std::byte> data(value.size() + 1);
                std::memcpy(data.data(), value.data(), value.size());
                r.setValue(platform::RegRoot::LocalMachine, kOptionsKey, name,
                           platform::RegType::Sz, data);
            }
        }
    } restore{*this, {}};
    for (const char* name : {"BitDepth", "ImageEnhancement", "IntraLeadNRLevel"})
        restore.before.emplace_back(name, option(name));
    if (!startInitialized()) return failures_;
    // The buttons are found by their captions in each language; OK and Cancel are reached with
    // Enter and Escape as a user of any language would.
    struct Pass {
        const char* language;
        const char* about;
        const char* advanced;
        const char* standard;
    };
    const Pass passes[] = {{"English", "About...", "Advanced...", "Standard image enhancement"},
                           {"German", "Info...", "Erweitert...", "Standard-Bildverbesserung"},
                           {"Swedish", "Om...", "Avancerat...", "Standardbildförbättring"}};
    for (const Pass& pass : passes) {
        const std::string language = pass.language;
        const bool english = language == "English";
        auto shot = [&](const char* dialog) {
            ui.screenshot(std::string("setup-") + dialog + "-" + language);
        };
        // Opens a dialog from the current one with a click and takes its picture; the user
        // works in the opened one afterwards.
        auto open = [&](const std::string& caption, const char* dialog) {
            const bool opened = ui.click(caption) && ui.waitDialog(kDialogMs).has_value();
            if (check(opened, std::string(dialog) + " opens (" + language + ")")) shot(dialog);
            return opened;
        };
        auto back = [&](DialogDriver::Key key, const std::string& what) {
            check(ui.press(key) && ui.waitDialog(kDialogMs).has_value(), what);
        };

        host_.send(plugin_, kSetSettings, settingsBlock("LAN " + language));
        const std::size_t from = host_.received().size();
        check(host_.sendHandleCommand(plugin_, kActivateSetup) != 0,
              "ActivateSetup (" + language + ")");
        check(waitRecord(kGetStatus, expectedStatus(16, true), from) >= 0,
              "... reports Idle with a dialog open");
        const std::optional<std::string> caption = ui.waitDialog(kDialogMs);
        if (!check(caption.has_value(), "the setup dialog is on the screen")) return failures_;
        shot("frmSetup");
        if (english)
            check(caption->size() > 6 && caption->ends_with(" Setup"),
                  "... titled \"<model> Setup\"", "\"" + *caption + "\"");
        if (open(pass.about, "frmAbout"))
            back(DialogDriver::Key::Escape, "Escape closes the About box");
        // The default enhancement has no advanced settings; after the English pass the alternate
        // one is the active enhancement.
        if (!english && open(pass.advanced, "frmLeadSettings"))
            back(DialogDriver::Key::Escape, "Escape cancels the advanced settings");
        check(ui.click(pass.standard), std::string("\"") + pass.standard + "\" checked");
        if (open(pass.advanced, "frmSettings"))
            back(DialogDriver::Key::Escape, "Escape cancels the advanced settings");
        if (!english) {
            const std::size_t before = host_.received().size();
            check(ui.press(DialogDriver::Key::Escape), "Escape cancels the setup dialog");
            check(waitRecord(kGetStatus, expectedStatus(16), before) >= 0,
                  "... and Idle without a dialog is reported");
            continue;
        }
        check(ui.choose("12-bit"), "12-bit chosen as the colour depth");
        check(ui.click("Alternate image enhancement"), "\"Alternate image enhancement\" checked");
        if (open("Advanced...", "frmLeadSettings")) {
            check(ui.choose("4 (5x5)"), "noise reduction 4 (5x5) chosen");
            check(ui.click("OK") && ui.waitDialog(kDialogMs).has_value(),
                  "OK closes the advanced settings");
        }
        const std::size_t before = host_.received().size();
        check(ui.click("OK"), "OK pressed in the setup dialog");
        const int capabilities = waitRecord(kGetCapabilities, expectedCapabilities(), before);
        check(capabilities >= 0, "the host receives the capabilities");
        check(waitRecord(kGetStatus, expectedStatus(16),
                         static_cast<std::size_t>(capabilities + 1)) >= 0,
              "... then Idle without a dialog");
        const std::pair<const char*, const char*> saved[] = {
            {"BitDepth", "12"}, {"ImageEnhancement", "1"}, {"IntraLeadNRLevel", "4"}};
        for (const auto& [name, value] : saved)
            check(option(name) == value, std::string("the registry holds ") + name + " " + value,
                  option(name));
    }
    shutdown();
    return failures_;
}

}  // namespace quilo::testhost
