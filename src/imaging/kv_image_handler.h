// Our host image library: one current image at a time, loaded from and saved to TIFF file images
// in global memory, with the histogram stretches of the capture path. Every function returns 0
// on success or one of the codes below.
#pragma once

#include <memory>
#include <optional>

#include "imaging/image.h"
#include "imaging/workers.h"
#include "platform/global_memory.h"

namespace quilo::imaging {

class KVImageHandler {
  public:
    enum Result : int {
        kOk = 0,
        kNoImage = 1,          // no current image
        kInvalidArgument = 2,  // bounds out of range or not rising
        kUnreadable = 3,       // the memory block holds no readable TIFF
        kOutOfMemory = 4,      // a block or the image could not be allocated
    };

    explicit KVImageHandler(platform::GlobalMemory& memory) : memory_(memory) {}

    // Makes the TIFF file image in the block (of the given byte size) the current image; the
    // block stays the caller's.
    int KV_LoadMemImageTiff(platform::HGlobal block, long size);
    // Gives the current image the smallest depth its values need: 16-bit samples that all lie
    // within 0..4095 are marked 12-bit; values are never changed.
    int KV_CorrectBitDepth();
    // The largest and smallest grey values of the current image.
    int KV_GetMaxMinValues(long& max, long& min);
    // Linear stretch of [low, high] (grey values, cut to the depth's range) onto the full range;
    // low must lie below high.
    int KV_StretchHistogram(long low, long high);
    // Percentile stretch: low and high are the tenths of a percent of all pixels cut from the dark
    // and the bright end (0..1000 each, together below 1000). A flat image stays as it is.
    int KV_StretchHistogramPercent(long low, long high);
    // A new global memory block with the current image as a TIFF file image, and its byte size.
    // The block is the caller's to free.
    int KV_GetMemImageTiff(platform::HGlobal& block, long& size);
    // Drops the current image.
    int KV_CloseImage();

    const Image* current() const { return image_ ? &*image_ : nullptr; }

    // The threads the stretches may use (as ImageControl::setThreads).
    void setThreads(unsigned threads) { workers_ = std::make_unique<Workers>(threads); }

  private:
    platform::GlobalMemory& memory_;
    std::optional<Image> image_;
    std::unique_ptr<Workers> workers_ = std::make_unique<Workers>();
};

}  // namespace quilo::imaging
