// The capture's side of the preview window: shown and fed with the scanner's live picture while
// a plate is read, its slot indicators kept up to date, and each image of a capture with
// preview selection collected in it.
#include "controller/frm_main.h"
#include "controller/plugin_process.h"
#include "trace/log.h"
#include "ui/monitors.h"

namespace quilo::controller {

namespace {
constexpr forms::Color kSlotFree = 0x909000;
}  // namespace

// What the window and the scanner connection ask of the capture controller.
class frmMain::PrescanLink final : public ui::PrescanHost, public scanner::PreviewWindowHook {
  public:
    explicit PrescanLink(frmMain& main) : main_(main) {}

    void LogMsg(std::string_view message) override { main_.LogMsg(message); }
    void doShowDialog(std::string_view Msg, std::string_view Caption, int ModalType) override {
        main_.doShowDialog(Msg, Caption, ModalType);
    }
    void SendSelected(const std::string& FileName, std::int32_t OrdinalNo) override {
        main_.SendSelected(FileName, OrdinalNo);
    }
    bool ScanInProgress() const override { return main_.scanInProgress(); }
    bool StopRequested() const override { return main_.StopRequested; }
    void setPreviewShown(bool shown) override { main_.process_.sensors().PreviewShown = shown; }
    void setPixelPitch(float x, float y) override {
        main_.process_.sensors().PixelPitchX = x;
        main_.process_.sensors().PixelPitchY = y;
    }
    std::int32_t CurrentParamSetNr() const override {
        return main_.process_.sensors().CurrentParamSetNr();
    }
    int NoPreview() const override { return main_.process_.settings().settings().NoPreview; }
    void ClearPrescanImage() override {
        (void)main_.process_.sensors().library().ClearPrescanImage();
        // The window's files are gone; plates not sent stay in the spool unless given up.
        main_.previewPlates_.clear();
    }
    void ImagesDiscarded() override {
        for (const auto& [file, plate] : main_.previewPlates_)
            main_.process_.spool().release(plate);
        main_.previewPlates_.clear();
    }
    std::string ApplicationTitle() const override {
        return main_.platform().process().version().title;
    }
    // scanner::PreviewWindowHook
    int imageCount() override { return main_.prescan_ ? main_.prescan_->ImageCount() : 0; }
    void unload() override {
        if (main_.prescan_ && main_.prescan_->loaded())
            main_.prescan_->unload(forms::UnloadMode::Code);
    }

  private:
    frmMain& main_;
};

// Here, where the link's type is complete.
frmMain::~frmMain() {
    unlinkPreview();
}

void frmMain::PrescanLinkDeleter::operator()(PrescanLink* link) const {
    delete link;
}

void frmMain::linkPreview() {
    prescanLink_.reset(new PrescanLink(*this));
    previewHook_ = process_.sensors().attachPreviewHook(*prescanLink_);
}

void frmMain::unlinkPreview() {
    previewHook_.reset();
    prescan_.reset();
    prescanLink_.reset();
}

ui::frmPrescan& frmMain::showPrescan() {
    if (!prescan_ || !prescan_->loaded()) {
        prescan_.reset();
        prescan_ = std::make_unique<ui::frmPrescan>(process_.forms(), platform().memory(),
                                                    process_.language(), *prescanLink_);
        prescan_->load();
    }
    ui::CenterOnHostMonitor(*prescan_, HostParentWindow);
    if (!prescan_->visible()) prescan_->show(forms::ShowMode::Modeless, this);
    return *prescan_;
}

void frmMain::previewPicture() {
    scanner::SensorAPI& scanner = process_.sensors();
    const int noPreview = process_.settings().settings().NoPreview;
    if ((noPreview != 0 && noPreview != 2) ||
        (ScannerStatus.Status & scanner::status::kPreview) == 0 || ScanInProgress == 0)
        return;
    if (!scanner.PreviewShown) {
        LogMsg("Prescan window shown 1");
        scanner.PreviewShown = true;
        showPrescan();
    }
    if (!process_.forms().isLoaded("frmPrescan")) {
        LogMsg("Prescan window shown 2");
        showPrescan();
    } else if (!prescan_->visible()) {
        LogMsg("Prescan window shown 3");
        showPrescan();
    }
    ActiveTimer.setEnabled(false);
    platform::HGlobal picture = 0;
    scanner::Long bytes = 0;
    ScannerStatus.LastResult = scanner.library().GetPrescanImage(picture, bytes);
    if (ScannerStatus.LastResult == 0) {
        if (ScannerStatus.PreviewLineCount % 3 == 0) {
            // The picture stays the library's: it is only read here.
            prescan_->LEAD1.control().loadMemory(picture, static_cast<std::size_t>(bytes));
            prescan_->LEAD1.refresh();
            LogMsg("Added preview line " + std::to_string(ScannerStatus.PreviewLineCount) + ", " +
                   std::to_string(bytes));
            const std::string caption = platform().process().version().productName + " " +
                                        scanner.CurrentParamSet() + " (#" +
                                        std::to_string(scanner.CurrentParamSetNr()) + ")";
            if (prescan_->caption() != caption) prescan_->setCaption(caption);
        }
        ++ScannerStatus.PreviewLineCount;
    }
    ActiveTimer.setEnabled(true);
}

void frmMain::previewSlots() {
    scanner::SensorAPI& scanner = process_.sensors();
    if (!scanner.PreviewShown || !prescan_ || !prescan_->loaded()) return;
    for (int k = 1; k <= 4; ++k) {
        ScannerStatus.SlotBit = scanner::status::kSlots[k - 1];
        const bool lit = (ScannerStatus.Status & ScannerStatus.SlotBit) != 0;
        prescan_->lblSlot(k).setBackColor(lit ? forms::color::kSystemButtonFace : kSlotFree);
    }
    const settings::PluginSettings& s = process_.settings().settings();
    if (s.NoPreview == 2 && s.CloseDone != 0 && ScanInProgress == 0) {
        scanner.PreviewShown = false;
        prescan_->unload(forms::UnloadMode::Code);
    }
}

ui::LeadControl& frmMain::grabTarget() {
    if (process_.settings().settings().NoPreview != 0) return leadIMG;
    return showPrescan().LEAD2;
}

void frmMain::addToPreview(const std::string& fileName, std::int32_t xres, std::int32_t yres) {
    showPrescan().AddCaptured(fileName, xres, yres);
}

}  // namespace quilo::controller
