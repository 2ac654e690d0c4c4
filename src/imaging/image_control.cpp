#include "imaging/image_control.h"

#include <cstring>
#include <stdexcept>

#include "imaging/operations.h"
#include "imaging/tiff.h"

namespace quilo::imaging {

std::uint32_t ImageControl::colourCount() const {
    return image_ ? imaging::colourCount(*image_) : 0;
}

void ImageControl::setBitmap(Image image) {
    saved_.reset();
    if (image.empty()) {
        image_.reset();
        return;
    }
    image_ = std::move(image);
    handle_ = nextHandle_++;
    if (nextHandle_ == 0) nextHandle_ = 1;
}

Image ImageControl::takeBitmap() {
    saved_.reset();
    if (!image_) return {};
    Image out = std::move(*image_);
    image_.reset();
    return out;
}

void ImageControl::loadMemory(platform::HGlobal block, std::size_t size) {
    if (!block) throw TiffError("no memory block", 0);
    platform::GlobalLock lock(memory_, block);
    if (!lock) throw TiffError("the memory block cannot be locked", 0);
    const auto bytes = lock.bytes().first(std::min(size, lock.bytes().size()));
    // A block whose structure is wrong leaves the current bitmap as it was. Only then does the
    // old bitmap go, so a large image is never held twice (the 32-bit process has 2 GB); a
    // fault inside compressed data found while decoding leaves the control without a bitmap.
    checkTiff(bytes);
    // The old bitmap's memory serves the new one where it is large enough.
    setBitmap(readTiff(bytes, workers_.get(), takeBitmap()));
}

void ImageControl::loadMemory(platform::GlobalBlock block) {
    loadMemory(block.get(), block.size());
    platform::GlobalLock lock(memory_, block.get());
    // 12-bit samples above 4095 are cut on loading: only 8 and 16 bits are taken as they lie.
    if (lock && image_->bitsPerPixel() != 12 && isTiffOf(*image_, lock.bytes()))
        saved_ = std::move(block);
}

void ImageControl::loadRawMemory(platform::HGlobal block, std::size_t size, std::uint32_t width,
                                 std::uint32_t height, int bitsPerPixel) {
    if (auto why = checkImageShape(width, height, bitsPerPixel); !why.empty())
        throw std::invalid_argument(why);
    platform::GlobalLock lock(memory_, block);
    if (!lock) throw std::invalid_argument("the raw image block cannot be locked");
    const std::size_t have = std::min(size, lock.bytes().size());
    const std::size_t need = std::size_t{width} * height * (bitsPerPixel == 8 ? 1u : 2u);
    if (have < need)  // checked first: a short block leaves the current bitmap as it was
        throw std::invalid_argument("the raw image block holds " + std::to_string(have) +
                                    " bytes, " + std::to_string(need) + " needed");
    // The old bitmap goes before the new one is made (never two at once); its memory serves the
    // new one where it is large enough.
    Image img = Image::recycled(takeBitmap(), width, height, bitsPerPixel);
    copyBytes(workers_.get(), img.data(), lock.data(), img.byteSize());
    if (bitsPerPixel == 12) {
        std::uint16_t* p = img.row16(0);
        for (std::size_t i = 0, n = img.pixelCount(); i < n; ++i)
            if (p[i] > 4095) p[i] = 4095;
    }
    setBitmap(std::move(img));
}

platform::GlobalBlock ImageControl::saveMemory(int format) const {
    if (!image_) throw std::logic_error("no bitmap to save");
    if (format != kFormatTiff) throw std::invalid_argument("only TIFF (format 3) is supported");
    if (saved_) return std::move(saved_);
    return writeTiffToGlobal(memory_, *image_, workers_.get());
}

void ImageControl::loadFile(platform::Files& files, std::string_view path) {
    Image loaded = readTiffFile(files, path);
    setBitmap(std::move(loaded));
}

bool ImageControl::saveFile(platform::Files& files, std::string_view path, int format) const {
    if (!image_ || format != kFormatTiff) return false;
    return writeTiffFile(files, path, *image_);
}

Image& ImageControl::need() {
    if (!image_) throw std::logic_error("the image control holds no bitmap");
    saved_.reset();  // the operation changes the bitmap
    return *image_;
}

void ImageControl::invert() {
    imaging::invert(need(), workers_.get());
}
void ImageControl::stretchIntensity() {
    imaging::stretchIntensity(need(), workers_.get());
}
void ImageControl::despeckle() {
    imaging::despeckle(need(), workers_.get());
}
void ImageControl::median(int size) {
    imaging::medianFilter(need(), size, workers_.get());
}
void ImageControl::sharpen(int strength) {
    imaging::sharpen(need(), strength, workers_.get());
}
void ImageControl::unsharpMask(int amount, int radius, int threshold, int colourSpace) {
    imaging::unsharpMask(need(), amount, radius, threshold, colourSpace, workers_.get());
}
void ImageControl::perioTransform() {
    imaging::perioTransform(need());
}
void ImageControl::changeBitDepth(int bits) {
    if (image_ && image_->bitsPerPixel() == bits) return;  // keeps a saved form
    imaging::changeBitDepth(need(), bits, workers_.get());
}

}  // namespace quilo::imaging
