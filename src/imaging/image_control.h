// The image control of the capture path: holds at most one bitmap (an Image) and offers the
// operations the acquisition applies to it. A bitmap handle of 0 means "no image"; any other
// value names the bitmap currently held and changes whenever a new one is loaded.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "imaging/image.h"
#include "imaging/workers.h"
#include "platform/files.h"
#include "platform/global_memory.h"

namespace quilo::imaging {

// The one file format the control saves and loads: TIFF.
inline constexpr int kFormatTiff = 3;

class ImageControl {
  public:
    explicit ImageControl(platform::GlobalMemory& memory) : memory_(memory) {}

    // 0 when there is no bitmap.
    std::uintptr_t bitmap() const { return image_ ? handle_ : 0; }
    const Image* bitmapImage() const { return image_ ? &*image_ : nullptr; }
    // Access that may change the bitmap: a kept saved form (loadMemory of a block) is given up.
    Image* bitmapImage() {
        saved_.reset();
        return image_ ? &*image_ : nullptr;
    }
    // 0 for every property when there is no bitmap.
    std::uint32_t bitmapWidth() const { return image_ ? image_->width() : 0; }
    std::uint32_t bitmapHeight() const { return image_ ? image_->height() : 0; }
    int bitsPerPixel() const { return image_ ? image_->bitsPerPixel() : 0; }
    // The number of distinct grey values in the bitmap.
    std::uint32_t colourCount() const;

    // Replaces the bitmap (with a new handle).
    void setBitmap(Image image);
    // Gives up the bitmap (handle 0 afterwards).
    void releaseBitmap() {
        saved_.reset();
        image_.reset();
    }
    // Takes the bitmap out of the control (handle 0 afterwards).
    Image takeBitmap();

    // LoadMemory: loads the first page of a TIFF file image held in a global memory block of the
    // given byte size. Throws TiffError when the block cannot be read or holds no readable TIFF;
    // the previous bitmap is kept then, unless the fault lies inside compressed pixel data (the
    // old bitmap is given up before the new one is decoded, so two are never held at once; its
    // memory holds the new one when it is large enough).
    void loadMemory(platform::HGlobal block, std::size_t size);
    // The same from a whole block that the control then keeps as the bitmap's saved form when it
    // is exactly what saveMemory would make of the loaded bitmap (8 or 16 bits): the next
    // saveMemory hands out that block instead of writing a new one, unless the bitmap has changed
    // in between. Otherwise the block is freed once loaded. For a block made to be sent next;
    // the control holds it (and its memory) until then.
    void loadMemory(platform::GlobalBlock block);
    // Loads headerless samples (rows top to bottom, 8-bit samples as bytes, 12- and 16-bit ones as
    // little-endian 16-bit words) of the given shape from a global memory block. Throws
    // std::invalid_argument when the block is smaller than the shape needs.
    void loadRawMemory(platform::HGlobal block, std::size_t size, std::uint32_t width,
                       std::uint32_t height, int bitsPerPixel);
    // Saves the bitmap into a new global memory block as a TIFF file image (format 3) at its own
    // bits per pixel (the kept saved form, if there is one, is that block: handed out once).
    // Throws std::logic_error without a bitmap and std::invalid_argument for any other format;
    // an empty block when the memory cannot be had.
    platform::GlobalBlock saveMemory(int format = kFormatTiff) const;
    // Loads the first page of a TIFF file; throws TiffError when it cannot.
    void loadFile(platform::Files& files, std::string_view path);
    // Saves the bitmap as a TIFF file at its own bits per pixel; false when it cannot.
    bool saveFile(platform::Files& files, std::string_view path, int format = kFormatTiff) const;

    // The operations; each throws std::logic_error when there is no bitmap. Their exact meaning
    // is given with the functions of operations.h that they call.
    void invert();
    void stretchIntensity();
    void despeckle();
    void median(int size);  // noise-reduction level n uses size n + 1
    void sharpen(int strength);
    void unsharpMask(int amount, int radius, int threshold, int colourSpace);
    void perioTransform();
    void changeBitDepth(int bitsPerPixel);

    // The threads the operations may use: 0 as many as the processor offers (up to
    // Workers::kMaxThreads), 1 the calling thread alone. The caller waits for each operation as
    // on one thread, and the values are the same on any number.
    void setThreads(unsigned threads) { workers_ = std::make_unique<Workers>(threads); }
    unsigned threads() const { return workers_->threads(); }

  private:
    Image& need();

    platform::GlobalMemory& memory_;
    std::optional<Image> image_;
    // The TIFF block the bitmap was loaded from, byte for byte its saveMemory; empty once the
    // bitmap may have changed or the block has been handed out.
    mutable platform::GlobalBlock saved_;
    std::uintptr_t handle_ = 0;
    std::uintptr_t nextHandle_ = 1;
    std::unique_ptr<Workers> workers_ = std::make_unique<Workers>();
};

}  // namespace quilo::imaging
