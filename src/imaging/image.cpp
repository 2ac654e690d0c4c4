#include "imaging/image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>

namespace quilo::imaging {

std::string checkImageShape(std::uint64_t width, std::uint64_t height, int bitsPerPixel) {
    if (bitsPerPixel != 8 && bitsPerPixel != 12 && bitsPerPixel != 16)
        return "unsupported bits per pixel " + std::to_string(bitsPerPixel);
    if (width == 0 || height == 0) return "empty image";
    if (width > kMaxDimension || height > kMaxDimension)
        return "image dimensions " + std::to_string(width) + " x " + std::to_string(height) +
               " exceed the limit of " + std::to_string(kMaxDimension);
    const std::uint64_t bytes = width * height * (bitsPerPixel == 8 ? 1u : 2u);
    if (bytes > kMaxImageBytes)
        return "image of " + std::to_string(bytes) + " bytes exceeds the limit of " +
               std::to_string(kMaxImageBytes);
    return {};
}

Image::Image(std::uint32_t width, std::uint32_t height, int bitsPerPixel) {
    if (auto why = checkImageShape(width, height, bitsPerPixel); !why.empty())
        throw std::invalid_argument(why);
    width_ = width;
    height_ = height;
    bits_ = bitsPerPixel;
    // Uninitialised on purpose: every producer writes each pixel. malloc, so that a change to
    // 8 bits can give back the half it no longer needs (becomeEightBit).
    auto* pixels = static_cast<std::uint8_t*>(std::malloc(byteSize()));
    if (!pixels) throw std::bad_alloc();
    data_ = std::unique_ptr<std::uint8_t[], detail::Release>(pixels, detail::Release{true});
}

Image Image::borrowing(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                       int bitsPerPixel) {
    if (auto why = checkImageShape(width, height, bitsPerPixel); !why.empty())
        throw std::invalid_argument(why);
    if (!pixels) throw std::invalid_argument("no pixels to borrow");
    return Image(pixels, width, height, bitsPerPixel, false);
}

Image Image::recycled(Image old, std::uint32_t width, std::uint32_t height, int bitsPerPixel) {
    if (auto why = checkImageShape(width, height, bitsPerPixel); !why.empty())
        throw std::invalid_argument(why);
    const std::size_t bytes = std::size_t{width} * height * (bitsPerPixel == 8 ? 1 : 2);
    if (!old.ownsPixels() || old.byteSize() < bytes) {
        old = Image();
        return Image(width, height, bitsPerPixel);
    }
    std::uint8_t* pixels = old.data_.release();
    // A shrinking realloc stays in place in practice; should it fail, the larger block serves.
    if (auto* smaller = static_cast<std::uint8_t*>(std::realloc(pixels, bytes))) pixels = smaller;
    return Image(pixels, width, height, bitsPerPixel, true);
}

Image::Image(Image&& o) noexcept
    : data_(std::move(o.data_)),
      width_(std::exchange(o.width_, 0)),
      height_(std::exchange(o.height_, 0)),
      bits_(std::exchange(o.bits_, 0)),
      pitchX_(o.pitchX_),
      pitchY_(o.pitchY_) {}

Image& Image::operator=(Image&& o) noexcept {
    if (this != &o) {
        data_ = std::move(o.data_);
        width_ = std::exchange(o.width_, 0);
        height_ = std::exchange(o.height_, 0);
        bits_ = std::exchange(o.bits_, 0);
        pitchX_ = o.pitchX_;
        pitchY_ = o.pitchY_;
    }
    return *this;
}

Image Image::clone() const {
    if (empty()) return {};
    Image copy(width_, height_, bits_);
    std::memcpy(copy.data(), data(), byteSize());
    copy.setPitch(pitchX_, pitchY_);
    return copy;
}

void Image::fill(std::uint32_t value) {
    if (bits_ == 8) {
        std::memset(data(), static_cast<int>(value & 0xFF), byteSize());
    } else {
        auto* p = row16(0);
        std::fill(p, p + pixelCount(), static_cast<std::uint16_t>(value));
    }
}

void Image::becomeEightBit() {
    if (bits_ == 8 || !ownsPixels())
        throw std::logic_error("becomeEightBit needs an owned 12- or 16-bit image");
    bits_ = 8;
    // A shrinking realloc keeps the samples in place in practice (and copies them otherwise);
    // should it fail, the larger block is kept.
    if (auto* smaller = static_cast<std::uint8_t*>(std::realloc(data_.get(), byteSize()))) {
        (void)data_.release();
        data_.reset(smaller);
    }
}

void Image::relabelDepth(int bitsPerPixel) {
    if (bits_ == 8 || (bitsPerPixel != 12 && bitsPerPixel != 16))
        throw std::invalid_argument("relabelDepth works between 12 and 16 bits only");
    bits_ = bitsPerPixel;
}

}  // namespace quilo::imaging
