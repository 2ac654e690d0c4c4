// frmPrescan: the preview window of a capture. It shows the scanner's live picture while a plate
// is read and four slot indicators, collects every image of the capture as a thumbnail with its
// temporary file, shows one image large, and hands the images the user selects to the host.
// The capture controller loads, shows and feeds it; the window reaches back only through
// PrescanHost.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "forms/form.h"
#include "forms/forms.h"
#include "imaging/image.h"
#include "platform/global_memory.h"
#include "ui/language/language_selector.h"
#include "ui/lead_control.h"

namespace quilo::ui {

// What the preview window asks of the capture controller around it.
class PrescanHost {
  public:
    virtual void LogMsg(std::string_view message) = 0;
    virtual void doShowDialog(std::string_view Msg, std::string_view Caption, int ModalType) = 0;
    // Hands one image file to the host (the main form's SendSelected).
    virtual void SendSelected(const std::string& FileName, std::int32_t OrdinalNo) = 0;
    virtual bool ScanInProgress() const = 0;
    virtual bool StopRequested() const = 0;
    virtual void setPreviewShown(bool shown) = 0;
    // PixelPitchX / PixelPitchY of the scanner connection, micrometres.
    virtual void setPixelPitch(float x, float y) = 0;
    virtual std::int32_t CurrentParamSetNr() const = 0;
    virtual int NoPreview() const = 0;
    // The scanner library's ClearPrescanImage; its result is not used.
    virtual void ClearPrescanImage() = 0;
    // The application title: message box captions.
    virtual std::string ApplicationTitle() const = 0;
    // The user closed the window on purpose ("&Close", the title bar's close answered Yes, or
    // "&Save images" with some left out): the images not sent are given up.
    virtual void ImagesDiscarded() {}

  protected:
    ~PrescanHost() = default;
};

// The grey values [low, high] that hold all but the darkest and the brightest 0.5 % of a grey
// picture's pixels (high > low). A radiograph rarely uses the whole range of its depth: mapped
// over 0..65535 a 12-bit plate in 16-bit samples would look black.
std::pair<std::uint32_t, std::uint32_t> greyRange(const forms::DisplayImage& picture);

// A thumbnail of an image: at most maxSide pixels on its longer side, 8 bits, its real grey
// range (greyRange) stretched to black .. white. Null for an empty image.
std::shared_ptr<const forms::DisplayImage> thumbnailPicture(const imaging::Image& image,
                                                            int maxSide);

class frmPrescan final : public forms::Form {
  public:
    // Outer window widths: with the thumbnail part, and the narrow progress-only window.
    static constexpr int kWideWidth = 10680;
    static constexpr int kNarrowWidth = 4275;
    // The longer side of a thumbnail picture, in pixels.
    static constexpr int kThumbnailSide = 128;

    frmPrescan(forms::Forms& forms, platform::GlobalMemory& memory, modLAnguageSelector& language,
               PrescanHost& host);
    // Unloads the window; the temporary files go with it even when the unload is refused.
    ~frmPrescan() override;

    // --- controls, as designed ----------------------------------------------------------
    forms::CommandButton& Command1;  // "&Save images"
    forms::CommandButton& Command3;  // "Select &all"
    forms::CommandButton& Command4;  // "Select &none"
    forms::CommandButton& Command2;  // "&Close"
    forms::ThumbnailList& ImgList;
    forms::Label& Label1;  // "Preview image"
    forms::Label& Label2;  // "Scanning in progress"
    forms::Label& Label3;  // the status line
    // Four separate labels, laid out right to left; lblSlot(k) reaches slot k by number.
    forms::Label& lblSlot1;
    forms::Label& lblSlot2;
    forms::Label& lblSlot3;
    forms::Label& lblSlot4;
    LeadControl LEAD1;  // live preview picture; it grows downward as the plate is read
    LeadControl LEAD2;  // the current image, large

    forms::Label& lblSlot(int k);

    // Adds the image in LEAD2 as the newest thumbnail and writes it to FileName (a temporary
    // file the window deletes when it closes). A failure ends it silently.
    void AddCaptured(const std::string& FileName, std::int32_t Xres, std::int32_t yres);
    std::int16_t ImageCount() const { return imageCount_; }
    // Gives the controls the loaded language's texts (at load, and when the language changes
    // while the window is open) and widens the buttons when a caption needs it.
    void translate();
    std::int16_t CurrentImage() const { return currentImage_; }

  private:
    void Form_Load();
    void placeButtons();
    void Form_QueryUnload(bool& cancel, forms::UnloadMode mode);
    void Form_Unload(bool& cancel);
    void ImgList_ItemSelected(int index);
    void ImgList_ItemDeselected(int index);
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();

    // The status line; `selected` 0 leaves the selected part out.
    void setStatus(int current, int selected);
    void setStatus(int current, int total, int selected);
    // "Image n (WxH)" in the loaded language.
    std::string thumbnailText(int n) const;
    int countSelected() const;
    // Shows what LEAD2 holds over its real grey range.
    void showLarge();
    void deleteImageFiles();
    std::string text(std::int32_t number) const { return language_.LangText(number); }

    modLAnguageSelector& language_;
    PrescanHost& host_;
    std::int16_t imageCount_ = 0;
    bool userClose_ = false;                   // the unload under way is the user's choice
    std::vector<std::string> imageFiles_;      // index n: the file of image n; 0 unused
    std::vector<std::int16_t> imageSelected_;  // index n: 1 when image n is selected
    std::vector<std::string> imageSizes_;      // index n: "WxH" of image n
    // What the status line shows, so that a new language can compose it again.
    struct Status {
        int current = 0, total = 0, selected = 0;
    } status_;
    std::int16_t currentImage_ = 0;
};

}  // namespace quilo::ui
