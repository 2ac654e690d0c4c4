// A grey-scale image: 8 bits per pixel in byte samples, 12 or 16 bits per pixel in 16-bit samples
// (a 12-bit image keeps its values in 0..4095). Rows are stored top to bottom without padding.
// Images are moved, never copied implicitly: copying a large radiograph is always a visible
// call to clone().
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>

namespace quilo::imaging {

// The largest image this module accepts: it must fit, twice over, into the 2 GB address space of
// the 32-bit process (a working copy next to the original).
inline constexpr std::uint32_t kMaxDimension = 65535;
inline constexpr std::uint64_t kMaxImageBytes = std::uint64_t{512} << 20;  // 512 MiB

namespace detail {
// Frees the pixels of an image that owns them; leaves borrowed ones alone.
struct Release {
    bool owned = true;
    void operator()(std::uint8_t* p) const {
        if (owned) std::free(p);
    }
};
}  // namespace detail

class Image {
  public:
    Image() = default;
    // A new image with undefined pixel values. Throws std::invalid_argument for bits other than
    // 8, 12 or 16, for zero or oversized dimensions, and std::bad_alloc when memory runs out.
    Image(std::uint32_t width, std::uint32_t height, int bitsPerPixel);

    // An image over pixels that belong to someone else (rows without padding, 16-bit samples
    // 2-byte aligned); it must not outlive them. Used to produce an image straight into its
    // final place, such as the pixel area of a TIFF block.
    static Image borrowing(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height,
                           int bitsPerPixel);

    // A new image with undefined pixel values in the pixel memory of old, when old owns at least
    // as much (the rest is given back): pages it has used need not be supplied afresh by the
    // system, which on a plate costs more than writing them. Otherwise old is freed first and
    // new memory taken. old is empty afterwards either way.
    static Image recycled(Image old, std::uint32_t width, std::uint32_t height, int bitsPerPixel);

    Image(Image&& o) noexcept;
    Image& operator=(Image&& o) noexcept;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;
    ~Image() = default;

    Image clone() const;

    bool empty() const { return !data_; }
    std::uint32_t width() const { return width_; }
    std::uint32_t height() const { return height_; }
    int bitsPerPixel() const { return bits_; }
    // 1 for 8-bit images, 2 for 12- and 16-bit ones.
    std::size_t bytesPerSample() const { return bits_ == 8 ? 1 : 2; }
    std::size_t rowBytes() const { return std::size_t{width_} * bytesPerSample(); }
    std::size_t byteSize() const { return rowBytes() * height_; }
    std::size_t pixelCount() const { return std::size_t{width_} * height_; }
    // The largest grey value of the depth: 255, 4095 or 65535.
    std::uint32_t maxValue() const { return (1u << bits_) - 1u; }

    // Pixel pitch in micrometres (0 = unknown); the TIFF resolution follows from it.
    double pitchX() const { return pitchX_; }
    double pitchY() const { return pitchY_; }
    void setPitch(double x, double y) {
        pitchX_ = x;
        pitchY_ = y;
    }

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::span<std::uint8_t> bytes() { return {data_.get(), byteSize()}; }
    std::span<const std::uint8_t> bytes() const { return {data_.get(), byteSize()}; }

    // Typed rows: row8 for 8-bit images, row16 for 12- and 16-bit ones.
    std::uint8_t* row8(std::uint32_t y) { return data_.get() + std::size_t{y} * rowBytes(); }
    const std::uint8_t* row8(std::uint32_t y) const {
        return data_.get() + std::size_t{y} * rowBytes();
    }
    std::uint16_t* row16(std::uint32_t y) {
        return reinterpret_cast<std::uint16_t*>(data_.get() + std::size_t{y} * rowBytes());
    }
    const std::uint16_t* row16(std::uint32_t y) const {
        return reinterpret_cast<const std::uint16_t*>(data_.get() + std::size_t{y} * rowBytes());
    }
    std::uint32_t at(std::uint32_t x, std::uint32_t y) const {
        return bits_ == 8 ? row8(y)[x] : row16(y)[x];
    }
    void set(std::uint32_t x, std::uint32_t y, std::uint32_t v) {
        if (bits_ == 8)
            row8(y)[x] = static_cast<std::uint8_t>(v);
        else
            row16(y)[x] = static_cast<std::uint16_t>(v);
    }
    void fill(std::uint32_t value);

    // Whether the pixels belong to this image (false for one made by borrowing()).
    bool ownsPixels() const { return data_ && data_.get_deleter().owned; }
    // Turns a 12- or 16-bit image whose first pixelCount() bytes already hold its 8-bit samples
    // into an 8-bit image and gives the rest of its memory back. Owned pixels only
    // (std::logic_error otherwise).
    void becomeEightBit();

    // Reinterprets the depth of a 16-bit sample image (12 <-> 16) without touching the values;
    // the caller guarantees they fit.
    void relabelDepth(int bitsPerPixel);

  private:
    // An image over pixels already in place (its shape checked by the caller); `owned` says
    // whether it frees them.
    Image(std::uint8_t* pixels, std::uint32_t width, std::uint32_t height, int bitsPerPixel,
          bool owned)
        : data_(pixels, detail::Release{owned}),
          width_(width),
          height_(height),
          bits_(bitsPerPixel) {}

    std::unique_ptr<std::uint8_t[], detail::Release> data_;
    std::uint32_t width_ = 0, height_ = 0;
    int bits_ = 0;
    double pitchX_ = 0, pitchY_ = 0;
};

// Checks the dimensions and depth of an image that is about to be made; empty string when fine,
// otherwise what is wrong.
std::string checkImageShape(std::uint64_t width, std::uint64_t height, int bitsPerPixel);

}  // namespace quilo::imaging
