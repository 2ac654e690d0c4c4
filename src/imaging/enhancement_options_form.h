// The small options form of our enhancement component: the CLAHE regions, the contrast limit,
// the sharpening and the blend of one image type, with a before-and-after preview of the last
// image of that type when one was kept (savePreview).
#pragma once

#include <memory>

#include "forms/controls.h"
#include "forms/form.h"
#include "forms/forms.h"
#include "imaging/enhancement.h"

namespace quilo::imaging {

class EnhancementOptionsForm : public forms::Form {
  public:
    EnhancementOptionsForm(forms::Forms& forms, const EnhancementComponent::OptionsRequest& request,
                           const EnhancementOptions& options, const Image* previewSource);

    // The values of the boxes, when all of them are valid numbers in range; else nothing and
    // the first invalid box is named in invalidBox().
    std::optional<EnhancementOptions> read();
    const std::string& invalidBox() const { return invalid_; }
    bool confirmed() const { return confirmed_; }
    const EnhancementOptions& result() const { return result_; }

    forms::TextBox& txtTilesX;
    forms::TextBox& txtTilesY;
    forms::TextBox& txtClip;
    forms::TextBox& txtSharpen;
    forms::TextBox& txtBlend;
    forms::ImageView& imgBefore;
    forms::ImageView& imgAfter;
    forms::Label& lblError;
    forms::CommandButton& cmdOK;
    forms::CommandButton& cmdCancel;

  private:
    void updatePreview();

    const Image* preview_;
    EnhancementOptions result_;
    bool confirmed_ = false;
    std::string invalid_;
};

// The presenter the enhancement component uses: shows the form modally, owned by the loaded form
// whose window is the request's parent (if any). With the visible flag off, the plug-in's own
// windows are hidden, so the form is put topmost to be seen above the host.
EnhancementComponent::OptionsPresenter makeOptionsPresenter(forms::Forms& forms,
                                                            const EnhancementComponent& component);

}  // namespace quilo::imaging
