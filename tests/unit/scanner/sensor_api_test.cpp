#include "scanner/sensor_api.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "scanner/orvane_binding.h"
#include "scanner_fakes.h"
#include "support/world.h"

namespace quilo::scanner {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using testing::RecordingHost;
using testing::ScriptedLibrary;

class SensorApiTest : public ::testing::Test {
  protected:
    SensorApiTest() {
        lib.addSet(1, "Intraoral size 2");
        lib.addSet(2, "Intraoral size 2 PERIO");
        lib.addSet(3, "Panoramic 15x30");
        lib.addSet(4, "Cephalometric 24x30");
        lib.serialBuffer = "QS-2026-0417";
        w.put(lib.iniPath, "[Scanner]\r\nMaker=Stellan Inc.\r\n");
    }
    // The texts of the message boxes shown.
    std::vector<std::string> boxes() const {
        std::vector<std::string> out;
        for (const auto& b : w.proc.messageBoxes())
            out.push_back(b.text);
        return out;
    }
    struct Outcome {
        ScriptedLibrary lib;
        RecordingHost host;
        bool initialised = false;
        std::string set;  // the current set's name afterwards
    };
    // A SensorAPI of its own on a copy of `lib` as `change` leaves it (no calls counted yet),
    // initialised with the saved set `savedSet` (0: none).
    Outcome initialiseOn(const std::function<void(ScriptedLibrary&)>& change, Long savedSet = 0) {
        Outcome o{lib, {}, false, {}};
        change(o.lib);
        o.lib.calls.clear();
        SensorAPI a(o.lib, files, process, o.host);
        if (savedSet != 0) a.CurrentParamSetNr() = savedSet;
        a.InitializeHardware();
        o.initialised = a.HardwareInitialized;
        o.set = a.CurrentParamSet();
        return o;
    }
    quilo::test::TestWorld w;
    platform::Files& files = w.proc.files();
    platform::Process& process = w.proc.process();
    ScriptedLibrary lib;
    RecordingHost host;
    SensorAPI api{lib, files, process, host};
    Registration previewLink = api.attachPreviewHook(host);
};

TEST_F(SensorApiTest, OpensTheFirstSetWithEveryTraceInOrder) {
    api.InitializeHardware();

    EXPECT_THAT(
        host.traces,
        ElementsAre("Initialization started", "Orvane INI opened.", "Parameter count=4",
                    "Read Parameters OK", "About to Open scanner",
                    "Open scanner returned: 0 No error", "Scanner model is: Stellan Inc. Quilo",
                    "Set_Prescanmode(256) returned: 0", "SerialNo = QS-2026-0417",
                    "Initialization is done!"));
    EXPECT_THAT(host.dialogs, IsEmpty());
    EXPECT_EQ(std::tuple(api.HardwareInitialized, api.DllLoaded, host.stopRequested,
                         api.CurrentParamSetNr(), api.CurrentParamSet(), api.IniFileName,
                         api.ScannerSerial, api.LastSerial),
              std::tuple(true, true, false, 1, "Intraoral size 2", "C:\\Scanner\\OrvaneEx.ini",
                         "QS-2026-0417", "QS-2026-0417"));
    // No set is shown as a tool: the first one is.
    EXPECT_EQ(std::tuple(lib.opened, lib.prescanModes, api.Sensors.item(1)->bShowAsTool,
                         api.Sensors.item(2)->bShowAsTool),
              std::tuple(std::vector{1}, std::vector{256}, true, false));
    ASSERT_EQ(api.Sensors.count(), 4u);
    EXPECT_EQ(std::tuple(api.Sensors.find("K3")->ParamName, api.Sensors.find("k4")->OrdinalNo),
              std::tuple("Panoramic 15x30", 4));
}

TEST_F(SensorApiTest, ImageTypeAndPerioComeFromTheNameAndUnreadableSetsAreSkipped) {
    lib.sets.clear();
    lib.addSet(1, "pan and CEPH");
    lib.addSet(2, "Intra PERIO");
    lib.addSet(3, "Bitewing");
    lib.addSet(4, "broken", -3);
    lib.addSet(5, "Ceph lateral");
    lib.addSet(6, "CephPan intra");
    api.InitializeHardware();

    ASSERT_EQ(api.Sensors.count(), 5u);
    EXPECT_EQ(api.Sensors.find("K4"), nullptr);
    for (const auto& [key, type, perio] :
         {std::tuple{"K1", kPanoramic, false}, std::tuple{"K2", kIntraoral, true},
          std::tuple{"K3", kIntraoral, false}, std::tuple{"K5", kCephalometric, false},
          std::tuple{"K6", kPanoramic, false}})
        EXPECT_EQ(std::pair(api.Sensors.find(key)->ImageType, api.Sensors.find(key)->Perio),
                  std::pair(type, perio))
            << key;
    // Position 4 of the collection is set 5.
    EXPECT_EQ(api.Sensors.item(4)->OrdinalNo, 5);
}

TEST_F(SensorApiTest, TheSetShownAsToolIsChosenUnlessOneIsSaved) {
    // The panoramic set is a tool: with no saved set it becomes the current one.
    SensorAPI tool(lib, files, process, host);
    host.machineSettings["Devices\\Panoramic 15x30_AsTool"] = "1";
    host.machineSettings["Devices\\Cephalometric 24x30_AsTool"] = "1";
    tool.InitializeHardware();
    EXPECT_EQ(std::tuple(tool.CurrentParamSetNr(), tool.CurrentImageType(),
                         tool.Sensors.item(1)->bShowAsTool, lib.opened.back()),
              std::tuple(3, kPanoramic, false, 3));

    // A saved set number wins; its image type stays as loaded with the settings.
    SensorAPI saved(lib, files, process, host);
    saved.CurrentParamSetNr() = 4;
    saved.CurrentImageType() = kCephalometric;
    host.machineSettings["Devices\\Panoramic 15x30_AsTool"] = "0";
    saved.InitializeHardware();
    EXPECT_EQ(std::tuple(saved.CurrentParamSetNr(), saved.CurrentParamSet(),
                         saved.CurrentImageType(), lib.opened.back()),
              std::tuple(4, "Cephalometric 24x30", kCephalometric, 4));
}

TEST_F(SensorApiTest, TheChosenSetCanLiveInTheSettingsRecord) {
    struct {
        Long nr = 3;
        std::string name = "old name";
        Long type = kIntraoral;
    } record;
    api.bindCurrentSet(record.nr, record.name, record.type);
    lib.openResults = {-2, 0};
    api.InitializeHardware();
    EXPECT_EQ(std::tuple(record.nr, record.name, &api.CurrentParamSetNr(), lib.opened),
              std::tuple(1, "Intraoral size 2", &record.nr, std::vector{3, 1}));
}

TEST_F(SensorApiTest, ACallWhileOpenOnlyTracesAndAnInactiveScannerClosesWithoutDeactivation) {
    api.InitializeHardware();
    const auto callsBefore = lib.calls.size();
    host.traces.clear();
    host.stopRequested = true;

    api.InitializeHardware();
    EXPECT_THAT(host.traces,
                ElementsAre("Initialization started", "No need to Initialize, already done."));
    EXPECT_EQ(std::tuple(host.stopRequested, lib.calls.size(), api.HardwareInitialized),
              std::tuple(false, callsBefore, true));
    // Opened but never activated: closed without a deactivation.
    api.CloseHardware();
    EXPECT_EQ(std::pair(lib.count("Deaktivate_Scanner"), lib.count("Close_Scanner")),
              std::pair(0, 1));
}

TEST_F(SensorApiTest, AlreadyOpenCountsAsOpenButKeepsTheSerial) {
    api.ScannerSerial = "EARLIER";
    lib.openResults = {-7};
    api.InitializeHardware();

    EXPECT_EQ(std::tuple(api.HardwareInitialized, api.ScannerSerial, lib.count("Get_Serialnumber"),
                         lib.prescanModes, host.dialogs.size()),
              std::tuple(true, "EARLIER", 0, std::vector{256}, 0u));
    EXPECT_EQ(host.traces[5],
              "Open scanner returned: -7 The operation can not be performed because scanner is "
              "open");
}

TEST_F(SensorApiTest, AnUnknownSetIsReplacedBySetOne) {
    api.CurrentParamSetNr() = 9;
    lib.addSet(9, "Occlusal");  // named, but the scanner does not know it
    lib.openResults = {-2, 0};
    api.InitializeHardware();

    EXPECT_THAT(host.dialogs, ElementsAre("#7030||1"));
    EXPECT_EQ(std::tuple(lib.opened, api.CurrentParamSetNr(), api.CurrentParamSet(),
                         api.HardwareInitialized),
              std::tuple(std::vector{9, 1}, 1, "Intraoral size 2", true));

    // When set 1 cannot be named either, its name is "-" and the second result counts.
    ScriptedLibrary other;
    other.addSet(1, "x", -3);
    other.addSet(2, "Intraoral");
    other.openResults = {-2, -2};
    const Outcome o = initialiseOn([&](ScriptedLibrary& l) { l = other; }, 2);
    EXPECT_THAT(o.host.dialogs, ElementsAre("#7030||1", "#7050||1"));
    EXPECT_EQ(std::tuple(o.set, o.initialised), std::tuple("-", false));
}

TEST_F(SensorApiTest, AFailedOpeningShowsItsMessageAndKeepsTheLastSerial) {
    const std::pair<Long, int> table[] = {
        {-1, 7040},    {-2, 7050},    {-3, 7060},    {-100, 7070},  {-101, 7080}, {-102, 7090},
        {-1001, 7100}, {-1007, 7110}, {-1010, 7120}, {-1009, 7130}, {-4, 7130},   {5, 7130},
    };
    for (const auto& [result, number] : table) {
        SCOPED_TRACE(result);
        ScriptedLibrary l = lib;
        RecordingHost h;
        SensorAPI a(l, files, process, h);
        a.InitializeHardware();  // opens fine, serial read
        a.CloseHardware();
        // -2 is retried with set 1, so it has to fail twice.
        l.openResults = {result, result};
        a.InitializeHardware();
        ASSERT_FALSE(h.dialogs.empty());
        EXPECT_EQ(std::tuple(a.HardwareInitialized, a.ScannerSerial, a.LastSerial, h.dialogs.back(),
                             h.traces.back()),
                  std::tuple(false, "", "QS-2026-0417", "#" + std::to_string(number) + "||1",
                             "Initialization is done!"));
    }
}

TEST_F(SensorApiTest, EarlyStopsShowTheirMessages) {
    // Init_Dll = 2: unusable now, tried again next time.
    lib.initDll = 2;
    api.InitializeHardware();
    EXPECT_THAT(host.dialogs, ElementsAre("#7000||1"));
    EXPECT_EQ(std::tuple(api.DllLoaded, lib.count("Get_IniFileName")), std::tuple(false, 0));
    lib.initDll = 1;  // anything else loads it for good
    api.InitializeHardware();
    EXPECT_TRUE(api.DllLoaded);
    api.CloseHardware();
    api.InitializeHardware();
    EXPECT_EQ(lib.count("Init_Dll"), 2);

    // No INI path.
    Outcome o = initialiseOn([](ScriptedLibrary& l) { l.iniResult = -1; });
    EXPECT_THAT(o.host.dialogs, ElementsAre("#7010||1"));
    EXPECT_EQ(o.lib.count("Get_Paramcount"), 0);

    // No readable set.
    o = initialiseOn([](ScriptedLibrary& l) {
        l = ScriptedLibrary();
        l.paramCount = 2;
    });
    EXPECT_THAT(o.host.dialogs, ElementsAre("#7020||1"));
    EXPECT_EQ(std::tuple(o.host.traces.back(), o.initialised),
              std::tuple("Read Parameters OK", false));

    // The saved set cannot be named: nothing is opened and that result decides the message.
    o = initialiseOn([](ScriptedLibrary& l) { l.addSet(3, "Panoramic", -3); }, 3);
    EXPECT_THAT(o.host.dialogs, ElementsAre("#7020||1", "#7060||1"));
    EXPECT_EQ(std::tuple(o.lib.count("Open_Scanner"), o.initialised, o.host.traces.back()),
              std::tuple(0, false, "Initialization is done!"));
}

TEST_F(SensorApiTest, MakerAndModelAreFoundOncePerProcess) {
    files.removeFile(lib.iniPath);  // the INI file does not exist
    api.InitializeHardware();
    EXPECT_EQ(std::tuple(api.ScannerMaker, api.ScannerModel),
              std::tuple("Wenbrig/Stellan", "Orvane/Quilo"));

    w.put(lib.iniPath, "[Scanner]\nMaker=stellan inc.\n");
    api.CloseHardware();
    host.traces.clear();
    api.InitializeHardware();
    EXPECT_EQ(api.ScannerMaker, "Wenbrig/Stellan");
    EXPECT_THAT(host.traces, ::testing::Contains("Scanner model is: Wenbrig/Stellan Orvane/Quilo"));

    SensorAPI other(lib, files, process, host);
    other.InitializeHardware();
    EXPECT_EQ(std::tuple(other.ScannerMaker, other.ScannerModel),
              std::tuple("Stellan Inc.", "Quilo"));

    w.put(lib.iniPath, "[Scanner]\nMaker=Someone\n");
    SensorAPI third(lib, files, process, host);
    third.ScannerModel = "Custom";
    third.InitializeHardware();
    EXPECT_EQ(std::tuple(third.ScannerMaker, third.ScannerModel),
              std::tuple("Wenbrig Dental GmbH & Co.KG", "Custom"));
}

// With preview (modes 0 and 2) the lines are asked for and the answer traced; the capture tests
// show the progress window's preview.
TEST_F(SensorApiTest, ImportAtOnceTurnsThePreviewLinesOffWithoutATrace) {
    host.noPreviewSetting = 1;
    api.InitializeHardware();
    EXPECT_THAT(lib.prescanModes, ElementsAre(0));
    for (const auto& t : host.traces)
        EXPECT_EQ(t.find("Set_Prescanmode"), std::string::npos);
}

TEST_F(SensorApiTest, TheSerialLosesItsNulsAndBlanks) {
    lib.serialBuffer = std::string("  QS\0-7 \0\0", 10);
    api.InitializeHardware();
    EXPECT_EQ(api.ScannerSerial, "QS-7");

    api.CloseHardware();
    lib.serialResult = -1;
    host.traces.clear();
    api.InitializeHardware();
    EXPECT_EQ(std::tuple(api.ScannerSerial, api.LastSerial), std::tuple("", ""));
    EXPECT_THAT(host.traces, ::testing::Contains("SerialNo = "));
}

TEST_F(SensorApiTest, ClosingKeepsAPreviewWithImagesButClosesTheScanner) {
    api.InitializeHardware();
    api.ScannerActivated = true;
    api.PreviewShown = true;
    host.previewImages = 2;
    api.CloseHardware();

    EXPECT_THAT(boxes(), ElementsAre("Save your images before closing!"));
    EXPECT_EQ(std::tuple(api.PreviewShown, host.previewUnloads, lib.count("Deaktivate_Scanner"),
                         lib.count("Close_Scanner"), api.HardwareInitialized, api.ScannerActivated,
                         host.timerStops),
              std::tuple(true, 0, 1, 1, false, false, 1));

    // An empty preview goes; a closed scanner is not touched again.
    host.previewImages = 0;
    api.CloseHardware();
    EXPECT_EQ(std::tuple(api.PreviewShown, host.previewUnloads, lib.count("Close_Scanner"),
                         host.timerStops),
              std::tuple(false, 1, 1, 2));
}

TEST_F(SensorApiTest, ARunTimeFaultEndsInitialisationWithAMessageBox) {
    // The library cannot be loaded at first; then it loads without a single export.
    w.world.failNth(sim::Fault::LoadLibrary);
    w.world.registerLibrary({"OrvaneEx.dll", {}});
    OrvaneBinding binding(w.proc.libraries());
    SensorAPI a(binding, files, process, host);
    a.InitializeHardware();
    EXPECT_THAT(boxes(), ElementsAre("InitializeHardware error: 53 File not found: OrvaneEx.dll"));
    EXPECT_THAT(host.traces, ElementsAre("Initialization started"));

    a.InitializeHardware();
    EXPECT_EQ(boxes().back(),
              "InitializeHardware error: 453 Can't find DLL entry point Init_Dll in OrvaneEx.dll");
    EXPECT_EQ(std::tuple(a.DllLoaded, a.HardwareInitialized), std::tuple(false, false));
}

TEST(ScannerErrorText, KnowsTheLibraryCodesAndNothingElse) {
    EXPECT_EQ(std::tuple(ScannerErrorText(0), ScannerErrorText(-99), ScannerErrorText(-10001)),
              std::tuple("No error", "OrvaneEx.dll not initialized (call Init_Dll(\"\"))",
                         "There are remaining unreported images while calling close"));
    for (Long unknown : {1, -8, -98, -199, -201, -1012, -9999, -10002, INT32_MIN})
        EXPECT_EQ(ScannerErrorText(unknown), "Unknown Error") << unknown;
}

}  // namespace
}  // namespace quilo::scanner
