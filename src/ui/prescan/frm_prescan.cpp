#include "ui/prescan/frm_prescan.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <tuple>
#include <utility>

#include "core/text.h"
#include "imaging/image_control.h"
#include "ui/text_ids.h"

namespace quilo::ui {

namespace {

// A number as the status line and the thumbnails write it: a space in place of the sign of a
// positive number (" 3"), the minus sign of a negative one.
std::string signedNumber(long long v) {
    return v < 0 ? std::to_string(v) : " " + std::to_string(v);
}

// The leading integer of a field ("250" -> 250, " 7x" -> 7, "" -> 0).
long long leadingInteger(std::string_view field) {
    while (!field.empty() && field.front() == ' ')
        field.remove_prefix(1);
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    long long v = 0;
    std::from_chars(field.data(), field.data() + field.size(), v);
    return v;
}

// The fields of a thumbnail's tag "Xres,yres,ordinal": the pixel pitch (the resolution values
// divided by 1000) and the parameter set's ordinal. A missing or malformed field counts as 0.
struct PrescanTag {
    float pitchX = 0;
    float pitchY = 0;
    std::int32_t ordinal = 0;
};

PrescanTag parsePrescanTag(std::string_view tag) {
    std::string_view parts[3];
    for (auto& part : parts) {
        const auto comma = tag.find(',');
        part = tag.substr(0, comma);
        tag = comma == std::string_view::npos ? std::string_view() : tag.substr(comma + 1);
    }
    PrescanTag out;
    out.pitchX = static_cast<float>(leadingInteger(parts[0])) / 1000.0f;
    out.pitchY = static_cast<float>(leadingInteger(parts[1])) / 1000.0f;
    out.ordinal = static_cast<std::int32_t>(
        std::clamp<long long>(leadingInteger(parts[2]), std::numeric_limits<std::int32_t>::min(),
                              std::numeric_limits<std::int32_t>::max()));
    return out;
}

// Layout of the client area, in twips. The left column (live picture, "Scanning in progress"
// and the slot row) is all the narrow window shows; the right part holds the large view, the
// thumbnails, the status line and the buttons.
constexpr int kMargin = 120;
constexpr int kClientHeight = 5670;
constexpr int kLeftWidth = 3915;  // the slot row: x 120 .. 4035
constexpr int kRightLeft = 4215;
constexpr int kRightWidth = 6225;
constexpr int kViewTop = 120;
constexpr int kViewHeight = 4500;  // down to the slot row's lower edge (4620)
constexpr int kLargeWidth = 3495;
constexpr int kButtonHeight = 375;
constexpr int kSlotTop = 4365;
constexpr int kSlotWidth = 915;
constexpr int kSlotHeight = 255;
constexpr int kSlotLeft[] = {3120, 2130, 1125, 120};  // slots 1 to 4, right to left

}  // namespace

std::pair<std::uint32_t, std::uint32_t> greyRange(const forms::DisplayImage& picture) {
    if (!picture.valid() || !picture.grey()) return {0, 255};
    std::vector<std::uint32_t> histogram(std::size_t{picture.maxValue()} + 1);
    for (int y = 0; y < picture.height; ++y)
        for (int x = 0; x < picture.width; ++x)
            ++histogram[std::min(picture.at(x, y), picture.maxValue())];
    const std::uint64_t n = std::uint64_t(picture.width) * std::uint64_t(picture.height);
    const std::uint64_t cut = n / 200;  // 0.5 % at either end
    std::uint32_t low = 0;
    for (std::uint64_t seen = 0; low < picture.maxValue(); ++low) {
        seen += histogram[low];
        if (seen > cut) break;
    }
    std::uint32_t high = picture.maxValue();
    for (std::uint64_t seen = 0; high > 0; --high) {
        seen += histogram[high];
        if (seen > cut) break;
    }
    if (high <= low) {  // a flat picture: keep it mid-grey rather than black or white
        low = low > 0 ? low - 1 : 0;
        high = low + 2;
    }
    return {low, high};
}

std::shared_ptr<const forms::DisplayImage> thumbnailPicture(const imaging::Image& image,
                                                            int maxSide) {
    const auto reduced = displayPicture(image, maxSide);
    if (!reduced) return nullptr;
    const auto [low, high] = greyRange(*reduced);
    std::vector<std::uint8_t> bytes(std::size_t(reduced->width) * std::size_t(reduced->height));
    std::size_t k = 0;
    for (int y = 0; y < reduced->height; ++y) {
        for (int x = 0; x < reduced->width; ++x) {
            const std::uint32_t v = std::clamp(reduced->at(x, y), low, high);
            bytes[k++] = static_cast<std::uint8_t>(
                (std::uint64_t{v - low} * 255 + (high - low) / 2) / (high - low));
        }
    }
    return forms::makeDisplayImage(reduced->width, reduced->height, 8, std::move(bytes));
}

frmPrescan::frmPrescan(forms::Forms& forms, platform::GlobalMemory& memory,
                       modLAnguageSelector& language, PrescanHost& host)
    : forms::Form(forms, "frmPrescan"),
      Command1(add<forms::CommandButton>("Command1")),
      Command3(add<forms::CommandButton>("Command3")),
      Command4(add<forms::CommandButton>("Command4")),
      Command2(add<forms::CommandButton>("Command2")),
      ImgList(add<forms::ThumbnailList>("ImgList")),
      Label1(add<forms::Label>("Label1")),
      Label2(add<forms::Label>("Label2")),
      Label3(add<forms::Label>("Label3")),
      lblSlot1(add<forms::Label>("lblSlot1")),
      lblSlot2(add<forms::Label>("lblSlot2")),
      lblSlot3(add<forms::Label>("lblSlot3")),
      lblSlot4(add<forms::Label>("lblSlot4")),
      LEAD1(memory, add<forms::ImageView>("LEAD1")),
      LEAD2(memory, add<forms::ImageView>("LEAD2")),
      language_(language),
      host_(host) {
    setCaption("Quilo Plugin");
    setBorderStyle(forms::BorderStyle::FixedSingle);
    setClientSize(kRightLeft + kRightWidth + kMargin, kClientHeight);
    setWidth(kWideWidth);

    Label1.setCaption("Preview image");
    Label1.setTag("4040");
    Label1.move(kMargin, kViewTop, kLeftWidth, 255);
    LEAD1.view().move(kMargin, kViewTop + 300, kLeftWidth, 3555);
    LEAD1.view().setBackColor(0);
    // The picture grows line by line while the plate is read: it keeps its place at the top.
    LEAD1.view().setTopAligned(true);
    Label2.setCaption("Scanning in progress");
    Label2.setTag("4050");
    Label2.move(kMargin, kSlotTop - 330, kLeftWidth, 255);
    for (int k = 1; k <= 4; ++k) {
        forms::Label& slot = lblSlot(k);
        slot.setCaption(std::to_string(k));
        slot.setAlignment(forms::Alignment::Center);
        slot.move(kSlotLeft[k - 1], kSlotTop, kSlotWidth, kSlotHeight);
    }

    LEAD2.view().move(kRightLeft, kViewTop, kLargeWidth, kViewHeight);
    LEAD2.view().setBackColor(0);
    const int listLeft = kRightLeft + kLargeWidth + kMargin;
    ImgList.move(listLeft, kViewTop, kRightLeft + kRightWidth - listLeft, kViewHeight);
    Label3.move(kRightLeft, kViewTop + kViewHeight + 120, kRightWidth, 255);

    const std::tuple<forms::CommandButton*, const char*, const char*> buttons[] = {
        {&Command1, "&Save images", "4060"},
        {&Command3, "Select &all", "4070"},
        {&Command4, "Select &none", "4080"},
        {&Command2, "&Close", "4090"}};
    for (auto [button, caption, tag] : buttons) {
        button->setCaption(caption);
        button->setTag(tag);
    }
    placeButtons();

    onLoad = [this] { Form_Load(); };
    onQueryUnload = [this](bool& cancel, forms::UnloadMode mode) {
        Form_QueryUnload(cancel, mode);
    };
    onUnload = [this](bool& cancel) { Form_Unload(cancel); };
    ImgList.onItemSelected = [this](int i) { ImgList_ItemSelected(i); };
    ImgList.onItemDeselected = [this](int i) { ImgList_ItemDeselected(i); };
    Command1.onClick = [this] { Command1_Click(); };
    Command2.onClick = [this] { Command2_Click(); };
    Command3.onClick = [this] { Command3_Click(); };
    Command4.onClick = [this] { Command4_Click(); };
}

frmPrescan::~frmPrescan() {
    if (loaded() && !unload()) deleteImageFiles();
}

forms::Label& frmPrescan::lblSlot(int k) {
    switch (k) {
        case 1:
            return lblSlot1;
        case 2:
            return lblSlot2;
        case 3:
            return lblSlot3;
        default:
            return lblSlot4;
    }
}

void frmPrescan::placeButtons() {
    // One row under the status line, as the actions are used: save first. A caption longer
    // than the designed width widens all four alike, the row growing to the left, where the
    // window is empty below the slot row.
    forms::CommandButton* const row[] = {&Command1, &Command3, &Command4, &Command2};
    constexpr int kPaddingPx = 16;
    int width = (kRightWidth - 3 * kMargin) / 4;
    for (const forms::CommandButton* button : row) {
        const std::string text = replaceAll(button->caption(), "&", "");
        width = std::max(width,
                         forms().measureText(text).width + kPaddingPx * forms().twipsPerPixelX());
    }
    const int top = kClientHeight - kButtonHeight - kMargin;
    int x = std::min(kRightLeft, kRightLeft + kRightWidth - 4 * width - 3 * kMargin);
    for (forms::CommandButton* button : row) {
        button->move(x, top, width, kButtonHeight);
        x += width + kMargin;
    }
}

void frmPrescan::translate() {
    language_.TranslateForm(*this);
    placeButtons();
    // The composed texts follow too: a language change must not leave the images' texts in the
    // old language.
    if (imageCount_ == 0) return;
    for (int n = 1; n <= imageCount_ && n <= ImgList.count(); ++n)
        ImgList.setItemText(n - 1, thumbnailText(n));
    setStatus(status_.current, status_.total, status_.selected);
}

std::string frmPrescan::thumbnailText(int n) const {
    return text(txt::kPreviewImage) + signedNumber(n) + " (" +
           imageSizes_[static_cast<std::size_t>(n)] + ")";
}

void frmPrescan::Form_Load() {
    const bool narrow = host_.NoPreview() == 2;
    setWidth(narrow ? kNarrowWidth : kWideWidth);
    // The narrow window shows progress only: it ends below the slot row.
    setClientSize(scaleWidth(), narrow ? kSlotTop + kSlotHeight + 2 * kMargin : kClientHeight);
    translate();
    Label3.setCaption(text(txt::kPreviewNoImages));
    imageCount_ = 0;
    imageFiles_.assign(2, std::string());
    imageSelected_.assign(2, 0);
    imageSizes_.assign(2, std::string());
    currentImage_ = 0;
    Command1.setEnabled(false);
    Command3.setEnabled(false);
    Command4.setEnabled(false);
}

void frmPrescan::AddCaptured(const std::string& FileName, std::int32_t Xres, std::int32_t yres) {
    try {
        if (imageCount_ == std::numeric_limits<std::int16_t>::max()) return;  // the count is full
        ++imageCount_;
        host_.LogMsg("Add captured image " + std::to_string(imageCount_));
        forms().doEvents();

        const auto n = static_cast<std::size_t>(imageCount_);
        imageFiles_.resize(std::max(imageFiles_.size(), n + 1));
        imageSelected_.resize(std::max(imageSelected_.size(), n + 1), 0);
        imageSizes_.resize(std::max(imageSizes_.size(), n + 1));
        imageFiles_[n] = FileName;

        const imaging::ImageControl& large = LEAD2.control();
        const imaging::Image* bitmap = large.bitmapImage();
        imageSizes_[n] =
            std::to_string(large.bitmapWidth()) + "x" + std::to_string(large.bitmapHeight());
        const int item =
            ImgList.addItem(bitmap != nullptr ? thumbnailPicture(*bitmap, kThumbnailSide) : nullptr,
                            thumbnailText(imageCount_));
        ImgList.setSelected(item, true);
        ImgList.setItemTag(item, std::to_string(Xres) + "," + std::to_string(yres) + "," +
                                     std::to_string(host_.CurrentParamSetNr()));

        currentImage_ = imageCount_;
        imageSelected_[n] = 1;
        setStatus(imageCount_, countSelected());
        Command1.setEnabled(true);
        Command3.setEnabled(true);
        Command4.setEnabled(true);
        ImgList.ensureVisible(item);
        showLarge();

        host_.LogMsg("Saving temp file: " + FileName);
        if (!large.saveFile(platform().files(), FileName, imaging::kFormatTiff)) return;
        host_.LogMsg("Done with AddCaptured");
    } catch (const std::exception&) {
        // Whatever was reached stays; the capture goes on without a message.
    }
}

void frmPrescan::ImgList_ItemSelected(int index) {
    currentImage_ = static_cast<std::int16_t>(index + 1);
    const auto n = static_cast<std::size_t>(currentImage_);
    if (n < imageFiles_.size()) {
        try {
            LEAD2.control().loadFile(platform().files(), imageFiles_[n]);
        } catch (const std::exception& e) {
            // A file that cannot be read back leaves the large view as it was; the image can
            // still be selected and sent.
            host_.LogMsg("Preview image " + std::to_string(n) + " not shown: " + e.what());
        }
        showLarge();
        imageSelected_[n] = 1;
    }
    Command1.setEnabled(true);
    setStatus(currentImage_, countSelected());
}

void frmPrescan::ImgList_ItemDeselected(int index) {
    const auto n = static_cast<std::size_t>(index + 1);
    if (n < imageSelected_.size()) imageSelected_[n] = 0;
    const int selected = countSelected();
    if (selected == 0) Command1.setEnabled(false);
    setStatus(currentImage_, selected);
}

void frmPrescan::Command3_Click() {
    for (int n = 1; n <= imageCount_; ++n) {
        imageSelected_[static_cast<std::size_t>(n)] = 1;
        ImgList.setSelected(n - 1, true);
        Command1.setEnabled(true);
        setStatus(imageCount_, imageCount_, imageCount_);
    }
}

void frmPrescan::Command4_Click() {
    for (int n = 1; n <= imageCount_; ++n) {
        imageSelected_[static_cast<std::size_t>(n)] = 0;
        ImgList.setSelected(n - 1, false);
        Command1.setEnabled(false);
        setStatus(imageCount_, 0);
    }
}

void frmPrescan::Command1_Click() {
    if (host_.ScanInProgress()) {
        host_.doShowDialog(text(txt::kPreviewPleaseWait), "", 0);
        return;
    }
    for (int n = 1; n <= imageCount_ && loaded(); ++n) {
        if (n - 1 >= ImgList.count() || !ImgList.selected(n - 1)) continue;
        const PrescanTag tag = parsePrescanTag(ImgList.item(n - 1).tag);
        host_.setPixelPitch(tag.pitchX, tag.pitchY);
        host_.SendSelected(imageFiles_[static_cast<std::size_t>(n)], tag.ordinal);
        forms().doEvents();
    }
    host_.setPreviewShown(false);
    userClose_ = true;
    unload();
}

void frmPrescan::Command2_Click() {
    if (host_.ScanInProgress() && !host_.StopRequested()) {
        host_.doShowDialog(text(txt::kPreviewPleaseWait), "", 0);
        return;
    }
    host_.setPreviewShown(false);
    userClose_ = true;
    unload();
}

void frmPrescan::Form_QueryUnload(bool& cancel, forms::UnloadMode mode) {
    if (mode != forms::UnloadMode::ControlMenu) return;
    const int answer = platform().process().messageBox(
        hwnd(), text(txt::kPreviewCloseQuestion), host_.ApplicationTitle(),
        platform::mb::kYesNo | platform::mb::kIconQuestion);
    if (answer != platform::mb::kIdYes) cancel = true;
    userClose_ = !cancel;
}

void frmPrescan::Form_Unload(bool& cancel) {
    if (!host_.StopRequested() && host_.ScanInProgress()) {
        host_.doShowDialog(text(txt::kPreviewPleaseWait), "", 0);
        cancel = true;
        userClose_ = false;
        return;
    }
    if (std::exchange(userClose_, false)) host_.ImagesDiscarded();
    deleteImageFiles();
    host_.ClearPrescanImage();
    host_.setPreviewShown(false);
}

void frmPrescan::deleteImageFiles() {
    const auto last = std::min<std::size_t>(static_cast<std::size_t>(std::max<int>(imageCount_, 0)),
                                            imageFiles_.size() - 1);
    for (std::size_t n = 1; n <= last && !imageFiles_.empty(); ++n) {
        try {
            platform().files().removeFile(imageFiles_[n]);  // a missing or locked file is skipped
        } catch (const std::exception&) {
        }
    }
}

void frmPrescan::showLarge() {
    LEAD2.refresh();
    forms::ImageView& view = LEAD2.view();
    if (!view.image()) {
        view.resetWindowLevel();
        return;
    }
    const auto [low, high] = greyRange(*view.image());
    const std::uint32_t width = high - low;
    view.setWindowLevel(low + width / 2, width);
}

int frmPrescan::countSelected() const {
    int selected = 0;
    for (int i = 0; i < imageCount_ && i < ImgList.count(); ++i)
        if (ImgList.selected(i)) ++selected;
    return selected;
}

void frmPrescan::setStatus(int current, int selected) {
    setStatus(current, imageCount_, selected);
}

void frmPrescan::setStatus(int current, int total, int selected) {
    status_ = {current, total, selected};
    const imaging::ImageControl& large = LEAD2.control();
    std::string line = text(txt::kPreviewImage) + signedNumber(current) + " " +
                       text(txt::kPreviewOf) + signedNumber(total) + " (" +
                       std::to_string(large.bitmapWidth()) + "x" +
                       std::to_string(large.bitmapHeight()) + " " + text(txt::kPreviewPixels);
    if (selected > 0) line += signedNumber(selected) + " " + text(txt::kPreviewSelected);
    Label3.setCaption(line);
}

}  // namespace quilo::ui
