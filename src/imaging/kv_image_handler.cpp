#include "imaging/kv_image_handler.h"

#include <algorithm>
#include <limits>
#include <new>

#include "imaging/operations.h"
#include "imaging/tiff.h"

namespace quilo::imaging {

int KVImageHandler::KV_LoadMemImageTiff(platform::HGlobal block, long size) {
    if (!block || size <= 0) return kInvalidArgument;
    try {
        platform::GlobalLock lock(memory_, block);
        if (!lock) return kUnreadable;
        const auto bytes = lock.bytes();
        Image img = readTiff(bytes.first(std::min(static_cast<std::size_t>(size), bytes.size())),
                             workers_.get());
        image_ = std::move(img);
        return kOk;
    } catch (const TiffError&) {
        return kUnreadable;
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
}

int KVImageHandler::KV_CorrectBitDepth() {
    if (!image_) return kNoImage;
    if (image_->bitsPerPixel() == 16 && minMax(*image_, workers_.get()).second <= 4095)
        image_->relabelDepth(12);
    return kOk;
}

int KVImageHandler::KV_GetMaxMinValues(long& max, long& min) {
    if (!image_) return kNoImage;
    const auto [lo, hi] = minMax(*image_, workers_.get());
    max = static_cast<long>(hi);
    min = static_cast<long>(lo);
    return kOk;
}

int KVImageHandler::KV_StretchHistogram(long low, long high) {
    if (!image_) return kNoImage;
    const long top = static_cast<long>(image_->maxValue());
    low = std::clamp(low, 0L, top);
    high = std::clamp(high, 0L, top);
    if (high <= low) return kInvalidArgument;
    stretchRange(*image_, static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high),
                 workers_.get());
    return kOk;
}

int KVImageHandler::KV_StretchHistogramPercent(long low, long high) {
    if (!image_) return kNoImage;
    if (low < 0 || high < 0 || low > 1000 || high > 1000 || low + high >= 1000)
        return kInvalidArgument;
    const auto [lo, hi] =
        percentCuts(*image_, static_cast<std::uint32_t>(low), static_cast<std::uint32_t>(high));
    if (hi > lo) stretchRange(*image_, lo, hi, workers_.get());
    return kOk;
}

int KVImageHandler::KV_GetMemImageTiff(platform::HGlobal& block, long& size) {
    block = 0;
    size = 0;
    if (!image_) return kNoImage;
    const std::size_t bytes = tiffFileSize(*image_);
    if (bytes > static_cast<std::size_t>(std::numeric_limits<long>::max())) return kOutOfMemory;
    platform::GlobalBlock out = writeTiffToGlobal(memory_, *image_, workers_.get());
    if (!out) return kOutOfMemory;
    size = static_cast<long>(bytes);
    block = out.release();
    return kOk;
}

int KVImageHandler::KV_CloseImage() {
    image_.reset();
    return kOk;
}

}  // namespace quilo::imaging
