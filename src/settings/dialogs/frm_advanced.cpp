#include "settings/dialogs/frm_advanced.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "ui/text_ids.h"

namespace quilo::settings {

namespace {

constexpr std::array<std::string_view, 3> kSuffix = {"Intra", "Pano", "Ceph"};
constexpr int kButtonWidth = 1215;
constexpr int kButtonHeight = 375;
constexpr int kRowHeight = 315;

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string replaceChar(std::string_view s, char from, char to) {
    std::string out(s);
    for (char& c : out)
        if (c == from) c = to;
    return out;
}

// A number as a person types it: an optional sign, digits with at most one `point`, at least one
// digit; blanks around it are allowed. Its value, or empty.
std::optional<double> numeric(std::string_view text, char point) {
    text = trim(text);
    std::string plain;
    bool digit = false, seenPoint = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == '-' || c == '+') && i == 0) {
            if (c == '-') plain.push_back('-');
        } else if (c >= '0' && c <= '9') {
            digit = true;
            plain.push_back(c);
        } else if (c == point && !seenPoint) {
            seenPoint = true;
            plain.push_back('.');
        } else {
            return std::nullopt;
        }
    }
    if (!digit) return std::nullopt;
    if (plain.front() == '.' || (plain.size() > 1 && plain[0] == '-' && plain[1] == '.'))
        plain.insert(plain.front() == '-' ? std::size_t{1} : std::size_t{0}, "0");
    double v = 0;
    const auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), v);
    if (ec != std::errc() || end != plain.data() + plain.size()) return std::nullopt;
    return v;
}

// A value from a part of the standard limit's text, truncated toward zero.
std::optional<double> wholePart(std::string_view part) {
    const auto v = numeric(part, '.');
    if (!v) return std::nullopt;
    return std::trunc(*v);
}

void place(forms::Control& c, forms::Control* container, int tab, int left, int top, int width,
           int height) {
    c.setContainer(container, tab);
    c.move(left, top, width, height);
}

// A label; `tag` empty for one that shows no words (a unit).
forms::Label& label(forms::Form& f, std::string name, int index, std::string_view caption,
                    std::string_view tag, forms::Control* container, int tab, int left, int top,
                    int width) {
    auto& l = f.add<forms::Label>(std::move(name), index);
    l.setCaption(caption);
    l.setTag(tag);
    place(l, container, tab, left, top + 60, width, 255);
    return l;
}

}  // namespace

std::string percentText(std::int32_t value, std::int32_t scale) {
    // One decimal, halves away from zero; the integer part without a leading zero.
    const long long tenths = std::llround(static_cast<double>(value) * 10.0 / scale);
    const long long whole = std::llabs(tenths) / 10;
    std::string out = tenths < 0 ? "-" : "";
    if (whole != 0) out += std::to_string(whole);
    return out + "." + std::to_string(std::llabs(tenths) % 10);
}

std::optional<std::int32_t> parseLimit(std::string_view text) {
    const std::string t = replaceChar(trim(text), ',', '.');
    double value = 0;
    if (const auto point = t.find('.'); point != std::string::npos) {
        const std::string before = point == 0 ? "0" : t.substr(0, point);
        const auto whole = wholePart(before);
        if (!whole || *whole > 40) return std::nullopt;
        const std::string after = point + 1 == t.size() ? "0" : t.substr(point + 1);
        const auto fraction = wholePart(after);
        if (!fraction) return std::nullopt;
        // The digits after the point count in tenths, as the display shows one.
        value = *whole * 10000 + *fraction * 1000;
    } else {
        const auto whole = wholePart(t);
        if (!whole || *whole > 40) return std::nullopt;
        value = *whole * 10000;
    }
    if (value < 0 || value > 400000) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

std::optional<std::int32_t> parseCutoff(std::string_view text, bool percent,
                                        char decimalSeparator) {
    std::string t(trim(text));
    t = decimalSeparator == ',' ? replaceChar(t, '.', ',') : replaceChar(t, ',', '.');
    const auto number = numeric(t, decimalSeparator == ',' ? ',' : '.');
    if (!number) return std::nullopt;
    const double v = std::nearbyint(percent ? *number * 10 : *number);  // halves to even
    if (v < 0 || v > (percent ? 1000 : 65535)) return std::nullopt;
    return static_cast<std::int32_t>(v);
}

// --- the shared frame -------------------------------------------------------------------------

AdvancedDialog::AdvancedDialog(forms::Forms& forms, std::string name, SettingsStore& store,
                               ui::TextLookup& text)
    : forms::Form(forms, std::move(name)),
      SSTab1(add<forms::TabControl>("SSTab1")),
      Command1(add<forms::CommandButton>("Command1")),
      Command2(add<forms::CommandButton>("Command2")),
      store_(store),
      text_(text) {
    setBorderStyle(forms::BorderStyle::FixedDialog);
    // The tabs carry their own numbers; the control's tag only has it translated.
    SSTab1.setTag("3600");
    for (auto [caption, tag] : kTypeTabs)
        SSTab1.addTab(caption, tag);
    Command1.setCaption("OK");
    Command1.setTag("3580");
    Command1.setDefault(true);
    Command2.setCaption("Cancel");
    Command2.setTag("3590");
    Command2.setCancel(true);
    Command2.setCausesValidation(false);
    Command2.onClick = [this] { unload(); };
}

void AdvancedDialog::fitHeight() {
    setHeight(height() - scaleHeight() + Command1.top() + Command1.height() + 90);
}

void AdvancedDialog::refuse(std::int32_t number) {
    platform::Process& p = platform().process();
    p.messageBox(hwnd(), text_.langText(number), p.version().title, platform::mb::kOk);
}

// --- frmSettings ----------------------------------------------------------------------------

namespace {

constexpr int kSettingsWidth = 5400;

frmSettings::TypeControls standardType(forms::Form& f, forms::TabControl& tabs, int i) {
    const std::string s(kSuffix[static_cast<std::size_t>(i)]);
    auto& frame = f.add<forms::Frame>("Frame1", i);
    frame.setCaption("Optimize grayvalues");
    frame.setTag("3510");
    place(frame, &tabs, i, 120, 480, kSettingsWidth - 480, 2040);
    label(f, "lblMapping", i, "Mapping:", "3520", &frame, 0, 240, 360, 1500);
    auto& cbo = f.add<forms::ComboBox>("cboMapping" + s);
    place(cbo, &frame, 0, 1800, 360, 2640, kRowHeight);
    label(f, "lblLow", i, "Lower limit:", "3550", &frame, 0, 240, 900, 1500);
    auto& low = f.add<forms::TextBox>("txtLow" + s);
    place(low, &frame, 0, 1800, 900, 1000, kRowHeight);
    label(f, "lblLowPercent", i, "%", "", &frame, 0, 2880, 900, 300);
    label(f, "lblUpp", i, "Upper limit:", "3560", &frame, 0, 240, 1440, 1500);
    auto& upp = f.add<forms::TextBox>("txtUpp" + s);
    place(upp, &frame, 0, 1800, 1440, 1000, kRowHeight);
    label(f, "lblUppPercent", i, "%", "", &frame, 0, 2880, 1440, 300);
    return {cbo, low, upp};
}

}  // namespace

frmSettings::frmSettings(forms::Forms& forms, SettingsStore& store, ui::TextLookup& text)
    : AdvancedDialog(forms, "frmSettings", store, text),
      types_{standardType(*this, SSTab1, 0), standardType(*this, SSTab1, 1),
             standardType(*this, SSTab1, 2)} {
    setCaption("Advanced settings (Standard)");
    setTag("3500");
    SSTab1.move(120, 120, kSettingsWidth - 240, 2760);
    Command1.move(kSettingsWidth - 2 * kButtonWidth - 240, 3000, kButtonWidth, kButtonHeight);
    Command2.move(kSettingsWidth - kButtonWidth - 120, 3000, kButtonWidth, kButtonHeight);
    setClientSize(kSettingsWidth, 3500);
    for (int i = 0; i < 3; ++i) {
        types_[static_cast<std::size_t>(i)].txtLow.onValidate = [this, i](bool& cancel) {
            validate(i, false, cancel);
        };
        types_[static_cast<std::size_t>(i)].txtUpp.onValidate = [this, i](bool& cancel) {
            validate(i, true, cancel);
        };
    }
    onLoad = [this] { Form_Load(); };
    Command1.onClick = [this] { Command1_Click(); };
}

frmSettings::~frmSettings() {
    if (loaded()) unload();
}

void frmSettings::Form_Load() {
    text_.translateForm(*this);
    fitHeight();
    const PluginSettings& s = store_.settings();
    values_ = {s.IntraLimitLow, s.IntraLimitHigh, s.IntraMappingType,
               s.PanoLimitLow,  s.PanoLimitHigh,  s.PanoMappingType,
               s.CephLimitLow,  s.CephLimitHigh,  s.CephMappingType};
    for (std::size_t i = 0; i < 3; ++i) {
        TypeControls& t = types_[i];
        t.cboMapping.clear();
        t.cboMapping.addItem(text_.langText(ui::txt::kMappingType0));
        t.cboMapping.addItem(text_.langText(ui::txt::kMappingType1));
        t.cboMapping.setListIndex(values_[3 * i + 2] == 1 ? 1 : 0);
        t.txtLow.setText(percentText(values_[3 * i], 10000));
        t.txtUpp.setText(percentText(values_[3 * i + 1], 10000));
    }
}

void frmSettings::validate(int type, bool upper, bool& cancel) {
    const auto i = static_cast<std::size_t>(type);
    forms::TextBox& box = upper ? types_[i].txtUpp : types_[i].txtLow;
    const auto v = parseLimit(box.text());
    if (!v) {
        refuse(ui::txt::kLimitInvalid);
        cancel = true;
        return;
    }
    values_[3 * i + (upper ? 1 : 0)] = *v;
}

void frmSettings::Command1_Click() {
    for (std::size_t i = 0; i < 3; ++i)
        values_[3 * i + 2] = types_[i].cboMapping.listIndex();
    PluginSettings& s = store_.settings();
    s.IntraLimitLow = values_[0];
    s.IntraLimitHigh = values_[1];
    s.IntraMappingType = values_[2];
    s.PanoLimitLow = values_[3];
    s.PanoLimitHigh = values_[4];
    s.PanoMappingType = values_[5];
    s.CephLimitLow = values_[6];
    s.CephLimitHigh = values_[7];
    s.CephMappingType = values_[8];
    unload();
}

// --- frmLeadSettings ------------------------------------------------------------------------

namespace {

constexpr int kLeadWidth = 6000;

frmLeadSettings::TypeControls leadType(forms::Form& f, forms::TabControl& tabs, int i) {
    const std::string s(kSuffix[static_cast<std::size_t>(i)]);
    constexpr int kField = 2400;
    label(f, "lblNR", i, "Noise reduction", "3660", &tabs, i, 240, 540, 2040);
    auto& nr = f.add<forms::ComboBox>("cboNR_" + s);
    place(nr, &tabs, i, kField, 540, 2400, kRowHeight);
    auto& histo = f.add<forms::CheckBox>("chkHisto" + s);
    histo.setCaption("Enable automatic histogram stretch");
    histo.setTag("3670");
    place(histo, &tabs, i, 240, 1020, kLeadWidth - 720, 255);
    label(f, "lblCut", i, "Cutoff:", "3680", &tabs, i, 240, 1440, 2040);
    auto& cut = f.add<forms::ComboBox>("cmbCut" + s);
    place(cut, &tabs, i, kField, 1440, 2400, kRowHeight);
    label(f, "lblLow", i, "Lower cutoff:", "3690", &tabs, i, 240, 1920, 2040);
    auto& low = f.add<forms::TextBox>("txtLow" + s);
    place(low, &tabs, i, kField, 1920, 1000, kRowHeight);
    auto& unitLow = label(f, "lblUnitLow", i, "%", "", &tabs, i, kField + 1080, 1920, 1500);
    label(f, "lblUpp", i, "Upper cutoff:", "3730", &tabs, i, 240, 2400, 2040);
    auto& upp = f.add<forms::TextBox>("txtUpp" + s);
    place(upp, &tabs, i, kField, 2400, 1000, kRowHeight);
    auto& unitUpp = label(f, "lblUnitUpp", i, "%", "", &tabs, i, kField + 1080, 2400, 1500);
    return {nr, histo, cut, low, upp, unitLow, unitUpp};
}

}  // namespace

frmLeadSettings::frmLeadSettings(forms::Forms& forms, SettingsStore& store, ui::TextLookup& text)
    : AdvancedDialog(forms, "frmLeadSettings", store, text),
      types_{leadType(*this, SSTab1, 0), leadType(*this, SSTab1, 1), leadType(*this, SSTab1, 2)} {
    setCaption("Advanced settings (Alternative)");
    setTag("3650");
    SSTab1.move(120, 120, kLeadWidth - 240, 3000);
    Command1.move(kLeadWidth - 2 * kButtonWidth - 240, 3240, kButtonWidth, kButtonHeight);
    Command2.move(kLeadWidth - kButtonWidth - 120, 3240, kButtonWidth, kButtonHeight);
    setClientSize(kLeadWidth, 3800);
    for (int i = 0; i < 3; ++i) {
        TypeControls& t = types_[static_cast<std::size_t>(i)];
        t.cmbCut.onClick = [this, i] { cutoffChanged(i); };
        t.chkHisto.onClick = [this, i] { histoChanged(i); };
        t.txtLow.onValidate = [this, i](bool& cancel) { validate(i, false, cancel); };
        t.txtUpp.onValidate = [this, i](bool& cancel) { validate(i, true, cancel); };
    }
    onLoad = [this] { Form_Load(); };
    Command1.onClick = [this] { Command1_Click(); };
}

frmLeadSettings::~frmLeadSettings() {
    if (loaded()) unload();
}

void frmLeadSettings::Form_Load() {
    text_.translateForm(*this);
    fitHeight();
    const PluginSettings& s = store_.settings();
    for (TypeControls& t : types_) {
        t.cboNR.clear();
        t.cboNR.addItem(text_.langText(ui::txt::kNoiseReductionNone));
        for (int n = 1; n <= 15; ++n)
            t.cboNR.addItem(std::to_string(n) + " (" + std::to_string(n + 1) + "x" +
                            std::to_string(n + 1) + ")");
    }
    cutoffs_ = {s.IntraLeadLow,   s.IntraLeadHigh,   s.PanoLeadLow,     s.PanoLeadHigh,
                s.CephLeadLow,    s.CephLeadHigh,    s.IntraLeadLowAbs, s.IntraLeadHighAbs,
                s.PanoLeadLowAbs, s.PanoLeadHighAbs, s.CephLeadLowAbs,  s.CephLeadHighAbs};
    modes_ = {s.IntraLeadCutoff, s.PanoLeadCutoff, s.CephLeadCutoff};
    const std::array<std::int32_t, 3> levels = {s.IntraLeadNRLevel, s.PanoLeadNRLevel,
                                                s.CephLeadNRLevel};
    const std::array<std::int32_t, 3> stretch = {s.IntraLeadStretch, s.PanoLeadStretch,
                                                 s.CephLeadStretch};
    for (int i = 0; i < 3; ++i) {
        const auto k = static_cast<std::size_t>(i);
        TypeControls& t = types_[k];
        const bool percent = modes_[k] == 1;
        t.txtLow.setText(percent ? percentText(cutoffs_[slot(i, false, true)], 10)
                                 : std::to_string(cutoffs_[slot(i, false, false)]));
        t.txtUpp.setText(percent ? percentText(cutoffs_[slot(i, true, true)], 10)
                                 : std::to_string(cutoffs_[slot(i, true, false)]));
        t.cmbCut.clear();
        t.cmbCut.addItem(text_.langText(ui::txt::kCutoffAbsolute));
        t.cmbCut.addItem(text_.langText(ui::txt::kCutoffPercent));
        // A stored mode outside the two lines selects none; the boxes then show the absolute
        // pair, as any line but "percent" does.
        t.cmbCut.setListIndex(modes_[k] == 0 || modes_[k] == 1 ? modes_[k] : -1);
        cutoffChanged(i);
        t.cboNR.setListIndex(levels[k] >= 0 && levels[k] <= 15 ? levels[k] : -1);
        t.chkHisto.setValue(stretch[k] == 1 ? 1 : 0);
        histoChanged(i);
    }
}

void frmLeadSettings::cutoffChanged(int type) {
    TypeControls& t = types_[static_cast<std::size_t>(type)];
    const bool percent = t.cmbCut.listIndex() == 1;
    const char* unit = percent ? "%" : "(0-65535)";
    t.lblUnitLow.setCaption(unit);
    t.lblUnitUpp.setCaption(unit);
    for (bool upper : {false, true}) {
        const std::int32_t v = cutoffs_[slot(type, upper, percent)];
        (upper ? t.txtUpp : t.txtLow).setText(percent ? percentText(v, 10) : std::to_string(v));
    }
}

void frmLeadSettings::histoChanged(int type) {
    TypeControls& t = types_[static_cast<std::size_t>(type)];
    const bool on = t.chkHisto.value() == 1;
    t.txtLow.setEnabled(on);
    t.txtUpp.setEnabled(on);
    t.cmbCut.setEnabled(on);
}

void frmLeadSettings::validate(int type, bool upper, bool& cancel) {
    TypeControls& t = types_[static_cast<std::size_t>(type)];
    const bool percent = t.cmbCut.listIndex() == 1;
    const auto v = parseCutoff((upper ? t.txtUpp : t.txtLow).text(), percent,
                               platform().process().decimalSeparator());
    if (!v) {
        refuse(ui::txt::kCutoffInvalid);
        cancel = true;
        return;
    }
    cutoffs_[slot(type, upper, percent)] = *v;
}

void frmLeadSettings::Command1_Click() {
    PluginSettings& s = store_.settings();
    const std::array<std::int32_t*, 3> stretch = {&s.IntraLeadStretch, &s.PanoLeadStretch,
                                                  &s.CephLeadStretch};
    const std::array<std::int32_t*, 3> levels = {&s.IntraLeadNRLevel, &s.PanoLeadNRLevel,
                                                 &s.CephLeadNRLevel};
    const std::array<std::int32_t*, 3> modes = {&s.IntraLeadCutoff, &s.PanoLeadCutoff,
                                                &s.CephLeadCutoff};
    const std::array<std::int32_t*, 12> cut = {
        &s.IntraLeadLow,   &s.IntraLeadHigh,   &s.PanoLeadLow,     &s.PanoLeadHigh,
        &s.CephLeadLow,    &s.CephLeadHigh,    &s.IntraLeadLowAbs, &s.IntraLeadHighAbs,
        &s.PanoLeadLowAbs, &s.PanoLeadHighAbs, &s.CephLeadLowAbs,  &s.CephLeadHighAbs};
    for (std::size_t i = 0; i < 3; ++i) {
        *stretch[i] = types_[i].chkHisto.value() == 1 ? 1 : 0;
        *levels[i] = types_[i].cboNR.listIndex();
        *modes[i] = types_[i].cmbCut.listIndex();
    }
    for (std::size_t i = 0; i < 12; ++i)
        *cut[i] = cutoffs_[i];
    unload();
}

}  // namespace quilo::settings
