#include "ui/lead_control.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace quilo::ui {

std::shared_ptr<const forms::DisplayImage> displayPicture(const imaging::Image& image,
                                                          int maxSide) {
    if (image.empty() || maxSide < 1) return nullptr;
    const std::uint32_t w = image.width(), h = image.height();
    const std::uint32_t longer = std::max(w, h);
    const auto side = static_cast<std::uint32_t>(maxSide);
    // Reduction by a whole factor, so every screen pixel covers the same block of the image.
    const std::uint32_t f = (longer + side - 1) / side;
    const std::uint32_t dw = std::max<std::uint32_t>(1, w / f);
    const std::uint32_t dh = std::max<std::uint32_t>(1, h / f);
    const std::size_t bpp = image.bytesPerSample();
    std::vector<std::uint8_t> out(std::size_t{dw} * dh * bpp);
    if (f == 1) {
        std::memcpy(out.data(), image.data(), out.size());
    } else {
        std::vector<std::uint64_t> sums(dw);
        const std::uint64_t n = std::uint64_t{f} * f;
        for (std::uint32_t dy = 0; dy < dh; ++dy) {
            std::fill(sums.begin(), sums.end(), 0);
            for (std::uint32_t y = dy * f; y < dy * f + f; ++y)
                for (std::uint32_t dx = 0; dx < dw; ++dx)
                    for (std::uint32_t x = dx * f; x < dx * f + f; ++x)
                        sums[dx] += image.at(x, y);
            for (std::uint32_t dx = 0; dx < dw; ++dx) {
                const auto v = static_cast<std::uint32_t>((sums[dx] + n / 2) / n);
                const std::size_t at = (std::size_t{dy} * dw + dx) * bpp;
                out[at] = static_cast<std::uint8_t>(v & 0xFF);
                if (bpp == 2) out[at + 1] = static_cast<std::uint8_t>(v >> 8);
            }
        }
    }
    return forms::makeDisplayImage(static_cast<int>(dw), static_cast<int>(dh), image.bitsPerPixel(),
                                   std::move(out));
}

void LeadControl::refresh() {
    const imaging::Image* image = control_.bitmapImage();
    view_.setImage(image != nullptr ? displayPicture(*image, kViewSide) : nullptr);
}

void LeadControl::clear() {
    control_.releaseBitmap();
    view_.setImage(nullptr);
}

}  // namespace quilo::ui
