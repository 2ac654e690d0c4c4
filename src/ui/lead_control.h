// An image control on a form: the image the capture path works on (an ImageControl) together
// with the view that shows it. The view gets a reduced copy, so a plate of any size costs the
// screen no more than a few megabytes and the working image is never copied for display.
#pragma once

#include <cstdint>
#include <memory>

#include "forms/controls.h"
#include "imaging/image_control.h"

namespace quilo::ui {

// A picture of the image for the screen, at most maxSide pixels on its longer side (each screen
// pixel the mean of the image pixels it covers), at the image's own depth.
std::shared_ptr<const forms::DisplayImage> displayPicture(const imaging::Image& image, int maxSide);

class LeadControl {
  public:
    // The longest side of the picture a view is given.
    static constexpr int kViewSide = 1024;

    LeadControl(platform::GlobalMemory& memory, forms::ImageView& view)
        : control_(memory), view_(view) {}

    imaging::ImageControl& control() { return control_; }
    const imaging::ImageControl& control() const { return control_; }
    forms::ImageView& view() { return view_; }

    // Shows what the control holds now (an empty view when it holds nothing or the view is
    // hidden). Called after every change the user is to see, and after showing the view.
    void refresh();
    // Empties the control and its view (bitmap handle 0).
    void clear();

  private:
    imaging::ImageControl control_;
    forms::ImageView& view_;
};

}  // namespace quilo::ui
