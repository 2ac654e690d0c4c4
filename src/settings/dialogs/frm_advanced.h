// The two advanced enhancement dialogs, opened from the setup dialog's "Advanced..." buttons:
// frmSettings edits the standard enhancement's mapping and limits per image type, and
// frmLeadSettings the alternate enhancement's noise reduction, histogram stretch and cutoffs.
// Both edit a private copy of their values and write it to the settings in memory only on OK.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "forms/form.h"
#include "forms/forms.h"
#include "settings/plugin_settings.h"
#include "ui/text_lookup.h"

namespace quilo::settings {

// The image types in tab order: intraoral, panoramic, cephalometric, with their tab tags.
inline constexpr std::array<std::pair<std::string_view, std::string_view>, 3> kTypeTabs = {
    {{"Intraoral", "3600"}, {"Panoramic", "3610"}, {"Cephalometric", "3620"}}};

// A stored percentage shown in a box: value / scale with one decimal and no leading zero, always
// with a point (25000 at scale 10000 -> "2.5", 0 -> ".0").
std::string percentText(std::int32_t value, std::int32_t scale);
// A standard limit as typed -> percent times 10000 (0 to 400000); empty when not valid.
std::optional<std::int32_t> parseLimit(std::string_view text);
// An alternate cutoff as typed, read with the locale's decimal separator: in percent mode tenths
// of a percent (0 to 1000), else a grey value (0 to 65535); halves round to even. Empty when not
// valid.
std::optional<std::int32_t> parseCutoff(std::string_view text, bool percent, char decimalSeparator);

// What both dialogs share: the tab control, OK and Cancel, and the height rule.
class AdvancedDialog : public forms::Form {
  public:
    forms::TabControl& SSTab1;
    forms::CommandButton& Command1;  // OK
    forms::CommandButton& Command2;  // Cancel

  protected:
    AdvancedDialog(forms::Forms& forms, std::string name, SettingsStore& store,
                   ui::TextLookup& text);
    // Ends the client area 90 twips below OK.
    void fitHeight();
    // The invalid-entry message: a message box with the text of `number`, the focus stays.
    void refuse(std::int32_t number);

    SettingsStore& store_;
    ui::TextLookup& text_;
};

class frmSettings final : public AdvancedDialog {
  public:
    struct TypeControls {
        forms::ComboBox& cboMapping;
        forms::TextBox& txtLow;
        forms::TextBox& txtUpp;
    };

    frmSettings(forms::Forms& forms, SettingsStore& store, ui::TextLookup& text);
    ~frmSettings() override;

    // Per image type, in tab order.
    TypeControls& type(int i) { return types_.at(static_cast<std::size_t>(i)); }
    // The dialog's copy: per type low, high, mapping type.
    const std::array<std::int32_t, 9>& values() const { return values_; }

  private:
    void Form_Load();
    void validate(int type, bool upper, bool& cancel);
    void Command1_Click();

    std::array<TypeControls, 3> types_;
    std::array<std::int32_t, 9> values_{};
};

class frmLeadSettings final : public AdvancedDialog {
  public:
    struct TypeControls {
        forms::ComboBox& cboNR;
        forms::CheckBox& chkHisto;
        forms::ComboBox& cmbCut;
        forms::TextBox& txtLow;
        forms::TextBox& txtUpp;
        forms::Label& lblUnitLow;
        forms::Label& lblUnitUpp;
    };

    frmLeadSettings(forms::Forms& forms, SettingsStore& store, ui::TextLookup& text);
    ~frmLeadSettings() override;

    TypeControls& type(int i) { return types_.at(static_cast<std::size_t>(i)); }
    // The dialog's copy of the cutoffs: percent low/high for Intra, Pano, Ceph, then absolute
    // low/high for the same.
    const std::array<std::int32_t, 12>& cutoffs() const { return cutoffs_; }

  private:
    void Form_Load();
    void cutoffChanged(int type);
    void histoChanged(int type);
    void validate(int type, bool upper, bool& cancel);
    void Command1_Click();
    // Index into cutoffs_ of a type's box in a mode.
    static std::size_t slot(int type, bool upper, bool percent) {
        return static_cast<std::size_t>((percent ? 0 : 6) + 2 * type + (upper ? 1 : 0));
    }

    std::array<TypeControls, 3> types_;
    std::array<std::int32_t, 12> cutoffs_{};
    std::array<std::int32_t, 3> modes_{};
};

}  // namespace quilo::settings
