#include "orvane-sim/simulator.h"

#include <gtest/gtest.h>

#include <cstring>

#include "orvane-sim/device_environment.h"
#include "orvane-sim/world_library.h"
#include "scanner/orvane_binding.h"
#include "scanner/scanner_library.h"
#include "support/bytes.h"
#include "support/world.h"
#include "support/wrappers.h"

namespace quilo::orvanesim {
namespace {

namespace st = scanner::status;

// A small plate (40 x 30 pixels) read in one second, so timelines are easy to follow.
constexpr const char* kSmallScanner = R"(
[Scanner]
Maker=Stellan Inc.
Serial=QS-1
ParamCount=2
[Param1]
Name=Intraoral test
WidthMM=4
HeightMM=3
PitchUM=100
[Param2]
Name=Panoramic test
WidthMM=6
HeightMM=3
PitchUM=100
[Behaviour]
TransportStartMs=200
ReadMs=1000
EjectMs=300
PreviewLines=10
)";

// The simulator runs in a process of the test world (the virtual clock drives it, its INI
// file and feed plates are files there); its blocks are counted.
class SimulatorTest : public ::testing::Test {
  protected:
    SimulatorTest() { machine.memory_ = &memory; }
    void start(std::string ini) {
        w.put(iniPath, ini);
        sim = std::make_unique<Simulator>(makePlatformEnvironment(machine));
    }
    void openActive(Long set = 1) {
        ASSERT_EQ(sim->Init_Dll("Orvane.dll"), 0);
        ASSERT_EQ(sim->Open_Scanner(set), 0);
        ASSERT_EQ(sim->Set_Prescanmode(256), 0);
        ASSERT_EQ(sim->Aktivate_Scanner(), 0);
    }
    // The small scanner with these lines in its fault script, loaded, opened or active.
    enum Stage { kLoaded, kOpen, kActive };
    void startFaulty(const std::string& faults, Stage stage) {
        start(std::string(kSmallScanner) + "[Faults]\n" + faults);
        if (stage == kActive) return openActive();
        ASSERT_EQ(sim->Init_Dll(""), 0);
        if (stage == kOpen) {
            ASSERT_EQ(sim->Open_Scanner(1), 0);
        }
    }
    void wait(std::uint32_t ms) { w.world.advance(ms); }
    Long statusAfter(std::uint32_t ms) {
        wait(ms);
        return sim->Get_Status();
    }
    // The small scanner active with one plate read and ready.
    void plateReady() {
        start(kSmallScanner);
        openActive();
        sim->feedPlate();
        wait(1500);
    }
    std::vector<std::byte> blockBytes(std::intptr_t h) {
        return memory.get(static_cast<platform::HGlobal>(h));
    }
    bool freeBlock(std::intptr_t h) { return memory.free(static_cast<platform::HGlobal>(h)); }
    std::string imageName() {
        char name[255];
        std::memset(name, 'x', sizeof name);
        return sim->Get_ImageName(name) ? std::string(name) : std::string();
    }

    quilo::test::TestWorld w;
    quilo::test::CountingMemory memory{w.proc.memory()};
    quilo::test::PlatformWrapper machine{w.proc};
    const std::string iniPath = platform::joinPath(w.proc.files().programFolder(), "OrvaneEx.ini");
    std::unique_ptr<Simulator> sim;
    std::intptr_t image = 0, picture = 0;  // blocks the library hands out
    Long bytes = 0;
};

TEST_F(SimulatorTest, APlateGoesThroughSlotTransportPreviewAndImageOnTheClock) {
    start(kSmallScanner);
    openActive();
    EXPECT_EQ(sim->Get_Status(), 0);

    sim->feedPlate();
    EXPECT_EQ(sim->Get_Status(), st::kSlot1);
    EXPECT_EQ(statusAfter(199), st::kSlot1);
    EXPECT_EQ(statusAfter(1), st::kSlot1 | st::kTransport);  // transport starts
    EXPECT_EQ(statusAfter(333) & st::kPreview, 0);  // 9 of 30 lines: not yet a preview picture
    EXPECT_EQ(statusAfter(1), st::kSlot1 | st::kTransport | st::kPreview);  // 10 lines

    ASSERT_EQ(sim->GetPrescanImage(&picture, &bytes), 0);
    auto preview = readGreyTiff(blockBytes(picture));
    ASSERT_TRUE(preview);
    EXPECT_EQ(std::tuple(preview->width, preview->height, blockBytes(picture).size()),
              std::tuple(40, 10, static_cast<std::size_t>(bytes)));
    EXPECT_EQ(sim->Get_Status() & st::kPreview, 0);  // fetched
    EXPECT_EQ(sim->GetPrescanImage(&picture, &bytes), -1);

    // Read to the end: the last lines wait as a preview picture.
    EXPECT_EQ(statusAfter(666), st::kSlot1 | st::kTransport | st::kPreview);
    ASSERT_EQ(sim->GetPrescanImage(&picture, &bytes), 0);
    EXPECT_EQ(readGreyTiff(blockBytes(picture))->height, 30);
    EXPECT_EQ(memory.liveBlocks(), 1u);  // the library keeps one preview block

    wait(299);
    EXPECT_EQ(std::tuple(sim->Get_Status(), imageName()),
              std::tuple(st::kSlot1 | st::kTransport, ""));
    wait(1);  // ejected: one image ready
    EXPECT_EQ(std::tuple(sim->Get_Status(), imageName()), std::tuple(1, "PLATE00001.RAW"));

    // The next plate goes into the next slot.
    sim->feedPlate();
    EXPECT_EQ(sim->Get_Status(), 1 | st::kSlot2);
}

TEST_F(SimulatorTest, ThePlateIsFetchedWithItsInformationAndPixelsOnCheckedArguments) {
    plateReady();
    const std::string name = imageName();
    ASSERT_EQ(name, "PLATE00001.RAW");

    scanner::ImageInfoRecord record;
    record.fill(std::byte{0xEE});
    ASSERT_EQ(sim->Get_ImageInfo(name.c_str(), reinterpret_cast<unsigned char*>(record.data())), 0);
    const auto info = scanner::parseImageInfo(record);
    EXPECT_EQ(std::tuple(info.width, info.height, info.pitchXNm, info.pitchYNm, info.bitsPerPixel),
              std::tuple(40, 30, 100000, 100000, 16));
    EXPECT_EQ(record[0], std::byte{108});

    ASSERT_EQ(sim->GetRawImage(name.c_str(), 40, 30, &image, &bytes, 0, 0, 10000, 10000), 0);
    auto raw = readGreyTiff(blockBytes(image));
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->pixels, sim->platePixels(1, 1).pixels);
    // The block is the caller's: it outlives the image's deletion and the closing.
    EXPECT_EQ(sim->Delete_Image(name.c_str()), 0);
    EXPECT_EQ(sim->Get_Status(), 0);
    EXPECT_EQ(sim->Delete_Image(name.c_str()), -2);
    EXPECT_EQ(sim->Close_Scanner(), 0);
    EXPECT_EQ(memory.liveBlocks(), 1u);
    EXPECT_TRUE(freeBlock(image));

    // With the optimise flag the mapping is applied.
    plateReady();
    ASSERT_EQ(sim->GetRawImage("PLATE00001.RAW", 40, 30, &image, &bytes, 1, 1, 20000, 30000), 0);
    EXPECT_EQ(readGreyTiff(blockBytes(image))->pixels,
              mapGrey(sim->platePixels(1, 1).pixels, true, 1, 20000, 30000));
    freeBlock(image);

    // A wrong width, optimise flag, curve, or cut.
    const char* n = "PLATE00001.RAW";
    for (const auto& [width, optimise, curve, low, high] :
         {std::tuple(41, 0, 0, 0, 0), std::tuple(40, 2, 0, 0, 0), std::tuple(40, 1, 2, 0, 0),
          std::tuple(40, 1, 0, 400001, 0), std::tuple(40, 1, 0, 0, -1)})
        EXPECT_EQ(sim->GetRawImage(n, width, 30, &image, &bytes, optimise, curve, low, high), -102);
    EXPECT_EQ(sim->GetRawImage("PLATE00002.RAW", 40, 30, &image, &bytes, 0, 0, 0, 0), -2);
    memory.failAllocs = 1;
    EXPECT_EQ(sim->GetRawImage(n, 40, 30, &image, &bytes, 0, 0, 0, 0), -90);
    EXPECT_EQ(std::tuple(image, memory.liveBlocks()), std::tuple(0, 0u));
}

TEST_F(SimulatorTest, AutomaticPlatesQueueBehindEachOther) {
    start(std::string(kSmallScanner) + "Plates=2\nFirstPlateMs=1000\nPlateIntervalMs=500\n");
    openActive(2);
    EXPECT_EQ(statusAfter(999), 0);
    EXPECT_EQ(statusAfter(1), st::kSlot1);
    // Plate 2 arrives while plate 1 is read.
    EXPECT_EQ(statusAfter(500) & (st::kSlot1 | st::kSlot2), st::kSlot1 | st::kSlot2);
    // Plate 1 done at 1000 + 200 + 1000 + 300 = 2500.
    EXPECT_EQ(statusAfter(1000), 1 | st::kSlot2 | st::kTransport);
    wait(1500);  // plate 2 right behind it
    EXPECT_EQ(std::tuple(sim->Get_Status(), sim->platesFed()), std::tuple(2, 2));
    unsigned char record[108];
    ASSERT_EQ(sim->Get_ImageInfo("PLATE00002.RAW", record), 0);
    EXPECT_EQ(record[4], 60);  // the panoramic test set: 60 pixels wide
}

TEST_F(SimulatorTest, DeactivationDropsUnreadPlatesAndClosingReportsLeftImages) {
    plateReady();
    sim->feedPlate();
    wait(700);  // plate 2 half read
    ASSERT_EQ(sim->GetPrescanImage(&picture, &bytes), 0);
    EXPECT_EQ(sim->Deaktivate_Scanner(), 0);
    EXPECT_EQ(statusAfter(5000), 1);  // plate 1's image only
    EXPECT_EQ(sim->Aktivate_Scanner(), 0);
    EXPECT_EQ(sim->Aktivate_Scanner(), -6);
    EXPECT_EQ(sim->Close_Scanner(), -10001);
    EXPECT_EQ(memory.liveBlocks(), 0u);  // the preview block went with the closing
    EXPECT_EQ(std::tuple(sim->Get_Status(), sim->Close_Scanner()), std::tuple(-4, -4));
}

TEST_F(SimulatorTest, TheFaultScriptReachesEveryErrorPath) {
    // Init_Dll 2: unusable until a later call succeeds.
    start(std::string(kSmallScanner) + "[Faults]\nInitDll=2\n");
    EXPECT_EQ(sim->Init_Dll("Orvane.dll"), 2);
    EXPECT_EQ(sim->Open_Scanner(1), -99);
    w.put(iniPath, kSmallScanner);
    EXPECT_EQ(sim->Init_Dll("Orvane.dll"), 0);
    EXPECT_EQ(sim->Open_Scanner(1), 0);

    // Open: -7 leaves it open, -2 then 0, an unknown set is -2.
    startFaulty("Open=-7\n", kLoaded);
    EXPECT_EQ((std::pair{sim->Open_Scanner(1), sim->isOpen()}), std::pair(-7, true));
    startFaulty("Open=-2, 0\n", kLoaded);
    EXPECT_EQ((std::pair{sim->Open_Scanner(1), sim->isOpen()}), std::pair(-2, false));
    EXPECT_EQ(sim->Open_Scanner(9), -2);
    EXPECT_EQ(sim->Open_Scanner(2), 0);
    EXPECT_EQ(sim->openSet(), 2);

    // Activation results in turn, what is no number skipped; -6 counts as active.
    startFaulty("Activate= -1009, x,-6,\n", kOpen);
    EXPECT_EQ((std::pair{sim->Aktivate_Scanner(), sim->isActive()}), std::pair(-1009, false));
    EXPECT_EQ((std::pair{sim->Aktivate_Scanner(), sim->isActive()}), std::pair(-6, true));

    // Serial number missing, or an error.
    start("[Scanner]\nSerial=\n");
    sim->Init_Dll("");
    sim->Open_Scanner(1);
    char buffer[256];
    EXPECT_EQ(sim->Get_Serialnumber(buffer), -1);
    startFaulty("Serial=-1001\nIniFileName=-1\n", kOpen);
    EXPECT_EQ(sim->Get_Serialnumber(buffer), -1001);
    EXPECT_EQ(sim->Get_IniFileName(buffer), -1);

    // An unreadable parameter set (inside its section: a repeated section is not read).
    std::string unreadable = kSmallScanner;
    unreadable.insert(unreadable.find("[Param2]\n") + 9, "Unreadable=1\n");
    start(unreadable);
    EXPECT_EQ(sim->Get_Paramname(buffer, 1), 0);
    EXPECT_STREQ(buffer, "Intraoral test");
    EXPECT_EQ(std::pair(sim->Get_Paramname(buffer, 2), sim->Get_Paramname(buffer, 3)),
              std::pair(-3, -2));

    // The nth call of an export, counted since loading, fails with the scripted result.
    startFaulty("FailCall=Open_Scanner:2:-1001, x, Get_Status:1:-5\n", kLoaded);
    EXPECT_EQ(sim->Get_Status(), -5);
    EXPECT_EQ(sim->Open_Scanner(1), 0);
    sim->Close_Scanner();
    EXPECT_EQ((std::pair{sim->Open_Scanner(1), sim->isOpen()}), std::pair(-1001, false));
    EXPECT_EQ(sim->Open_Scanner(1), 0);
    EXPECT_EQ(sim->calls("Open_Scanner"), 3);
}

TEST_F(SimulatorTest, StatusInformationAndRawImageFaultsHitTheirPlate) {
    // A checksum error while plate 2 is read: reported once, and that plate is lost.
    startFaulty("StatusPlate=2\nStatusCode=-200\n", kActive);
    sim->feedPlate();
    EXPECT_EQ(statusAfter(1500), 1);
    sim->feedPlate();
    EXPECT_EQ(statusAfter(100), 1 | st::kSlot2);  // not transported yet
    EXPECT_EQ(statusAfter(200), -200);
    EXPECT_EQ(sim->Get_Status(), 1 | st::kSlot2 | st::kTransport);
    EXPECT_EQ(statusAfter(2000), 1);

    // -5 on three calls while plate 1 is read; the plate still arrives, and its information
    // fails once and its pixels twice.
    startFaulty(
        "StatusPlate=1\nStatusCode=-5\nStatusCalls=3\nImageInfoPlate=1\nImageInfoResult=-1\n"
        "RawImagePlate=1\nRawImageResult=-90\nRawImageCalls=2\n",
        kActive);
    sim->feedPlate();
    wait(300);
    for (int call = 0; call < 3; ++call)
        EXPECT_EQ(sim->Get_Status(), -5);
    EXPECT_EQ(sim->Get_Status() & st::kTransport, st::kTransport);
    EXPECT_EQ(statusAfter(1200), 1);
    unsigned char record[108];
    EXPECT_EQ(sim->Get_ImageInfo("PLATE00001.RAW", record), -1);
    EXPECT_EQ(sim->Get_ImageInfo("PLATE00001.RAW", record), 0);
    for (Long result : {-90, -90, 0})
        EXPECT_EQ(sim->GetRawImage("PLATE00001.RAW", 40, 30, &image, &bytes, 0, 0, 0, 0), result);
    freeBlock(image);
}

TEST_F(SimulatorTest, TheIniFileChangesOnlyWhileClosed) {
    start(kSmallScanner);
    w.put("D:\\Other.ini", "[Scanner]\nParamCount=1\n[Param1]\nName=Ceph only\n");
    openActive();
    EXPECT_EQ(sim->Set_IniFileName("D:\\Other.ini"), -7);
    EXPECT_EQ(sim->Get_Paramcount(), 2);
    sim->Close_Scanner();
    EXPECT_EQ(sim->Set_IniFileName("D:\\Other.ini"), 0);
    EXPECT_EQ(sim->Get_Paramcount(), 1);
    char ini[256], name[256];
    EXPECT_EQ(std::tuple(sim->Get_IniFileName(ini), sim->Get_Paramname(name, 1)), std::tuple(0, 0));
    EXPECT_EQ(std::tuple(std::string(ini), std::string(name)),
              std::tuple("D:\\Other.ini", "Ceph only"));
}

TEST_F(SimulatorTest, ThePlatesOfAFeedFolderAreUsedInNameOrder) {
    std::vector<std::uint16_t> a(12 * 8), b(5 * 5, 77 * 257);
    for (std::size_t i = 0; i < a.size(); ++i)
        a[i] = static_cast<std::uint16_t>(i * 500);
    using quilo::test::textOf;
    w.put("C:\\Plates\\1.tif", textOf(writeGreyTiff(12, 8, 16, a, 0)));
    w.put("C:\\Plates\\2.tif",
          textOf(writeGreyTiff(5, 5, 8, std::vector<std::uint16_t>(25, 77), 0)));
    w.put("C:\\Plates\\3.tif", "not a picture");
    start(std::string(kSmallScanner) + "FeedFolder=C:\\Plates\n");
    openActive();
    // A file that is no picture gives the plate of the set; then round again.
    EXPECT_EQ(std::tuple(sim->platePixels(1, 1).pixels, sim->platePixels(2, 1).pixels,
                         sim->platePixels(3, 1).width, sim->platePixels(4, 1).pixels),
              std::tuple(a, b, 40, a));
}

// Installed in a world, every export of the library is a function bound to that world's own
// device: two worlds, two scanners.
TEST(WorldLibrary, ServesEveryExportOfItsOwnDevice) {
    sim::World first, second;
    auto& p1 = first.createProcess();
    auto& p2 = second.createProcess();
    auto one = WorldLibrary::install(first, p1), two = WorldLibrary::install(second, p2);
    scanner::OrvaneBinding b1{p1.libraries()}, b2{p2.libraries()};
    auto lib = p1.libraries().load("C:\\Drivers\\OrvaneEx.dll");
    ASSERT_TRUE(lib);
    for (const char* name : scanner::abi::kOtherExportNames)
        EXPECT_NE(lib->symbol(name), nullptr) << name;
    b1.load();
    EXPECT_TRUE(b1.missingExports().empty());
    ASSERT_EQ(b1.Init_Dll("Orvane.dll"), 0);
    ASSERT_EQ(b2.Init_Dll("Orvane.dll"), 0);
    EXPECT_EQ(b1.Open_Scanner(1), 0);
    EXPECT_EQ(b2.Open_Scanner(2), 0);
    EXPECT_EQ(std::tuple(one->device().openSet(), two->device().openSet()), std::tuple(1, 2));
    EXPECT_EQ(b2.Close_Scanner(), 0);
    EXPECT_TRUE(one->device().isOpen());
    // Reloaded, the same exports reach a new device that has counted and opened nothing yet.
    one->reload();
    EXPECT_FALSE(one->device().isOpen());
    ASSERT_EQ(b1.Init_Dll("Orvane.dll"), 0);
    EXPECT_EQ(b1.Open_Scanner(3), 0);
    EXPECT_EQ(std::tuple(one->device().openSet(), one->device().calls("Init_Dll")),
              std::tuple(3, 1));
}

TEST(GreyMapping, CutsTheLimitsAndSpreadsTheRest) {
    std::vector<std::uint16_t> ramp(1000);
    for (std::size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<std::uint16_t>(1000 + i);
    EXPECT_EQ(mapGrey(ramp, false, 1, 50000, 50000), ramp);

    // 10 % cut at each end: the darkest hundred go black, the brightest hundred white.
    const auto lin = mapGrey(ramp, true, 0, 100000, 100000);
    EXPECT_EQ(std::tuple(lin[0], lin[100], lin[899], lin[999]), std::tuple(0, 0, 65535, 65535));
    EXPECT_GT(lin[101], 0);
    EXPECT_NEAR(lin[500], 32768, 200);
    EXPECT_TRUE(std::is_sorted(lin.begin(), lin.end()));

    // The logarithmic curve lifts the middle.
    const auto log = mapGrey(ramp, true, 1, 100000, 100000);
    EXPECT_TRUE(std::is_sorted(log.begin(), log.end()));
    EXPECT_GT(log[500], lin[500] + 10000);
    EXPECT_EQ(log[999], 65535);

    // A flat picture does not divide by zero.
    const std::vector<std::uint16_t> flat(10, 7);
    EXPECT_EQ(mapGrey(flat, true, 0, 0, 0).size(), 10u);
}

}  // namespace
}  // namespace quilo::orvanesim
