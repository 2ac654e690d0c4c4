// Our enhancement component for dental radiographs: contrast-limited adaptive histogram
// equalisation (CLAHE) followed by a mild sharpening, tuned per image type, giving the image at
// the bit depth set beforehand.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "imaging/image.h"
#include "imaging/workers.h"
#include "platform/global_memory.h"
#include "platform/types.h"

namespace quilo::imaging {

// Image types as the capture path numbers them.
enum ImageType : int { kIntraoral = 0, kCephalometric = 1, kPanoramic = 2 };

struct EnhancementOptions {
    int tilesX = 8, tilesY = 8;  // contextual regions across and down (1..32)
    double clipLimit = 2.0;      // histogram clip, as a multiple of the mean bin count (>= 1)
    int sharpen = 40;            // strength of the final 3x3 sharpening in percent (0..200)
    // Share of the equalised image in the result (0..100); the rest is the plain linear stretch
    // of the image's own range, so the result keeps some of the original grey-value relations.
    int blend = 85;
    friend bool operator==(const EnhancementOptions&, const EnhancementOptions&) = default;
};

// The tuned defaults: intraoral images are small with fine structures (root canals, caries), so
// moderate regions and clip; cephalometric images span soft tissue and the skull, so a stronger
// clip and more sharpening; panoramic images are wide, so more regions across than down.
EnhancementOptions defaultEnhancementOptions(int imageType);

// The enhancement itself: the image (8, 12 or 16 bits) is equalised into a new image of
// outBits bits (8, 12 or 16). The input is left as it is. With workers, in strips on its threads,
// to the same values.
Image enhanceRadiograph(const Image& input, const EnhancementOptions& options, int outBits,
                        Workers* workers = nullptr);
// The same into an existing image of the input's size (its depth is the output depth). With
// inverted, the input is enhanced as if inverted first (v -> max - v), to the same values, without
// being written: it may be memory that must stay as it is.
void enhanceRadiographInto(const Image& input, const EnhancementOptions& options, Image& out,
                           Workers* workers = nullptr, bool inverted = false);

class EnhancementComponent {
  public:
    explicit EnhancementComponent(platform::GlobalMemory& memory);

    // Properties set by the program at start; kept for the options form's caption.
    void setProductName(std::string name) { productName_ = std::move(name); }
    void setShortName(std::string name) { shortName_ = std::move(name); }
    const std::string& productName() const { return productName_; }
    const std::string& shortName() const { return shortName_; }

    // The bit depth of the images the enhancement gives (8, 12 or 16; others are taken as 16).
    void setBitDepth(int bits);
    int bitDepth() const { return bitDepth_; }

    // The threads the enhancement may use: 0 as many as the processor offers (up to
    // Workers::kMaxThreads), 1 the calling thread alone. The result is the same on any number.
    void setThreads(unsigned threads) { workers_ = std::make_unique<Workers>(threads); }
    unsigned threads() const { return workers_->threads(); }

    // The enhancement method. bitmap is the image control's image (null = none). On success
    // outBlock receives a new global memory block with the enhanced image as a TIFF file image
    // (the caller frees it) and the result is 0; without an image, for an unknown image type or
    // when memory runs out, outBlock is 0 and the result is non-zero. With savePreview, a
    // reduced copy of the input is kept for the options form's before-and-after preview. With
    // inverted, the bitmap is taken as inverted (v -> max - v) for all of it, preview included,
    // and is only read (see enhanceRadiographInto).
    int enhance(int imageType, const Image* bitmap, platform::HGlobal& outBlock, bool savePreview,
                bool inverted = false);

    // The options of one image type (0 intraoral, 1 cephalometric, 2 panoramic).
    const EnhancementOptions& options(int imageType) const;
    // Sets them; values are brought into their ranges. False for an unknown image type.
    bool setOptions(int imageType, const EnhancementOptions& options);

    struct OptionsRequest {
        std::string name;
        int code = 0;
        platform::Hwnd parent = 0;
        bool visible = false;
    };
    // Shows the options of one image type to the user and edits them; true when the user
    // confirmed. The options form (enhancement_options_form.h) provides one; without it the
    // options call shows nothing.
    using OptionsPresenter =
        std::function<bool(const OptionsRequest& request, EnhancementOptions& options)>;
    void setOptionsPresenter(OptionsPresenter presenter) { presenter_ = std::move(presenter); }

    // The options call: opens the options of one image type (name as shown, code 0, 1 or 2,
    // parent window, visible flag). Confirmed options are taken over (brought into range).
    // False when there is no presenter, the code is unknown or the user cancelled.
    bool showOptions(std::string_view name, int code, platform::Hwnd parent, bool visible);
    const std::optional<OptionsRequest>& lastOptionsRequest() const { return lastRequest_; }

    // The reduced copy of the last input of an image type kept with savePreview (null if none).
    const Image* previewSource(int imageType) const;

  private:
    platform::GlobalMemory& memory_;
    std::string productName_, shortName_;
    int bitDepth_ = 8;
    std::array<EnhancementOptions, 3> options_;
    std::array<std::optional<Image>, 3> previews_;
    std::optional<OptionsRequest> lastRequest_;
    OptionsPresenter presenter_;
    std::unique_ptr<Workers> workers_ = std::make_unique<Workers>();
};

}  // namespace quilo::imaging
