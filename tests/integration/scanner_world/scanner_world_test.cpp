// The plug-in's binding, SensorAPI and the simulated scanner together in a simulated world:
// LoadLibrary("OrvaneEx.dll") reaches the device through real function pointers, the virtual
// clock drives it, and its memory blocks are the world's.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "../../unit/scanner/scanner_fakes.h"
#include "orvane-sim/world_library.h"
#include "platform/sim/world.h"
#include "scanner/orvane_binding.h"
#include "scanner/sensor_api.h"

namespace quilo::scanner {
namespace {

namespace st = status;

constexpr const char* kIni = R"([Scanner]
Maker=Stellan Inc.
Model=Quilo
Serial=  QS-77  
ParamCount=3
[Param1]
Name=Intraoral size 2
WidthMM=8
HeightMM=6
PitchUM=100
[Param2]
Name=Intraoral size 2 PERIO
WidthMM=8
HeightMM=6
PitchUM=100
[Param3]
Name=Panoramic 15x30
WidthMM=30
HeightMM=15
PitchUM=500
[Behaviour]
TransportStartMs=300
ReadMs=2000
EjectMs=500
PreviewLines=20
)";

std::span<const std::byte> bytesOf(const std::string& s) {
    return {reinterpret_cast<const std::byte*>(s.data()), s.size()};
}

class ScannerWorldTest : public ::testing::Test {
  protected:
    ScannerWorldTest() {
        const std::string ini = platform::joinPath(process.files().programFolder(), "OrvaneEx.ini");
        process.files().createDirectories(process.files().programFolder());
        EXPECT_TRUE(platform::writeWholeFile(process.files(), ini, bytesOf(kIni)));
        api.setPreviewHook(&host);
    }
    sim::World world;
    sim::SimProcess& process = world.createProcess();
    std::unique_ptr<orvanesim::WorldLibrary> device =
        orvanesim::WorldLibrary::install(world, process);
    OrvaneBinding binding{process.libraries()};
    testing::RecordingHost host;
    SensorAPI api{binding, process.files(), process.process(), host};
};

TEST_F(ScannerWorldTest, EveryExportIsThereAndTheScannerOpens) {
    api.InitializeHardware();
    EXPECT_TRUE(binding.missingExports().empty());
    auto lib = process.libraries().load("C:\\Drivers\\OrvaneEx.dll");
    ASSERT_TRUE(lib);
    for (const char* name : abi::kOtherExportNames)
        EXPECT_NE(lib->symbol(name), nullptr) << name;
    EXPECT_TRUE(api.HardwareInitialized);
    EXPECT_THAT(host.dialogs, ::testing::IsEmpty());
    EXPECT_EQ(api.Sensors.count(), 3u);
    EXPECT_TRUE(api.Sensors.find("K2")->Perio);
    EXPECT_EQ(api.Sensors.find("K3")->ImageType, kPanoramic);
    EXPECT_EQ(api.ScannerMaker, "Stellan Inc.");
    EXPECT_EQ(api.ScannerModel, "Quilo");
    EXPECT_EQ(api.ScannerSerial, "QS-77");
    EXPECT_TRUE(device->device().isOpen());
    EXPECT_EQ(device->device().openSet(), 1);
    EXPECT_TRUE(process.messageBoxes().empty());

    api.CloseHardware();
    EXPECT_FALSE(device->device().isOpen());
}

// Polls like the capture sequence: a 5 ms window timer reads the status word, fetches preview
// pictures while a plate is read and every image once it is ready.
class Poller final : public platform::WindowHandler {
  public:
    Poller(sim::World& w, sim::SimProcess& p, ScannerLibrary& l) : world(w), process(p), lib(l) {}
    platform::LResult windowProc(platform::Hwnd h, platform::MsgId msg, platform::WParam wp,
                                 platform::LParam lp) override {
        if (msg != platform::wm::kTimer) return process.windows().defWindowProc(h, msg, wp, lp);
        const Long status = lib.Get_Status();
        const bool transport = (status & st::kTransport) != 0;
        if (transport != transporting) events.push_back({world.nowMs(), transport ? "ON" : "OFF"});
        transporting = transport;
        if (status & st::kImageReadyMask) {
            std::string name;
            lib.Get_ImageName(name);
            ImageInfoRecord record{};
            lib.Get_ImageInfo(untilNul(name), record);
            const auto info = parseImageInfo(record);
            platform::HGlobal image = 0;
            Long bytes = 0;
            if (lib.GetRawImage(untilNul(name), info.width, info.height, image, bytes, 1, 0, 10000,
                                10000) == 0) {
                {
                    platform::GlobalLock lock(process.memory(), image);
                    const auto raw = orvanesim::readGreyTiff(
                        lock.bytes().first(static_cast<std::size_t>(bytes)));
                    pixels.push_back(raw ? raw->pixels : std::vector<std::uint16_t>{});
                }
                process.memory().free(image);
                events.push_back({world.nowMs(), "image " + untilNul(name)});
            }
            lib.Delete_Image(untilNul(name));
        } else if (status & st::kPreview) {
            platform::HGlobal picture = 0;
            Long n = 0;
            if (lib.GetPrescanImage(picture, n) == 0)
                previews += process.memory().size(picture) == static_cast<std::size_t>(n);
        }
        return 0;
    }
    struct Event {
        std::uint32_t at;
        std::string what;
    };
    sim::World& world;
    sim::SimProcess& process;
    ScannerLibrary& lib;
    std::vector<Event> events;
    std::vector<std::vector<std::uint16_t>> pixels;  // of each image fetched
    bool transporting = false;
    int previews = 0;
};

TEST_F(ScannerWorldTest, APollingTimerSeesThreePlatesOfAMorningOnTheVirtualClock) {
    std::string ini = kIni;
    ini += "Plates=3\nFirstPlateMs=3000\nPlateIntervalMs=15000\n";
    platform::writeWholeFile(process.files(),
                             platform::joinPath(process.files().programFolder(), "OrvaneEx.ini"),
                             bytesOf(ini));
    api.InitializeHardware();
    ASSERT_TRUE(api.HardwareInitialized);
    Poller poller(world, process, binding);
    const platform::Hwnd hwnd = process.windows().createWindow({}, &poller);
    ASSERT_EQ(binding.Aktivate_Scanner(), 0);
    const std::uint32_t t0 = world.nowMs();
    ASSERT_TRUE(process.windows().setTimer(hwnd, 1, 5));
    world.advance(40000);

    // Fed at 3 s, 18 s and 33 s; transport 0.3 s later for 2.5 s; the image at the next tick.
    std::vector<std::string> seen;
    for (const auto& e : poller.events)
        seen.push_back(std::to_string((e.at - t0 + 4) / 10 * 10) + " " + e.what);
    EXPECT_THAT(
        seen, ::testing::ElementsAre("3300 ON", "5800 OFF", "5800 image PLATE00001.RAW", "18300 ON",
                                     "20800 OFF", "20800 image PLATE00002.RAW", "33300 ON",
                                     "35800 OFF", "35800 image PLATE00003.RAW"));
    // 60 lines, a picture every 20 lines: three per plate, each block as long as reported.
    EXPECT_EQ(poller.previews, 9);
    ASSERT_EQ(poller.pixels.size(), 3u);
    EXPECT_EQ(poller.pixels[2],
              orvanesim::mapGrey(device->device().platePixels(3, 1).pixels, true, 0, 10000, 10000));
    process.windows().killTimer(hwnd, 1);
    process.windows().destroyWindow(hwnd);
    api.ScannerActivated = true;
    api.CloseHardware();
    EXPECT_EQ(world.live().memoryBlocks, 0u);
}

TEST_F(ScannerWorldTest, EachWorldHasItsOwnScanner) {
    sim::World other;
    sim::SimProcess& p2 = other.createProcess();
    auto device2 = orvanesim::WorldLibrary::install(other, p2);
    OrvaneBinding binding2{p2.libraries()};

    api.InitializeHardware();
    EXPECT_EQ(binding2.Init_Dll("Orvane.dll"), 0);
    // The second world has no INI file: the built-in scanner with four sets.
    EXPECT_EQ(binding2.Get_Paramcount(), 4);
    EXPECT_EQ(binding.Get_Paramcount(), 3);
    EXPECT_EQ(binding2.Open_Scanner(2), 0);
    EXPECT_EQ(device->device().openSet(), 1);
    EXPECT_EQ(device2->device().openSet(), 2);
    EXPECT_EQ(binding2.Close_Scanner(), 0);
    EXPECT_TRUE(device->device().isOpen());
}

}  // namespace
}  // namespace quilo::scanner
