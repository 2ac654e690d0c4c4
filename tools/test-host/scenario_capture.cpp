// The capture road of the test host's scenarios: plates captured with and without the preview
// window, a session that dies and the plates it leaves behind, and a soak of many plates.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/text.h"
#include "imaging/tiff.h"
#include "test-host/decode.h"
#include "test-host/scenario.h"
#include "test-host/scenario_commands.h"

namespace quilo::testhost {

namespace {
constexpr std::size_t kImageExHeader = 2376;

std::int32_t le32(const Bytes& b, std::size_t at) {
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < 4; ++i)
        u |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
    return static_cast<std::int32_t>(u);
}
double f64(const Bytes& b, std::size_t at) {
    double v = 0;
    std::memcpy(&v, b.data() + at, sizeof v);
    return v;
}
std::string ansiAt(const Bytes& b, std::size_t at, std::size_t width) {
    std::string s;
    for (std::size_t i = at; i < at + width && b[i] != std::byte{0}; ++i)
        s.push_back(static_cast<char>(b[i]));
    return ansiToUtf8(s);
}
}  // namespace

bool Scenario::checkImageMessage(const Bytes& m, const CaptureRun& run, int index) {
    const std::string which = "image " + std::to_string(index + 1);
    if (!check(m.size() > kImageExHeader, which + " arrives with its image data",
               std::to_string(m.size()) + " bytes"))
        return false;
    const std::int32_t w = le32(m, 8), h = le32(m, 12);
    check(le32(m, 0) == static_cast<std::int32_t>(m.size()) &&
              le32(m, 308) == static_cast<std::int32_t>(m.size() - kImageExHeader),
          which + ": the record's sizes match the message");
    check(le32(m, 48) == 32770, which + ": a TIFF file image in memory (format 32770)");
    if (!run.text1.empty())
        check(ansiAt(m, 1352, 1024) == run.text1, which + ": text 1 is \"" + run.text1 + "\"",
              "\"" + ansiAt(m, 1352, 1024) + "\"");
    try {
        const imaging::Image image =
            imaging::readTiff(std::span<const std::byte>(m).subspan(kImageExHeader));
        check(static_cast<std::int32_t>(image.width()) == w &&
                  static_cast<std::int32_t>(image.height()) == h,
              which + ": the TIFF is " + std::to_string(w) + " x " + std::to_string(h) +
                  " pixels as the record says",
              std::to_string(image.width()) + " x " + std::to_string(image.height()));
        // The millimetres and the TIFF's resolution both come from the pixel pitch.
        const double mmW = f64(m, 16), mmH = f64(m, 24);
        check(image.pitchX() > 0 && std::abs(w * image.pitchX() / 1000.0 - mmW) < 0.05 &&
                  std::abs(h * image.pitchY() / 1000.0 - mmH) < 0.05,
              which + ": millimetres and TIFF resolution agree",
              std::to_string(mmW) + " x " + std::to_string(mmH) + " mm, pitch " +
                  std::to_string(image.pitchX()));
    } catch (const std::exception& e) {
        check(false, which + ": the TIFF file image reads", e.what());
    }
    return true;
}

void Scenario::setNoPreview(int mode) {
    // The preview mode is a machine-wide setting; the host writes it where the plug-in reads it.
    const std::string value = std::to_string(mode);
    std::vector<std::byte> data;
    for (char c : value)
        data.push_back(static_cast<std::byte>(c));
    data.push_back(std::byte{0});
    host_.platform().registry().setValue(platform::RegRoot::LocalMachine, kOptionsKey, "NoPreview",
                                         platform::RegType::Sz, data);
}

std::string Scenario::option(const std::string& name) {
    platform::RegValue v;
    if (host_.platform().registry().queryValue(platform::RegRoot::LocalMachine, kOptionsKey, name,
                                               256, v) != 0)
        return "<absent>";
    std::string text(reinterpret_cast<const char*>(v.data.data()), v.data.size());
    if (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

int Scenario::waitRecord(std::int32_t code, const Bytes& want, std::size_t from) {
    int at = -1;
    host_.waitUntil(
        [&] {
            for (std::size_t i = from; i < host_.received().size() && at < 0; ++i)
                if (host_.received()[i].code == code && host_.received()[i].data == want)
                    at = static_cast<int>(i);
            return at >= 0;
        },
        options_.replyTimeoutMs);
    return at;
}

bool Scenario::startInitialized() {
    if (!startPlugin("")) return false;
    std::size_t from = host_.received().size();
    check(host_.sendHandleCommand(plugin_, kInitializePlugin) != 0, "InitializePlugin");
    return check(host_.waitFor(kGetStatus, from, options_.replyTimeoutMs) >= 0, "... reports Idle");
}

bool Scenario::startCapture(const CaptureRun& run) {
    setNoPreview(run.noPreview);
    if (!startInitialized()) return false;
    return check(host_.send(plugin_, kActivateCapture, int32Bytes(run.sensor)) != 0,
                 "ActivateCapture for sensor " + std::to_string(run.sensor));
}

void Scenario::stopCapture() {
    // Statuses of the last image may still be on their way: the stop's own is Idle.
    const std::size_t from = host_.received().size();
    check(host_.sendHandleCommand(plugin_, kStopCapture) != 0, "StopCapture");
    check(host_.waitUntil(
              [&] {
                  for (std::size_t i = from; i < host_.received().size(); ++i) {
                      const Received& r = host_.received()[i];
                      if (r.code == kGetStatus && r.data.size() >= 8 && le32(r.data, 4) == 16)
                          return true;
                  }
                  return false;
              },
              options_.replyTimeoutMs),
          "... reports Idle");
}

std::vector<std::size_t> Scenario::imagesSince(std::size_t from) const {
    std::vector<std::size_t> out;
    for (std::size_t i = from; i < host_.received().size(); ++i)
        if (host_.received()[i].code == kImageCapturedEx) out.push_back(i);
    return out;
}

int Scenario::capture(const CaptureRun& run) {
    const std::size_t from = host_.received().size();
    if (!startCapture(run)) return failures_;
    std::vector<std::size_t> images;
    auto collect = [&] {
        images = imagesSince(from);
        return images.size() >= static_cast<std::size_t>(run.images);
    };
    check(host_.waitUntil(collect, run.timeoutMs),
          std::to_string(run.images) + " images arrive from one activation",
          std::to_string(images.size()) + " arrived");
    for (std::size_t i = 0; i < images.size(); ++i) {
        const Bytes& m = host_.received()[images[i]].data;
        checkImageMessage(m, run, static_cast<int>(i));
        check(le32(m, 4) == static_cast<std::int32_t>(i + 1),
              "image " + std::to_string(i + 1) + " has image id " + std::to_string(i + 1));
        if (static_cast<int>(i) < run.acknowledge)
            check(host_.send(plugin_, kImageStored, int32Bytes(le32(m, 4))) != 0,
                  "ImageStored " + std::to_string(le32(m, 4)));
    }
    stopCapture();
    // Images never acknowledged are offered for saving when the plug-in ends.
    const bool lost = run.acknowledge < static_cast<int>(images.size());
    shutdown([&] {
        if (!lost || !options_.answerQuestion) return;
        const std::string question = options_.answerQuestion(false);
        check(question.rfind("Error: Not all images are acknowledged by ImageStored", 0) == 0,
              "the unacknowledged image is offered for saving", "\"" + question + "\"");
    });
    return failures_;
}

int Scenario::recovery(const CaptureRun& run) {
    platform::Files& files = host_.platform().files();
    // The plug-in's data folder: the user's application data, under its short product name.
    const std::string recovered = files.userDataFolder() + "\\QUILO\\Recovered";
    const std::size_t before = files.list(recovered, "*.tif").size();
    const std::size_t from = host_.received().size();
    if (!startCapture(run)) return failures_;
    if (!check(host_.waitUntil([&] { return !imagesSince(from).empty(); }, run.timeoutMs),
               "an image arrives")) {
        launcher_.kill();
        return failures_;
    }
    // "Scanner active" again: the plug-in is done with the plate (the scanner has deleted it).
    const std::size_t image = imagesSince(from).front();
    check(host_.waitUntil(
              [&] {
                  for (std::size_t i = image; i < host_.received().size(); ++i)
                      if (host_.received()[i].code == kGetStatus &&
                          le32(host_.received()[i].data, 4) == 64)
                          return true;
                  return false;
              },
              run.timeoutMs),
          "... and the scanner is active again");
    launcher_.kill();  // as a crash or the task manager ends it: nothing of it runs any more
    int code = 0;
    check(waitExit(15000, code), "the killed plug-in is gone");
    if (!startPlugin("")) return failures_;
    check(
        host_.waitUntil([&] { return files.list(recovered, "*.tif").size() == before + 1; }, 20000),
        "at its start the plug-in saves the plate it had not delivered", recovered);
    const std::size_t at = host_.received().size();
    check(host_.sendHandleCommand(plugin_, kInitializePlugin) != 0 &&
              host_.waitFor(kGetStatus, at, options_.replyTimeoutMs) >= 0,
          "... and works on: InitializePlugin reports Idle");
    shutdown();
    return failures_;
}

int Scenario::soak(const SoakRun& run) {
    setNoPreview(1);
    if (!startInitialized()) return failures_;
    // Counted once the plug-in has worked off what it was sent.
    auto settledCounts = [&] {
        const std::uint32_t until = host_.platform().clock().tickCount() + 500;
        host_.waitUntil([&] { return host_.platform().clock().tickCount() >= until; }, 1000);
        return options_.processCounts ? options_.processCounts() : ProcessCounts{};
    };
    ProcessCounts first, last;
    std::int32_t lastId = 0;
    int delivered = 0;
    std::vector<std::int32_t> owed;  // acknowledged once the next activation has begun
    auto acknowledge = [&](std::int32_t id) {
        check(host_.send(plugin_, kImageStored, int32Bytes(id)) != 0,
              "ImageStored " + std::to_string(id));
    };
    for (int a = 1; a <= run.activations; ++a) {
        const std::string which = "activation " + std::to_string(a);
        host_.take();  // the images of the last activation are done with: their memory goes
        if (!check(host_.send(plugin_, kActivateCapture, int32Bytes(1)) != 0,
                   which + ": ActivateCapture"))
            break;
        for (std::int32_t id : owed)
            acknowledge(id);
        owed.clear();
        // The host stores the images as they come and acknowledges them in batches, newest
        // first; what is left of a batch at the end waits for the next activation (or the stop).
        std::vector<std::int32_t> ids;
        std::string wrong;
        const std::uint32_t begun = host_.platform().clock().tickCount();
        while (ids.size() < static_cast<std::size_t>(run.plates)) {
            const std::uint32_t spent = host_.platform().clock().tickCount() - begun;
            if (spent >= run.timeoutMs ||
                !host_.waitUntil([&] { return imagesSince(0).size() > ids.size(); },
                                 run.timeoutMs - spent))
                break;
            const std::vector<std::size_t> images = imagesSince(0);
            for (std::size_t i = ids.size(); i < images.size(); ++i) {
                const Received& r = host_.received()[images[i]];
                const std::int32_t id = le32(r.data, 4);
                if (id != lastId + 1)
                    wrong += " id " + std::to_string(id) + " after " + std::to_string(lastId) + ";";
                try {
                    const imaging::Image image = imaging::readTiff(HostCore::imagePayload(r));
                    if (static_cast<std::int32_t>(image.width()) != le32(r.data, 8) ||
                        static_cast<std::int32_t>(image.height()) != le32(r.data, 12))
                        wrong += " image " + std::to_string(id) + " not of its record's size;";
                } catch (const std::exception& e) {
                    wrong += " image " + std::to_string(id) + ": " + e.what() + ";";
                }
                lastId = id;
                ids.push_back(id);
                owed.push_back(id);
            }
            if (owed.size() >= static_cast<std::size_t>(run.batch)) {
                for (auto id = owed.rbegin(); id != owed.rend(); ++id)
                    acknowledge(*id);
                owed.clear();
            }
        }
        delivered += static_cast<int>(ids.size());
        check(ids.size() == static_cast<std::size_t>(run.plates),
              which + ": " + std::to_string(run.plates) + " plates arrive",
              std::to_string(ids.size()) + " arrived");
        check(wrong.empty(), which + ": each image whole, its id one above the last", wrong);
        stopCapture();
        if (a == 1) {
            // The first activation warms up (fonts, pools, the spool folder) and is counted
            // with nothing owed, as the last one is.
            for (std::int32_t id : owed)
                acknowledge(id);
            owed.clear();
            first = settledCounts();
        }
    }
    for (std::int32_t id : owed)
        acknowledge(id);
    host_.take();
    last = settledCounts();
    const int expected = run.activations * run.plates;
    check(delivered == expected, std::to_string(expected) + " plates delivered, each once",
          std::to_string(delivered));
    auto mb = [](std::int64_t b) { return std::to_string(b >> 20) + " MB"; };
    out_("# soak: " + std::to_string(delivered) + " plates; after the first activation and the " +
         "last: windows " + std::to_string(first.windows) + " -> " + std::to_string(last.windows) +
         ", private memory " + mb(first.privateBytes) + " -> " + mb(last.privateBytes) +
         ", USER objects " + std::to_string(first.userObjects) + " -> " +
         std::to_string(last.userObjects) + ", GDI objects " + std::to_string(first.gdiObjects) +
         " -> " + std::to_string(last.gdiObjects) + " (-1: not counted here)");
    if (first.windows >= 0) check(last.windows == first.windows, "no window is left behind");
    if (first.privateBytes >= 0)
        check(last.privateBytes - first.privateBytes <= run.privateBytesSlack,
              "private memory stays flat (within " + mb(run.privateBytesSlack) + ")");
    // Where the system counts them: one object lost per plate would show as dozens here.
    if (first.userObjects >= 0)
        check(last.userObjects <= first.userObjects, "no USER object leaks");
    if (first.gdiObjects >= 0) check(last.gdiObjects <= first.gdiObjects, "no GDI object leaks");
    // With every image acknowledged the plug-in has nothing to offer: it ends without a question.
    shutdown();
    return failures_;
}

int Scenario::preview(const CaptureRun& run, PreviewDriver& ui) {
    CaptureRun withPreview = run;
    withPreview.noPreview = 0;
    const std::size_t from = host_.received().size();
    if (!startCapture(withPreview)) return failures_;
    if (check(ui.waitWindow(run.timeoutMs), "the preview window opens while the plate is read"))
        ui.screenshot("preview-scanning-English");
    check(host_.waitUntil([&] { return ui.thumbnails() >= run.images; }, run.timeoutMs),
          std::to_string(run.images) + " thumbnails in the preview window",
          std::to_string(ui.thumbnails()) + " there");
    // The last plate's transport has ended when its image is ready; a moment for the window.
    host_.waitUntil([] { return false; }, 1500);
    check(imagesSince(from).empty(), "no image goes to the host before the user chooses");
    ui.screenshot("preview-images-English");
    for (const char* language : {"German", "Swedish", "English"}) {
        host_.send(plugin_, kSetSettings, settingsBlock(std::string("LAN ") + language));
        // Two clicks on the first thumbnail: the status line is written anew in that language.
        check(ui.clickThumbnail(0) && ui.clickThumbnail(0),
              std::string("the first thumbnail clicked off and on again (") + language + ")");
        if (std::string(language) != "English")
            ui.screenshot(std::string("preview-images-") + language);
    }
    check(ui.clickThumbnail(1), "the second thumbnail clicked off");
    check(ui.clickButton("&Save images"), "\"&Save images\" clicked");
    std::vector<std::size_t> images;
    check(host_.waitUntil(
              [&] {
                  images = imagesSince(from);
                  return images.size() >= 2;
              },
              run.timeoutMs),
          "the two chosen images arrive", std::to_string(images.size()) + " arrived");
    host_.waitUntil([] { return false; }, 500);
    images = imagesSince(from);
    check(images.size() == 2, "exactly the two chosen images", std::to_string(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const Bytes& m = host_.received()[images[i]].data;
        checkImageMessage(m, run, static_cast<int>(i));
        check(host_.send(plugin_, kImageStored, int32Bytes(le32(m, 4))) != 0,
              "ImageStored " + std::to_string(le32(m, 4)));
    }
    stopCapture();
    shutdown();
    return failures_;
}

}  // namespace quilo::testhost
