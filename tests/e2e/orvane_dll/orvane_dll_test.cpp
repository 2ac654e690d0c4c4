// The plug-in's binding against the real OrvaneEx.dll under Windows (Wine here): every export
// is found by name, SensorAPI opens the scanner through it, and a plate fed by the DLL's clock
// comes out with the pixels the simulated world gives for the same plate.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "../../unit/orvane_sim/phantom_golden.h"
#include "../../unit/scanner/scanner_fakes.h"
#include "orvane-sim/phantom.h"
#include "orvane-sim/simulator.h"
#include "orvane-sim/tiff_lite.h"
#include "platform/win32/win32_platform.h"
#include "scanner/orvane_binding.h"
#include "scanner/sensor_api.h"
#include "support/bytes.h"
#include "support/wrappers.h"

namespace quilo::scanner {
namespace {

namespace st = status;

constexpr const char* kIni = R"([Scanner]
Maker=Stellan Inc.
Serial=QS-WINE-1
ParamCount=2
[Param1]
Name=Intraoral test
WidthMM=8
HeightMM=6
PitchUM=100
[Param2]
Name=Panoramic test
WidthMM=30
HeightMM=15
PitchUM=500
[Behaviour]
Plates=1
FirstPlateMs=100
TransportStartMs=100
ReadMs=600
EjectMs=200
PreviewLines=10
)";

class OrvaneDllTest : public ::testing::Test {
  protected:
    OrvaneDllTest() {
        EXPECT_TRUE(platform::writeWholeFile(platform->files(), ini, test::bytesOf(kIni)));
    }
    ~OrvaneDllTest() override { platform->files().removeFile(ini); }

    std::unique_ptr<platform::Platform> platform = platform::makeWin32Platform();
    const std::string dll = platform::joinPath(platform->files().programFolder(), "OrvaneEx.dll");
    OrvaneBinding binding{platform->libraries(), dll};
    const std::string ini = platform->files().tempFolder() + "orvane_dll_test.ini";
};

TEST_F(OrvaneDllTest, EveryExportIsFoundAndSensorApiOpensTheScanner) {
    binding.load();
    EXPECT_THAT(binding.missingExports(), ::testing::IsEmpty());
    auto library = platform->libraries().load(dll);
    ASSERT_TRUE(library);
    for (const char* name : abi::kOtherExportNames)
        EXPECT_NE(library->symbol(name), nullptr) << name;
    ASSERT_EQ(binding.Init_Dll("Orvane.dll"), 0);
    ASSERT_EQ(binding.Set_IniFileName(ini), 0);
    std::string buffer;
    ASSERT_EQ(binding.Get_IniFileName(buffer), 0);
    EXPECT_EQ(untilNul(buffer), ini);

    // Message boxes are recorded, not shown: none is expected.
    struct BoxRecorder final : quilo::test::ProcessWrapper {
        using ProcessWrapper::ProcessWrapper;
        int messageBox(platform::Hwnd, std::string_view text, std::string_view,
                       std::uint32_t) override {
            boxes.emplace_back(text);
            return 1;
        }
        std::vector<std::string> boxes;
    } process(platform->process());
    testing::RecordingHost host;
    SensorAPI api(binding, platform->files(), process, host);
    api.InitializeHardware();
    EXPECT_TRUE(api.HardwareInitialized);
    EXPECT_THAT(host.dialogs, ::testing::IsEmpty());
    EXPECT_THAT(process.boxes, ::testing::IsEmpty());
    EXPECT_EQ(api.Sensors.count(), 2u);
    EXPECT_EQ(api.Sensors.find("K2")->ImageType, kPanoramic);
    EXPECT_EQ(api.ScannerMaker, "Stellan Inc.");
    EXPECT_EQ(api.ScannerSerial, "QS-WINE-1");
    // Switching the INI file is refused while open.
    EXPECT_EQ(binding.Set_IniFileName("C:\\nowhere.ini"), -7);
    api.CloseHardware();
    EXPECT_EQ(binding.Get_Status(), -4);
}

TEST_F(OrvaneDllTest, APlateIsReadOnTheRealClockAndFetched) {
    // The calls of an activation, in order: each succeeds.
    ASSERT_EQ((std::vector<Long>{binding.Init_Dll("Orvane.dll"), binding.Set_IniFileName(ini),
                                 binding.Open_Scanner(1), binding.Set_Prescanmode(kPreviewLinesOn),
                                 binding.Set_ImageExtraHeader(0, 0), binding.Aktivate_Scanner()}),
              std::vector<Long>(6, 0));

    // Poll the way the capture sequence does, fetching preview pictures as they come.
    Long seen = 0, status = 0;
    int previews = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        status = binding.Get_Status();
        ASSERT_GE(status, 0);
        seen |= status;
        if (status & st::kImageReadyMask) break;
        if (status & st::kPreview) {
            platform::HGlobal picture = 0;
            Long bytes = 0;
            if (binding.GetPrescanImage(picture, bytes) == 0) {
                platform::GlobalLock lock(platform->memory(), picture);
                ASSERT_TRUE(lock);
                auto preview =
                    orvanesim::readGreyTiff(lock.bytes().first(static_cast<std::size_t>(bytes)));
                ASSERT_TRUE(preview);
                EXPECT_EQ(preview->width, 80);
                ++previews;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(status & st::kImageReadyMask, 1);
    EXPECT_EQ(seen & st::kTransport, st::kTransport);
    EXPECT_EQ(seen & st::kSlot1, st::kSlot1);
    EXPECT_GE(previews, 1);

    std::string name;
    ASSERT_NE(binding.Get_ImageName(name), 0);
    ImageInfoRecord record{};
    ASSERT_EQ(binding.Get_ImageInfo(untilNul(name), record), 0);
    const ImageInfo info = parseImageInfo(record);
    ASSERT_EQ(info.width, 80);
    ASSERT_EQ(info.height, 60);
    EXPECT_EQ(info.pitchXNm, 100000);

    platform::HGlobal image = 0;
    Long bytes = 0;
    ASSERT_EQ(binding.GetRawImage(untilNul(name), 80, 60, image, bytes, 0, 0, 10000, 10000), 0);
    {
        platform::GlobalLock lock(platform->memory(), image);
        ASSERT_TRUE(lock);
        auto raw = orvanesim::readGreyTiff(lock.bytes().first(static_cast<std::size_t>(bytes)));
        ASSERT_TRUE(raw);
        EXPECT_EQ(raw->pixels, orvanesim::makePhantom(orvanesim::PlateKind::Intraoral, 80, 60,
                                                      orvanesim::plateSeed(1, 1))
                                   .pixels);
        EXPECT_EQ(orvanesim::testing::pixelHash(raw->pixels),
                  orvanesim::testing::kIntraoral80x60Plate1);
    }
    EXPECT_TRUE(platform->memory().free(image));
    EXPECT_EQ((std::vector<Long>{binding.Delete_Image(untilNul(name)), binding.Deaktivate_Scanner(),
                                 binding.Close_Scanner()}),
              std::vector<Long>(3, 0));
}

}  // namespace
}  // namespace quilo::scanner
