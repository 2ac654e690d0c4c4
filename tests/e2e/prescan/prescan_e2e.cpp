// The preview window on real windows, as a capture fills it: a plate half read in the live
// picture, two slots lit, three plates added (one of them a 12-bit plate in 16-bit samples) and
// one left out of the selection; photographed in English, German and Swedish, and once as the
// narrow progress-only window. The pictures are checked where a fault would show: thumbnails
// and the large view not black, the live picture at the top of its box.
//
//   e2e_prescan.exe <screenshot folder>
#include <windows.h>
// windows.h first: the common controls header needs its types.
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "e2e/support/forms_screen.h"
#include "imaging/image.h"
#include "orvane-sim/phantom.h"
#include "orvane-sim/tiff_lite.h"
#include "ui/prescan/frm_prescan.h"

namespace {

using quilo::platform::Platform;

using quilo::e2e::pumpFor;
using quilo::e2e::windowOf;

struct PrintingHost final : quilo::ui::PrescanHost {
    int noPreview = 0;
    int clears = 0;
    void LogMsg(std::string_view m) override {
        std::printf("  log: %.*s\n", static_cast<int>(m.size()), m.data());
    }
    void doShowDialog(std::string_view m, std::string_view, int) override {
        std::printf("  dialog: %.*s\n", static_cast<int>(m.size()), m.data());
    }
    void SendSelected(const std::string& f, std::int32_t) override {
        std::printf("  sent: %s\n", f.c_str());
    }
    bool ScanInProgress() const override { return false; }
    bool StopRequested() const override { return false; }
    void setPreviewShown(bool) override {}
    void setPixelPitch(float, float) override {}
    std::int32_t CurrentParamSetNr() const override { return 1; }
    int NoPreview() const override { return noPreview; }
    void ClearPrescanImage() override { ++clears; }
    std::string ApplicationTitle() const override { return "QuiloPlugin"; }
};

quilo::orvanesim::GreyImage plate(int w, int h, std::uint64_t seed) {
    return quilo::orvanesim::makePhantom(quilo::orvanesim::PlateKind::Intraoral, w, h, seed);
}

// A plate into LEAD2, as the acquisition leaves it there; `shift` squeezes the values into
// fewer bits (4: a 12-bit plate in 16-bit samples).
void putPlate(quilo::ui::frmPrescan& frm, const quilo::orvanesim::GreyImage& g, int shift) {
    quilo::imaging::Image img(static_cast<std::uint32_t>(g.width),
                              static_cast<std::uint32_t>(g.height), 16);
    for (int y = 0; y < g.height; ++y)
        for (int x = 0; x < g.width; ++x)
            img.set(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y),
                    g.pixels[static_cast<std::size_t>(y) * g.width + x] >> shift);
    frm.LEAD2.control().setBitmap(std::move(img));
}

// The live picture of a plate read down to `lines`: scaled to 160 pixels across, 8 bits, in a
// TIFF file image in global memory, as the scanner library hands it out.
void putLivePicture(Platform& platform, quilo::ui::frmPrescan& frm,
                    const quilo::orvanesim::GreyImage& g, int lines) {
    const int f = (g.width + 159) / 160;
    const int pw = g.width / f, ph = lines / f;
    std::vector<std::uint16_t> small(static_cast<std::size_t>(pw) * ph);
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x)
            small[static_cast<std::size_t>(y) * pw + x] = static_cast<std::uint16_t>(
                g.pixels[static_cast<std::size_t>(y * f) * g.width + x * f] >> 8);
    const auto file = quilo::orvanesim::writeGreyTiff(pw, ph, 8, small, 0);
    auto block = quilo::platform::GlobalBlock::allocate(platform.memory(), file.size());
    {
        quilo::platform::GlobalLock lock(platform.memory(), block.get());
        if (lock) std::memcpy(lock.data(), file.data(), file.size());
    }
    frm.LEAD1.control().loadMemory(block.get(), file.size());
    frm.LEAD1.refresh();
}

// The mean grey of a rectangle of the screenshot (screen coordinates).
double meanGrey(const quilo::e2e::ScreenCapture& shot, const RECT& frame, const RECT& r) {
    double sum = 0;
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y) {
        for (int x = r.left; x < r.right; ++x) {
            const int sx = x - frame.left, sy = y - frame.top;
            if (sx < 0 || sy < 0 || sx >= shot.width || sy >= shot.height) continue;
            sum += shot.bgr[(static_cast<std::size_t>(sy) * shot.width + sx) * 3 + 1];
            ++n;
        }
    }
    return n > 0 ? sum / n : 0;
}

void photograph(quilo::e2e::Checks& check, Platform& platform, quilo::forms::Forms& forms,
                quilo::ui::modLAnguageSelector& lang, const std::string& language, bool narrow,
                const std::string& shots) {
    std::printf("--- %s%s\n", language.c_str(), narrow ? " (narrow)" : "");
    lang.Initlanguage(language);
    PrintingHost host;
    host.noPreview = narrow ? 2 : 0;
    std::vector<std::string> files;
    {
        quilo::ui::frmPrescan frm(forms, platform.memory(), lang, host);
        frm.move(60, 60, frm.width(), frm.height());
        frm.show();
        frm.setCaption("Quilo Plugin Intraoral (#1)");
        const auto plates = std::vector{plate(620, 820, 11), plate(600, 800, 12),
                                        plate(640, 840, 13), plate(620, 820, 14)};
        putLivePicture(platform, frm, plates[3], 470);
        for (int k = 1; k <= 4; ++k)
            frm.lblSlot(k).setBackColor(k <= 2 ? 0x909000 : quilo::forms::color::kSystemButtonFace);
        const int shifts[] = {0, 4, 0};
        for (int i = 0; i < 3; ++i) {
            putPlate(frm, plates[static_cast<std::size_t>(i)], shifts[i]);
            files.push_back(platform.files().tempFileName(platform.files().tempFolder(), "prv"));
            frm.AddCaptured(files.back(), 35000, 35000);
        }
        check(frm.ImgList.toggleItem(1), "the second plate is left out of the selection");
        pumpFor(platform, 1200);

        const auto shot = quilo::e2e::shoot(
            check, frm, shots, "e2e_prescan_" + language + (narrow ? "_narrow" : "") + ".png");
        RECT frame{}, live{};
        GetWindowRect(reinterpret_cast<HWND>(frm.hwnd()), &frame);
        GetWindowRect(windowOf(frm, frm.LEAD1.view()), &live);
        // The plate's first rows (air, dark but not black) against the view's black background.
        const RECT liveTop{live.left + 10, live.top + 2, live.right - 10, live.top + 20};
        const RECT liveBottom{live.left + 10, live.bottom - 20, live.right - 10, live.bottom - 2};
        check(meanGrey(shot, frame, liveTop) > 5 && meanGrey(shot, frame, liveBottom) < 2,
              "the live picture starts at the top of its box and the unread rest stays empty");
        if (!narrow) {
            HWND list = windowOf(frm, frm.ImgList);
            for (int i = 1; i < 3; ++i) {  // the newest two, which the list keeps in view
                RECT icon{};
                ListView_GetItemRect(list, i, &icon, LVIR_ICON);
                MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&icon), 2);
                const RECT middle{
                    (icon.left + icon.right) / 2 - 10, (icon.top + icon.bottom) / 2 - 10,
                    (icon.left + icon.right) / 2 + 10, (icon.top + icon.bottom) / 2 + 10};
                check(meanGrey(shot, frame, middle) > 40,
                      "thumbnail " + std::to_string(i + 1) + " is not black");
            }
            RECT large{};
            GetWindowRect(windowOf(frm, frm.LEAD2.view()), &large);
            const RECT centre{
                (large.left + large.right) / 2 - 20, (large.top + large.bottom) / 2 - 20,
                (large.left + large.right) / 2 + 20, (large.top + large.bottom) / 2 + 20};
            check(meanGrey(shot, frame, centre) > 40, "the large view shows the last plate");
        }
        check(frm.Command2.click() && !frm.loaded(), "Close unloads the window");
    }
    bool anyLeft = false;
    for (const auto& f : files)
        anyLeft = anyLeft || platform.files().exists(f);
    check(!anyLeft && host.clears == 1, "closing deleted the temporary files");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: e2e_prescan <screenshot folder>\n");
        return 2;
    }
    const std::string shots = argv[1];
    quilo::e2e::FormsOnScreen screen;
    auto& platform = *screen.platform;
    quilo::ui::modLAnguageSelector lang(platform.files(), platform.process());
    quilo::e2e::Checks check;
    for (const char* language : {"English", "German", "Swedish"})
        photograph(check, platform, screen.forms, lang, language, false, shots);
    photograph(check, platform, screen.forms, lang, "English", true, shots);
    return check.finish("e2e_prescan");
}
