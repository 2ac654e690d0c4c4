#include "ui/lead_control.h"

#include <utility>

#include "imaging/operations.h"

namespace quilo::ui {

std::shared_ptr<const forms::DisplayImage> displayPicture(const imaging::Image& image,
                                                          int maxSide) {
    if (image.empty() || maxSide < 1) return nullptr;
    auto reduced = std::make_shared<imaging::Image>(
        imaging::reducedCopy(image, static_cast<std::uint32_t>(maxSide)));
    auto picture = std::make_shared<forms::DisplayImage>();
    picture->width = static_cast<int>(reduced->width());
    picture->height = static_cast<int>(reduced->height());
    picture->bitsPerPixel = reduced->bitsPerPixel();
    picture->stride = reduced->rowBytes();
    picture->pixels = reduced->data();
    picture->owner = std::move(reduced);
    return picture;
}

void LeadControl::refresh() {
    const imaging::Image* image = std::as_const(control_).bitmapImage();  // only looks
    // A hidden view (the main form's work image) shows nothing: its picture would cost a pass
    // over every plate for no one to see.
    const bool shown = image != nullptr && view_.visible();
    view_.setImage(shown ? displayPicture(*image, kViewSide) : nullptr);
}

void LeadControl::clear() {
    control_.releaseBitmap();
    view_.setImage(nullptr);
}

}  // namespace quilo::ui
