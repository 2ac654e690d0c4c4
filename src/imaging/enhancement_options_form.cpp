#include "imaging/enhancement_options_form.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

#include "imaging/operations.h"

namespace quilo::imaging {
namespace {

std::optional<double> number(const std::string& text) {
    std::string t = text;
    for (char& c : t)
        if (c == ',') c = '.';  // either decimal separator is taken
    const auto first = t.find_first_not_of(' '), last = t.find_last_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    t = t.substr(first, last - first + 1);
    double v = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec != std::errc() || end != t.data() + t.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

std::string decimal(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

std::shared_ptr<const forms::DisplayImage> displayOf(const Image& img) {
    std::vector<std::uint8_t> bytes(img.data(), img.data() + img.byteSize());
    return forms::makeDisplayImage(static_cast<int>(img.width()), static_cast<int>(img.height()),
                                   img.bitsPerPixel(), std::move(bytes));
}

}  // namespace

EnhancementOptionsForm::EnhancementOptionsForm(forms::Forms& forms,
                                               const EnhancementComponent::OptionsRequest& request,
                                               const EnhancementOptions& options,
                                               const Image* previewSource)
    : Form(forms, "frmEnhancementOptions"),
      txtTilesX(add<forms::TextBox>("txtTilesX")),
      txtTilesY(add<forms::TextBox>("txtTilesY")),
      txtClip(add<forms::TextBox>("txtClip")),
      txtSharpen(add<forms::TextBox>("txtSharpen")),
      txtBlend(add<forms::TextBox>("txtBlend")),
      imgBefore(add<forms::ImageView>("imgBefore")),
      imgAfter(add<forms::ImageView>("imgAfter")),
      lblError(add<forms::Label>("lblError")),
      cmdOK(add<forms::CommandButton>("cmdOK")),
      cmdCancel(add<forms::CommandButton>("cmdCancel")),
      preview_(previewSource),
      result_(options) {
    setCaption("Enhancement options - " + request.name);
    setBorderStyle(forms::BorderStyle::FixedDialog);
    setClientSize(7200, 4200);
    struct Row {
        const char* name;
        const char* caption;
        forms::TextBox& box;
        std::string value;
    };
    const Row rows[] = {
        {"lblTilesX", "Regions across (1-32):", txtTilesX, std::to_string(options.tilesX)},
        {"lblTilesY", "Regions down (1-32):", txtTilesY, std::to_string(options.tilesY)},
        {"lblClip", "Contrast limit (1-100):", txtClip, decimal(options.clipLimit)},
        {"lblSharpen", "Sharpening % (0-200):", txtSharpen, std::to_string(options.sharpen)},
        {"lblBlend", "Equalised share % (0-100):", txtBlend, std::to_string(options.blend)},
    };
    int top = 120;
    for (const Row& r : rows) {
        auto& label = add<forms::Label>(r.name);
        label.setCaption(r.caption);
        label.move(120, top + 30, 2100, 255);
        r.box.move(2280, top, 720, 315);
        r.box.setText(r.value);
        r.box.onChange = [this] { updatePreview(); };
        top += 420;
    }
    imgBefore.move(3240, 120, 1860, 2400);
    imgAfter.move(5220, 120, 1860, 2400);
    imgBefore.setToolTipText("Before");
    imgAfter.setToolTipText("After");
    imgBefore.setVisible(preview_ != nullptr);
    imgAfter.setVisible(preview_ != nullptr);
    lblError.move(120, 2340, 3000, 480);
    lblError.setForeColor(0x0000C0);
    cmdOK.setCaption("OK");
    cmdOK.setDefault(true);
    cmdOK.move(4440, 3660, 1215, 375);
    cmdCancel.setCaption("Cancel");
    cmdCancel.setCancel(true);
    cmdCancel.move(5820, 3660, 1215, 375);
    cmdOK.onClick = [this] {
        if (auto o = read()) {
            result_ = *o;
            confirmed_ = true;
            unload();
        } else {
            lblError.setCaption("Please enter a number in the range shown.");
            if (auto* box = control(invalid_)) box->setFocus();
        }
    };
    cmdCancel.onClick = [this] { unload(); };
    updatePreview();
}

std::optional<EnhancementOptions> EnhancementOptionsForm::read() {
    EnhancementOptions o = result_;
    invalid_.clear();
    auto whole = [&](forms::TextBox& box, int lo, int hi, int& out) {
        const auto v = number(box.text());
        if (!v || *v != std::floor(*v) || *v < lo || *v > hi) {
            if (invalid_.empty()) invalid_ = box.name();
            return;
        }
        out = static_cast<int>(*v);
    };
    whole(txtTilesX, 1, 32, o.tilesX);
    whole(txtTilesY, 1, 32, o.tilesY);
    const auto clip = number(txtClip.text());
    if (!clip || *clip < 1 || *clip > 100) {
        if (invalid_.empty()) invalid_ = txtClip.name();
    } else {
        o.clipLimit = *clip;
    }
    whole(txtSharpen, 0, 200, o.sharpen);
    whole(txtBlend, 0, 100, o.blend);
    if (!invalid_.empty()) return std::nullopt;
    return o;
}

void EnhancementOptionsForm::updatePreview() {
    if (!preview_) return;
    const auto o = read();
    lblError.setCaption(o ? "" : "Please enter a number in the range shown.");
    if (!o) return;
    imgBefore.setImage(displayOf(*preview_));
    imgAfter.setImage(displayOf(enhanceRadiograph(*preview_, *o, 8)));
}

EnhancementComponent::OptionsPresenter makeOptionsPresenter(forms::Forms& forms,
                                                            const EnhancementComponent& component) {
    return [&forms, &component](const EnhancementComponent::OptionsRequest& request,
                                EnhancementOptions& options) {
        EnhancementOptionsForm form(forms, request, options, component.previewSource(request.code));
        forms::Form* owner = nullptr;
        for (forms::Form* f : forms.loaded())
            if (request.parent != 0 && f->hwnd() == request.parent) owner = f;
        form.load();
        if (!request.visible) form.setTopmost(true);
        form.show(forms::ShowMode::Modal, owner);
        if (form.loaded()) form.unload();
        if (!form.confirmed()) return false;
        options = form.result();
        return true;
    };
}

}  // namespace quilo::imaging
