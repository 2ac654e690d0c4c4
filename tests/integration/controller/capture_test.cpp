// The capture road in the simulated world: activation, polling, acquisition and hand-over,
// driven through the host protocol on the virtual clock with the simulated scanner.
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <utility>

#include "controller/block_cache.h"
#include "core/text.h"
#include "imaging/enhancement.h"
#include "imaging/operations.h"
#include "imaging/tiff.h"
#include "plugin_world.h"
#include "support/images.h"
#include "support/wrappers.h"

namespace quilo::test {
namespace {

class Capture : public PluginWorld {
  protected:
    // The image inside a received message, read back.
    static imaging::Image tiffOf(const Bytes& message) {
        return imaging::readTiff(std::span<const std::byte>(message).subspan(2376));
    }
    std::int32_t lastStatus() {
        const auto s = statusesSince(0);
        return s.empty() ? -1 : s.back();
    }
    static double f64At(const Bytes& m, std::size_t at) {
        double d = 0;
        std::memcpy(&d, m.data() + at, 8);
        return d;
    }

    // After every capture: the plug-in's process left nothing behind.
    void TearDown() override {
        for (const std::string& left : leftBehind())
            ADD_FAILURE() << left;
    }
};

struct ActivationRow {
    const char* result;
    std::int32_t status;
    const char* dialog;
};
class Activation : public Capture, public ::testing::WithParamInterface<ActivationRow> {};

TEST_P(Activation, ReportsItsOutcome) {
    const ActivationRow& row = GetParam();
    configure({{"Activate", row.result}, {"Plates", "0"}});
    start();
    const std::size_t from = host->received().size();
    activate(1);
    world.advance(50);
    const auto statuses = statusesSince(from);
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(std::pair(statuses.front(), statuses.back()), std::pair(32, row.status));
    EXPECT_EQ(main().ActiveTimer.enabled(), row.status == 64);
    EXPECT_EQ(main().lblStatus.caption(),
              row.status == 64 ? "Scanner activated" : "Scanner not activated");
    ASSERT_EQ(dialogs.size(), row.dialog ? 1u : 0u) << ::testing::PrintToString(dialogs);
    EXPECT_TRUE(!row.dialog || dialogs[0].starts_with(row.dialog)) << dialogs[0];
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Activation,
    ::testing::Values(
        ActivationRow{"0", 64, nullptr}, ActivationRow{"-6", 64, nullptr},
        ActivationRow{"-4", 16,
                      "Unable to activate scanner.\r\nData file was not open for access.\r\n"},
        ActivationRow{"-1009", 16,
                      "Optical switch is occupied by (busy with) activity / plate is there"},
        ActivationRow{"-1010", 16,
                      "Warning: Temperature in housing is too high. Scanner is not activated"},
        ActivationRow{"-10000", 16,
                      "Warning: Too much ambient light during operation. Scanner is not activated"},
        ActivationRow{"-77", 16, "Unknown error, scanner not activated"}));

TEST_F(Capture, FailedActivationReopensNextTimeAndASecondActivationStartsAfresh) {
    capture({{"Activate", "-4,0,0"}, {"Plates", "0"}});
    scanner::SensorAPI& s = plugin->sensors();
    EXPECT_EQ(std::pair(s.HardwareInitialized, s.ScannerActivated), std::pair(false, false));
    activate(2);
    EXPECT_EQ(std::pair(s.ScannerActivated, s.CurrentParamSetNr()), std::pair(true, 2));
    activate(0);  // keeps the set, closes and reopens
    EXPECT_EQ(std::pair(s.ScannerActivated, s.CurrentParamSetNr()), std::pair(true, 2));
    EXPECT_NE(log().find("Selected parameter: 2 Intraoral size 2 PERIO"), std::string::npos);
}

struct AcquisitionRow {
    int enhancement, bitDepth;
    bool invert;
    int bits;  // of the image the host gets
};
class Acquisition : public Capture, public ::testing::WithParamInterface<AcquisitionRow> {};

TEST_P(Acquisition, FollowsTheSettings) {
    const AcquisitionRow& row = GetParam();
    configure({{"Plates", "1"}});
    start();
    auto& s = plugin->settings().settings();
    s.ImageEnhancement = row.enhancement;
    s.BitDepth = static_cast<std::int16_t>(row.bitDepth);
    s.Invert = row.invert;
    activate(1);
    waitImages(1);
    ASSERT_EQ(images().size(), 1u) << log();
    EXPECT_EQ(tiffOf(images()[0]).bitsPerPixel(), row.bits);
    EXPECT_EQ(log().find("Will now perform StretchIntensity") != std::string::npos,
              row.enhancement == 1);
}

INSTANTIATE_TEST_SUITE_P(Settings, Acquisition,
                         ::testing::Values(AcquisitionRow{0, 16, false, 16},
                                           AcquisitionRow{1, 12, true, 12},
                                           AcquisitionRow{2, 8, true, 8},
                                           AcquisitionRow{3, 8, true, 8}));

TEST_F(Capture, PollingFaults) {
    capture({{"Plates", "1"}, {"StatusPlate", "1"}, {"StatusCode", "-5"}, {"StatusCalls", "3"}});
    waitImages(1);
    EXPECT_NE(log().find("Error: State = -5"), std::string::npos);
    EXPECT_EQ(images().size(), 1u);  // polling went on
}

TEST_F(Capture, ChecksumErrorStopsPollingOnce) {
    capture({{"Plates", "1"}, {"StatusPlate", "1"}, {"StatusCode", "-200"}, {"StatusCalls", "0"}});
    world.advance(20000);
    EXPECT_EQ(std::count(dialogs.begin(), dialogs.end(),
                         "Checksum error during data transmission. Scanner deactivated"),
              1);
    const scanner::SensorAPI& s = plugin->sensors();
    EXPECT_EQ(std::tuple(main().ActiveTimer.enabled(), s.ScannerActivated, s.HardwareInitialized,
                         lastStatus()),
              std::tuple(false, false, true, 16));
}

TEST_F(Capture, ScannerFailuresOfOnePlate) {
    // An information failure deletes the image; a raw-image failure leaves it to be fetched
    // again at the next tick.
    capture({{"Plates", "2"}, {"ImageInfoPlate", "1"}, {"RawImagePlate", "2"}});
    waitImages(1);
    ASSERT_EQ(images().size(), 1u) << log();
    ASSERT_GE(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0], "File not found");
    EXPECT_EQ(le32At(images()[0], 4), 1);
}

// A plate that cannot be processed stays in the scanner and is fetched again: nothing is lost.
TEST_F(Capture, APlateThatFailsToLoadIsFetchedAgain) {
    configure({{"Plates", "1"}, {"FirstPlateMs", "3000"}});  // its image is ready at 8.3 s
    start();
    activate(1);
    while (world.nowMs() < 9200)
        world.advance(50);
    // The scanner library locks the raw block to fill it, the plug-in to keep it in the spool and
    // then to load it: the load fails.
    world.failNth(sim::Fault::GlobalLock, 3);
    waitImages(1);
    ASSERT_EQ(images().size(), 1u) << log();
    ASSERT_FALSE(dialogs.empty());
    EXPECT_NE(dialogs[0].find("In: frmMain.GetImage()"), std::string::npos) << dialogs[0];
    EXPECT_EQ(le32At(images()[0], 4), 1);
}

TEST_F(Capture, StopClosesTheScannerAndTicksReturn) {
    capture({{"Plates", "3"}});
    world.advance(100);
    sendHandle(testhost::kStopCapture);
    EXPECT_FALSE(plugin->sensors().HardwareInitialized);
    world.advance(60000);
    EXPECT_TRUE(images().empty());
    EXPECT_EQ(lastStatus(), 16);
}

// The simulated sensor sends the test image without touching the scanner.
TEST_F(Capture, StoreOfTwentyAndLostImagesAtTheEnd) {
    configure({{"Plates", "0"}});
    start();
    const std::int32_t simulated = static_cast<std::int32_t>(plugin->sensors().Sensors.count()) + 1;
    for (int i = 0; i < 21; ++i)
        activate(simulated);
    world.advance(10);
    EXPECT_FALSE(plugin->sensors().ScannerActivated);  // the scanner is not touched
    ASSERT_EQ(images().size(), 20u);
    EXPECT_EQ(testhost::decodeRecord(testhost::kImageCapturedEx, images()[0]),
              "ImageCapturedEx(24) 129716 bytes: image id=1 310x410 (15.5 x 20.5 mm) sensor=" +
                  std::to_string(simulated) +
                  " format=32770 data=127340 bytes text=\"Test image.\"");
    ASSERT_FALSE(dialogs.empty());
    EXPECT_NE(dialogs.back().find("Image storage (memory) array full."), std::string::npos);
    acknowledge(5);
    activate(simulated);
    ASSERT_EQ(images().size(), 21u);
    EXPECT_EQ(le32At(images().back(), 4), 22);  // the refused image used up id 21
    // The end: Yes saves every unacknowledged image as IMGnnnnn.tif, each freed.
    pluginProcess->scriptMessageBoxAnswers({platform::mb::kIdYes});
    sendHandle(testhost::kShutdownPlugin);
    plugin.reset();
    const auto temp = world.nativePath(tempFolder());
    EXPECT_TRUE(std::filesystem::exists(temp / "IMG00000.tif"));
    EXPECT_TRUE(std::filesystem::exists(temp / "IMG00019.tif"));
    EXPECT_FALSE(std::filesystem::exists(temp / "IMG00020.tif"));
    EXPECT_EQ(world.live().memoryBlocks, 0u);
}

// The hand-over copies the image's bytes exactly twice: into the TIFF block, which the store
// keeps, and into the message block, which lives for the send; on the road the enhancement
// makes that TIFF block itself.
TEST_F(Capture, TheHandOverCopiesTheImageTwice) {
    struct SizeLog : test::MemoryWrapper {  // counts the blocks of the image's size
        using MemoryWrapper::MemoryWrapper;
        platform::HGlobal alloc(std::uint32_t flags, std::size_t bytes) override {
            large += bytes >= 800000;
            return MemoryWrapper::alloc(flags, bytes);
        }
        int large = 0;
    };
    pluginProcess = &world.createProcess();
    library = orvanesim::WorldLibrary::install(world, *pluginProcess);
    baseline = world.live();
    SizeLog memory(pluginProcess->memory());
    test::PlatformWrapper platform(*pluginProcess);
    platform.memory_ = &memory;
    plugin = std::make_unique<controller::PluginProcess>(platform);
    ASSERT_TRUE(plugin->start());
    world.runUntilIdle();
    initialize();
    main().leadIMG.control().setBitmap(imageOf(1000, 800, 8, [](auto, auto) { return 77; }));
    host::ImageExRecord record;
    record.set(host::ImageExRecord::widthPixels, 1000);
    record.set(host::ImageExRecord::heightPixels, 800);
    memory.large = 0;
    ASSERT_TRUE(main().SendLeadImageEx(record, 1, "x", ""));
    EXPECT_EQ(memory.large, 2);
    ASSERT_EQ(images().size(), 1u);
    EXPECT_EQ(tiffOf(images()[0]).at(500, 400), 77u);
    // The whole road of a plate, enhanced to 8 bits: the enhancement's TIFF block is the one
    // handed over, so the result lands in two blocks, that one and the message.
    plugin->settings().settings().NoPreview = 1;
    plugin->sensors().CurrentImageType() = 0;
    main().setActiveSensor(1);
    const imaging::Image plate =
        imageOf(1000, 800, 16, [](auto x, auto y) { return 9000 + 3 * x + 5 * (y % 97); });
    platform::GlobalBlock raw = imaging::writeTiffToGlobal(memory, plate);
    memory.large = 0;
    bool isTest = false;
    main().DoGrabFrame(raw.get(), raw.size(), isTest);
    EXPECT_EQ(memory.large, 2);
    ASSERT_EQ(images().size(), 2u);
    const imaging::Image sent = tiffOf(images()[1]);
    const imaging::Image& held = *std::as_const(main().leadIMG.control()).bitmapImage();
    ASSERT_EQ(sent.bitsPerPixel(), 8);
    EXPECT_TRUE(std::equal(held.bytes().begin(), held.bytes().end(), sent.bytes().begin()));
    // The plate's values enhanced as if inverted first, read where the raw block held them.
    imaging::Image inverted = plate.clone();
    imaging::invert(inverted);
    const imaging::Image enhanced =
        imaging::enhanceRadiograph(inverted, plugin->enhancement()->options(0), 8);
    EXPECT_TRUE(std::equal(enhanced.bytes().begin(), enhanced.bytes().end(), sent.bytes().begin()));
    // Raw.TIF, written from the scanner's block beside the processing, holds the plate as
    // loaded; a failed write leaves no file and does not stop the capture.
    const std::string rawTif = plugin->settings().names().PluginDataFolder + "\\Raw.TIF";
    imaging::Image loaded = imaging::readTiffFromGlobal(memory, raw.get(), raw.size());
    std::vector<std::byte> expected(imaging::tiffFileSize(loaded));
    imaging::writeTiff(loaded, expected);
    EXPECT_EQ(platform::readWholeFile(pluginProcess->files(), rawTif, 4000000), expected);
    world.failNth(sim::Fault::FileWrite);
    main().DoGrabFrame(raw.get(), raw.size(), isTest);
    EXPECT_EQ(images().size(), 3u);
    EXPECT_FALSE(pluginProcess->files().exists(rawTif));
    plugin.reset();
}

// The large blocks a plate leaves are given to the next plate of the same size (zeroed when
// asked) instead of being taken from the system again; two at most, given back at another size
// and at the end.
TEST_F(Capture, LargeBlocksAreKeptForTheNextPlateOfTheirSize) {
    platform::GlobalMemory& system = world.createProcess().memory();
    const std::size_t before = world.live().memoryBlocks, big = controller::BlockCache::kMinBytes;
    constexpr std::uint32_t kPlain = platform::gmem::kMoveable;
    {
        controller::BlockCache cache(system);
        platform::HGlobal blocks[3];
        for (std::size_t i = 0; i < 3; ++i)
            blocks[i] = cache.alloc(kPlain, big + i);
        for (platform::HGlobal b : blocks)
            EXPECT_TRUE(cache.free(b));  // the first goes, the last two are kept
        EXPECT_EQ(world.live().memoryBlocks, before + 2);
        EXPECT_EQ(cache.alloc(kPlain, big + 1), blocks[1]);
        const platform::HGlobal zeroed = cache.alloc(platform::gmem::kMoveableZeroed, big + 2);
        ASSERT_EQ(zeroed, blocks[2]);
        {
            platform::GlobalLock lock(cache, zeroed);
            EXPECT_EQ(std::count(lock.data(), lock.data() + big + 2, std::byte{0}),
                      static_cast<std::ptrdiff_t>(big + 2));
        }
        cache.free(blocks[1]);
        cache.free(zeroed);
        const platform::HGlobal other = cache.alloc(kPlain, 2 * big);
        EXPECT_EQ(world.live().memoryBlocks, before + 1);  // the kept ones went
        cache.free(other);
    }
    EXPECT_EQ(world.live().memoryBlocks, before);
}

// The narrow progress window: images go to the host at once; the window closes at the first
// tick after the transport stops; the preview pictures' count goes on across captures.
TEST_F(Capture, ProgressWindowClosesWhenDoneAndCountsPicturesOn) {
    configure({{"Plates", "1"}});
    start(2);
    plugin->settings().settings().CloseDone = 1;
    activate(1);
    bool narrow = false;
    for (int i = 0; i < 600 && images().empty(); ++i) {
        world.advance(50);
        if (auto* f = prescan(); f != nullptr && f->visible())
            narrow = f->width() == ui::frmPrescan::kNarrowWidth;
    }
    ASSERT_EQ(images().size(), 1u);
    EXPECT_TRUE(narrow);
    world.advance(50);
    EXPECT_FALSE(plugin->forms().isLoaded("frmPrescan"));
    const std::int32_t first = main().scannerStatus().PreviewLineCount;
    EXPECT_GT(first, 3);
    activate(1);
    waitImages(2);
    EXPECT_GT(main().scannerStatus().PreviewLineCount, first);
    const std::string next = "Added preview line " + std::to_string((first + 2) / 3 * 3) + ", ";
    EXPECT_NE(log().find(next), std::string::npos) << next;
}

// A long day in one process life: activations and stops, every enhancement and depth, both
// preview modes, a host that acknowledges late and out of order. Memory and handles stay flat,
// image ids rise, and every plate reaches the host exactly once. QUILO_SOAK_PLATES sets the
// number of plates (1,000 for a nightly run).
TEST_F(Capture, SoakOfManyPlates) {
    const char* plates = std::getenv("QUILO_SOAK_PLATES");
    const int total = plates != nullptr ? std::max(1, std::atoi(plates)) : 100;
    smallQuickPlates(0);
    start();
    std::vector<std::int32_t> unacknowledged;
    std::optional<sim::LiveCounts> flat;
    std::int32_t lastId = 0;
    std::size_t expected = 0;
    for (int a = 0; expected < static_cast<std::size_t>(total); ++a) {
        SCOPED_TRACE("activation " + std::to_string(a));
        // Acknowledged one activation late, the newest first.
        for (auto id = unacknowledged.rbegin(); id != unacknowledged.rend(); ++id)
            acknowledge(*id);
        unacknowledged.clear();
        if (a == 1) {
            flat = world.live();  // the first capture made what lives on
        } else if (a > 1) {
            EXPECT_EQ(world.live(), *flat);
        }
        const int n = std::min(total - static_cast<int>(expected), 3 + a % 5);
        configure({{"Plates", std::to_string(n)}});
        auto& s = plugin->settings().settings();
        s.ImageEnhancement = a % 4;
        s.BitDepth = static_cast<std::int16_t>(a % 3 == 0 ? 8 : a % 3 == 1 ? 12 : 16);
        s.NoPreview = static_cast<std::int16_t>(a % 2);
        activate(1);
        expected += static_cast<std::size_t>(n);
        if (s.NoPreview == 0) {
            waitPreview(n);
            ASSERT_EQ(prescanImages(), n);
            prescan()->Command1.click();
            world.advance(100);
        }
        waitImages(expected);
        const auto got = images();
        ASSERT_EQ(got.size(), expected) << log();
        for (std::size_t i = expected - static_cast<std::size_t>(n); i < got.size(); ++i) {
            EXPECT_GT(le32At(got[i], 4), lastId);
            lastId = le32At(got[i], 4);
            unacknowledged.push_back(lastId);
        }
        sendHandle(testhost::kStopCapture);
    }
    for (const std::int32_t id : unacknowledged)
        acknowledge(id);
    EXPECT_EQ(library->device().handedOver().size(), expected);
    for (const auto& [name, times] : library->device().handedOver())
        EXPECT_EQ(times, 1) << name;
    EXPECT_TRUE(dialogs.empty()) << dialogs.front();
}

// The plate spool: every plate is on disk from the scanner's hand-over until the host has it;
// a process killed on the way leaves it there and the next start saves it, exactly once.
class Spool : public Capture {
  protected:
    std::filesystem::path dataPath(const char* sub) {
        if (plugin) dataFolder = plugin->settings().names().PluginDataFolder;
        return world.nativePath(dataFolder + "\\" + sub);
    }
    // The files of a folder of the plug-in's data folder with that extension.
    std::size_t files(const char* sub, const char* extension) {
        return filesIn(dataPath(sub), "", extension).size();
    }
    // The process ends as a kill leaves it (nothing of it runs any more), then a new one
    // starts and is initialised; the message it shows then, if any.
    std::string killAndRestart(int noPreview = 1) {
        kill();
        dialogs.clear();
        start(noPreview);  // the message comes once the host has initialised the plug-in
        world.advance(10);
        return dialogs.empty() ? std::string() : dialogs.front();
    }
    // A capture of `n` plates into the preview window, all of them there.
    void previewPlates(int n) {
        capture({{"Plates", std::to_string(n)}}, 0);
        waitPreview(n);
        ASSERT_EQ(prescanImages(), n);
    }
    std::string dataFolder;
};

TEST_F(Spool, ThreePlatesReachTheHostAndLeaveTheSpoolWhenAcknowledged) {
    capture({{"Plates", "3"}});
    waitImages(3);
    const auto got = images();
    ASSERT_EQ(got.size(), 3u) << log();
    for (std::size_t i = 0; i < got.size(); ++i) {
        // Image ids rise; sizes in pixels and millimetres, sensor, format and text.
        EXPECT_EQ(testhost::decodeRecord(testhost::kImageCapturedEx, got[i]),
                  "ImageCapturedEx(24) 2036456 bytes: image id=" + std::to_string(i + 1) +
                      " 1240x1640 (31.0 x 41.0 mm) sensor=1 format=32770 data=2034080 bytes "
                      "text=\"Intraoral size 2 (#1)\"");
        EXPECT_NEAR(f64At(got[i], 16), 31.0, 0.01);
        const imaging::Image image = tiffOf(got[i]);
        EXPECT_EQ(std::tuple(image.width(), image.bitsPerPixel()), std::tuple(1240u, 8));
        EXPECT_NEAR(image.pitchX(), 25.0, 0.01);
    }
    EXPECT_EQ(lastStatus(), 64);
    // The host keeps images until it acknowledges them: out of order, then the same id again.
    EXPECT_EQ(files("Spool", ".tif"), 3u);
    acknowledge(2);
    EXPECT_EQ(files("Spool", ".tif"), 2u);
    acknowledge(2);
    world.advance(10);
    ASSERT_FALSE(dialogs.empty());
    EXPECT_EQ(dialogs.back(),
              "Error: No image with ImageID:2 found.\r\nIn: clsPlugin.DeleteNewImage()");
    // Each plate went Transport ON, Grabbing, back to active, and was removed from the scanner.
    for (const char* line :
         {"Loaded raw image, colors: ", "Transport = ON", "Transport = OFF", "Got raw image OK"})
        EXPECT_NE(log().find(line), std::string::npos) << line;
    // Without the preview: no window and no preview picture.
    EXPECT_EQ(plugin->forms().find("frmPrescan"), nullptr);
    EXPECT_EQ(main().scannerStatus().PreviewLineCount, 0);
    // The end: the user chooses not to save the two unacknowledged images; they are given up.
    pluginProcess->scriptMessageBoxAnswers({platform::mb::kIdNo});
    sendHandle(testhost::kShutdownPlugin);
    plugin.reset();
    EXPECT_EQ(files("Spool", ".tif") + files("Spool", ".rec") + files("Spool", ".part"), 0u);
}

TEST_F(Spool, APlateKilledOnTheWayIsRecoveredOnce) {
    struct Row {
        const char* where;
        int noPreview;
        int startsBeforeRecovery;
    };
    // Sent but not acknowledged; waiting in the preview window; still in the scanner (the
    // process died before the scanner deleted it: the entry waits a session for the scanner
    // to hand the plate over again, which a new device never does, then is recovered).
    for (const Row& row : {Row{"sent", 1, 1}, Row{"preview", 0, 1}, Row{"scanner", 1, 2}}) {
        SCOPED_TRACE(row.where);
        capture({{"Plates", "1"}}, row.noPreview);
        if (row.noPreview == 0)
            waitPreview(1);
        else
            waitImages(images().size() + 1);
        if (std::string(row.where) == "scanner") {  // as if Delete_Image had not happened yet
            for (const auto& rec : filesIn(dataPath("Spool"), "", ".rec")) {
                const std::string text = readText(rec);
                std::ofstream(rec) << replaceAll(text, "deleted=1", "deleted=0");
            }
        }
        ASSERT_EQ(files("Spool", ".tif"), 1u);
        std::string shown;
        for (int s = 0; s < row.startsBeforeRecovery; ++s)
            shown = killAndRestart(row.noPreview);
        EXPECT_EQ(shown.rfind("1 image(s) from an earlier session were not delivered", 0), 0u)
            << shown;
        EXPECT_NE(shown.find(plugin->settings().names().PluginDataFolder + "\\Recovered"),
                  std::string::npos);
        EXPECT_EQ(files("Spool", ".tif"), 0u);
        const auto recovered = filesIn(dataPath("Recovered"), "", ".tif");
        ASSERT_EQ(recovered.size(), 1u);
        const std::string tiff = readText(recovered[0]);  // processed as the settings choose
        EXPECT_EQ(imaging::readTiff(std::as_bytes(std::span(tiff))).bitsPerPixel(), 8);
        std::filesystem::remove(recovered[0]);
        EXPECT_EQ(killAndRestart(), "");  // once only
        kill();
    }
    // A killed process leaves its temporary preview files behind: not the spool's business.
    for (const auto& f : filesIn(world.nativePath(tempFolder()), ""))
        std::filesystem::remove(f);
    baseline.reset();
}

// Raw.TIF is a second name of the plate's file in the spool, so a plate goes to disk once, and a
// released plate's file is written over by the next plate. Raw.TIF is never written over while
// it shares a plate the spool holds; where no link can be made it is written on its own.
TEST_F(Spool, RawTifSharesThePlateFileAndReleasedFilesAreWrittenOver) {
    namespace fs = std::filesystem;
    capture({{"Plates", "5"}});
    waitImages(2);
    const fs::path raw = dataPath("Raw.TIF"), spool = dataPath("Spool");
    EXPECT_TRUE(fs::equivalent(raw, spool / "PLATE00002.tif"));
    acknowledge(1);
    acknowledge(2);
    ASSERT_EQ(files("Spool", ".tif"), 0u);
    const fs::path spare = spool / "probe";  // another name of the released first plate's file
    fs::create_hard_link(spool / "PLATE.spare", spare);
    waitImages(3);
    EXPECT_TRUE(fs::equivalent(spare, spool / "PLATE00003.tif"));
    EXPECT_TRUE(fs::equivalent(raw, spare));
    fs::remove(spare);
    // An image processed outside the spool (as the test image is) while plate 3 is held.
    const std::string third = readText(spool / "PLATE00003.tif");
    const imaging::Image other = imageOf(300, 200, 16, [](auto x, auto y) { return x * y; });
    platform::GlobalBlock block = imaging::writeTiffToGlobal(pluginProcess->memory(), other);
    bool isTest = true;
    main().DoGrabFrame(block.get(), block.size(), isTest);
    EXPECT_EQ(readText(spool / "PLATE00003.tif"), third);
    const std::string rawTif = readText(raw);
    EXPECT_EQ(imaging::readTiff(std::as_bytes(std::span(rawTif))).width(), 300u);
    // A folder in Raw.TIF's place: no link and no file, the capture goes on; from then on Raw.TIF
    // is written beside the plate's file.
    fs::remove(raw);
    fs::create_directory(raw);
    waitImages(5);
    EXPECT_NE(log().find("Could not save " + dataFolder + "\\Raw.TIF"), std::string::npos);
    fs::remove(raw);
    waitImages(6);
    ASSERT_EQ(images().size(), 6u);
    EXPECT_EQ(fs::hard_link_count(raw), 1u);
    EXPECT_EQ(readText(raw), readText(spool / "PLATE00005.tif"));
}

TEST_F(Spool, AFailedSpoolWriteIsToldOnceAndTheCaptureGoesOn) {
    configure({{"Plates", "2"}});
    start();
    std::filesystem::create_directories(dataPath(""));
    std::ofstream(dataPath("Spool")) << "a file where the folder should be";
    activate(1);
    waitImages(2);
    EXPECT_EQ(images().size(), 2u);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].rfind("The plug-in could not keep a safety copy", 0), 0u) << dialogs[0];
    std::filesystem::remove(dataPath("Spool"));
}

// The preview window collects the plates, each kept in the spool, and sends the ones the user
// chooses, also after the capture has stopped.
TEST_F(Spool, PreviewSendsTheChosenImagesAndTheOthersLeaveTheSpool) {
    ASSERT_NO_FATAL_FAILURE(previewPlates(3));
    EXPECT_TRUE(images().empty());  // nothing goes to the host before the user chooses
    EXPECT_NE(log().find("Prescan window shown 1"), std::string::npos);
    EXPECT_NE(log().find("Added preview line 0, "), std::string::npos);
    EXPECT_EQ(log().find("Added preview line 1, "), std::string::npos);
    ASSERT_EQ(files("Spool", ".tif"), 3u);
    auto& window = *prescan();
    window.ImgList.toggleItem(1);  // the user leaves the second out and sends the others
    sendHandle(testhost::kStopCapture);
    world.advance(100);
    window.Command1.click();
    world.advance(100);
    const auto got = images();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(le32At(got[0], 44), 1);
    // The same millimetres as an image imported at once.
    EXPECT_NEAR(f64At(got[1], 16), 31.0, 0.01);
    // Each carries the time its file was written, not the time it was sent: plates 1 and 3 were
    // read two plate intervals apart and sent together.
    EXPECT_NEAR((f64At(got[1], 36) - f64At(got[0], 36)) * 86400.0, 13.0, 1.0);
    EXPECT_FALSE(plugin->forms().isLoaded("frmPrescan"));
    EXPECT_TRUE(std::filesystem::is_empty(world.nativePath(tempFolder())));
    EXPECT_EQ(files("Spool", ".tif"), 2u);  // sent, waiting for the acknowledgement
    acknowledge(1);
    acknowledge(2);
    EXPECT_EQ(files("Spool", ".tif"), 0u);  // the one left out was given up by the user
}

// The chosen preview images cannot be read back from their temporary files: each is sent from
// its copy in the spool; one whose spool copy is spoilt too is not sent, the user is told, and
// its entry stays for the next start.
TEST_F(Spool, PreviewImagesThatCannotBeReadBackAreSentFromTheSpoolOrKept) {
    ASSERT_NO_FATAL_FAILURE(previewPlates(2));
    for (const auto& f : filesIn(world.nativePath(tempFolder()), "QUI"))
        std::ofstream(f, std::ios::trunc) << "not a TIFF";
    const auto plates = filesIn(dataPath("Spool"), "", ".tif");
    ASSERT_EQ(plates.size(), 2u);
    std::ofstream(plates[0], std::ios::trunc) << "spoilt";  // the first plate's copy as well
    sendHandle(testhost::kStopCapture);
    world.advance(100);
    prescan()->Command1.click();
    world.advance(100);
    ASSERT_EQ(images().size(), 1u);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].rfind("Image 1 could not be read back and was not sent.", 0), 0u)
        << dialogs[0];
    acknowledge(le32At(images()[0], 4));
    EXPECT_EQ(files("Spool", ".rec"), 1u);  // the first plate's entry waits for the next start
}

}  // namespace
}  // namespace quilo::test
