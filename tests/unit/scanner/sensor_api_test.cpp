#include "scanner/sensor_api.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
    // A SensorAPI of its own on a copy of `l` (no calls counted yet), initialised with the
    // saved set `savedSet` (0: none).
    Outcome initialiseOn(ScriptedLibrary l, Long savedSet = 0) {
        Outcome o{std::move(l), {}, false, {}};
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
    EXPECT_THAT(lib.opened, ElementsAre(1));
    EXPECT_THAT(lib.prescanModes, ElementsAre(256));
    ASSERT_EQ(api.Sensors.count(), 4u);
    EXPECT_EQ(api.Sensors.find("K3")->ParamName, "Panoramic 15x30");
    EXPECT_EQ(api.Sensors.find("k4")->OrdinalNo, 4);
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
    // No tool flag anywhere: the first sensor is shown and set 1 opened.
    api.InitializeHardware();
    EXPECT_TRUE(api.Sensors.item(1)->bShowAsTool);
    EXPECT_FALSE(api.Sensors.item(2)->bShowAsTool);
    EXPECT_THAT(lib.opened, ElementsAre(1));

    // The panoramic set is a tool: with no saved set it becomes the current one.
    SensorAPI second(lib, files, process, host);
    host.machineSettings["Devices\\Panoramic 15x30_AsTool"] = "1";
    host.machineSettings["Devices\\Cephalometric 24x30_AsTool"] = "1";
    second.InitializeHardware();
    EXPECT_EQ(second.CurrentParamSetNr(), 3);
    EXPECT_EQ(second.CurrentImageType(), kPanoramic);
    EXPECT_FALSE(second.Sensors.item(1)->bShowAsTool);
    EXPECT_EQ(lib.opened.back(), 3);

    // A saved set number wins; its image type stays as loaded with the settings.
    SensorAPI third(lib, files, process, host);
    third.CurrentParamSetNr() = 4;
    third.CurrentImageType() = kCephalometric;
    host.machineSettings["Devices\\Panoramic 15x30_AsTool"] = "0";
    third.InitializeHardware();
    EXPECT_EQ(third.CurrentParamSetNr(), 4);
    EXPECT_EQ(third.CurrentParamSet(), "Cephalometric 24x30");
    EXPECT_EQ(third.CurrentImageType(), kCephalometric);
    EXPECT_EQ(lib.opened.back(), 4);
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
    EXPECT_EQ(record.nr, 1);
    EXPECT_EQ(record.name, "Intraoral size 2");
    EXPECT_EQ(&api.CurrentParamSetNr(), &record.nr);
    EXPECT_THAT(lib.opened, ElementsAre(3, 1));
}

TEST_F(SensorApiTest, ACallWhileOpenOnlyTracesAndAnInactiveScannerClosesWithoutDeactivation) {
    api.InitializeHardware();
    const auto callsBefore = lib.calls.size();
    host.traces.clear();
    host.stopRequested = true;

    api.InitializeHardware();
    EXPECT_THAT(host.traces,
                ElementsAre("Initialization started", "No need to Initialize, already done."));
    EXPECT_FALSE(host.stopRequested);
    EXPECT_EQ(lib.calls.size(), callsBefore);
    EXPECT_TRUE(api.HardwareInitialized);
    // Opened but never activated: closed without a deactivation.
    api.CloseHardware();
    EXPECT_EQ(std::pair(lib.count("Deaktivate_Scanner"), lib.count("Close_Scanner")),
              std::pair(0, 1));
}

TEST_F(SensorApiTest, AlreadyOpenCountsAsOpenButKeepsTheSerial) {
    api.ScannerSerial = "EARLIER";
    lib.openResults = {-7};
    api.InitializeHardware();

    EXPECT_TRUE(api.HardwareInitialized);
    EXPECT_EQ(api.ScannerSerial, "EARLIER");
    EXPECT_EQ(lib.count("Get_Serialnumber"), 0);
    EXPECT_THAT(lib.prescanModes, ElementsAre(256));
    EXPECT_THAT(host.dialogs, IsEmpty());
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
    EXPECT_THAT(lib.opened, ElementsAre(9, 1));
    EXPECT_EQ(api.CurrentParamSetNr(), 1);
    EXPECT_EQ(api.CurrentParamSet(), "Intraoral size 2");
    EXPECT_TRUE(api.HardwareInitialized);

    // When set 1 cannot be named either, its name is "-" and the second result counts.
    ScriptedLibrary other;
    other.addSet(1, "x", -3);
    other.addSet(2, "Intraoral");
    other.openResults = {-2, -2};
    const Outcome o = initialiseOn(other, 2);
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
        EXPECT_FALSE(a.HardwareInitialized);
        EXPECT_EQ(a.ScannerSerial, "");
        EXPECT_EQ(a.LastSerial, "QS-2026-0417");
        ASSERT_FALSE(h.dialogs.empty());
        EXPECT_EQ(h.dialogs.back(), "#" + std::to_string(number) + "||1");
        EXPECT_EQ(h.traces.back(), "Initialization is done!");
    }
}

TEST_F(SensorApiTest, EarlyStopsShowTheirMessages) {
    // Init_Dll = 2: unusable now, tried again next time.
    lib.initDll = 2;
    api.InitializeHardware();
    EXPECT_THAT(host.dialogs, ElementsAre("#7000||1"));
    EXPECT_FALSE(api.DllLoaded);
    EXPECT_EQ(lib.count("Get_IniFileName"), 0);
    lib.initDll = 1;  // anything else loads it for good
    api.InitializeHardware();
    EXPECT_TRUE(api.DllLoaded);
    api.CloseHardware();
    api.InitializeHardware();
    EXPECT_EQ(lib.count("Init_Dll"), 2);

    // No INI path.
    ScriptedLibrary noIni = lib;
    noIni.iniResult = -1;
    Outcome o = initialiseOn(noIni);
    EXPECT_THAT(o.host.dialogs, ElementsAre("#7010||1"));
    EXPECT_EQ(o.lib.count("Get_Paramcount"), 0);

    // No readable set.
    ScriptedLibrary none;
    none.paramCount = 2;
    o = initialiseOn(none);
    EXPECT_THAT(o.host.dialogs, ElementsAre("#7020||1"));
    EXPECT_EQ(o.host.traces.back(), "Read Parameters OK");
    EXPECT_FALSE(o.initialised);

    // The saved set cannot be named: nothing is opened and that result decides the message.
    ScriptedLibrary unnamed = lib;
    unnamed.addSet(3, "Panoramic", -3);
    o = initialiseOn(unnamed, 3);
    EXPECT_THAT(o.host.dialogs, ElementsAre("#7020||1", "#7060||1"));
    EXPECT_EQ(o.lib.count("Open_Scanner"), 0);
    EXPECT_FALSE(o.initialised);
    EXPECT_EQ(o.host.traces.back(), "Initialization is done!");
}

TEST_F(SensorApiTest, MakerAndModelAreFoundOncePerProcess) {
    files.removeFile(lib.iniPath);  // the INI file does not exist
    api.InitializeHardware();
    EXPECT_EQ(api.ScannerMaker, "Wenbrig/Stellan");
    EXPECT_EQ(api.ScannerModel, "Orvane/Quilo");

    w.put(lib.iniPath, "[Scanner]\nMaker=stellan inc.\n");
    api.CloseHardware();
    host.traces.clear();
    api.InitializeHardware();
    EXPECT_EQ(api.ScannerMaker, "Wenbrig/Stellan");
    EXPECT_THAT(host.traces, ::testing::Contains("Scanner model is: Wenbrig/Stellan Orvane/Quilo"));

    SensorAPI other(lib, files, process, host);
    other.InitializeHardware();
    EXPECT_EQ(other.ScannerMaker, "Stellan Inc.");
    EXPECT_EQ(other.ScannerModel, "Quilo");

    w.put(lib.iniPath, "[Scanner]\nMaker=Someone\n");
    SensorAPI third(lib, files, process, host);
    third.ScannerModel = "Custom";
    third.InitializeHardware();
    EXPECT_EQ(third.ScannerMaker, "Wenbrig Dental GmbH & Co.KG");
    EXPECT_EQ(third.ScannerModel, "Custom");
}

TEST_F(SensorApiTest, PreviewModeFollowsTheNoPreviewSetting) {
    host.noPreviewSetting = 1;
    api.InitializeHardware();
    EXPECT_THAT(lib.prescanModes, ElementsAre(0));
    for (const auto& t : host.traces)
        EXPECT_EQ(t.find("Set_Prescanmode"), std::string::npos);

    api.CloseHardware();
    host.noPreviewSetting = 2;
    lib.prescanResult = -5;
    api.InitializeHardware();
    EXPECT_THAT(lib.prescanModes, ElementsAre(0, 256));
    EXPECT_THAT(host.traces, ::testing::Contains("Set_Prescanmode(256) returned: -5"));
}

TEST_F(SensorApiTest, TheSerialLosesItsNulsAndBlanks) {
    lib.serialBuffer = std::string("  QS\0-7 \0\0", 10);
    api.InitializeHardware();
    EXPECT_EQ(api.ScannerSerial, "QS-7");

    api.CloseHardware();
    lib.serialResult = -1;
    host.traces.clear();
    api.InitializeHardware();
    EXPECT_EQ(api.ScannerSerial, "");
    EXPECT_EQ(api.LastSerial, "");
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
    EXPECT_FALSE(api.PreviewShown);
    EXPECT_EQ(host.previewUnloads, 1);
    EXPECT_EQ(lib.count("Close_Scanner"), 1);
    EXPECT_EQ(host.timerStops, 2);
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
    EXPECT_FALSE(a.DllLoaded);
    EXPECT_FALSE(a.HardwareInitialized);
}

TEST(ScannerErrorText, KnowsTheLibraryCodesAndNothingElse) {
    EXPECT_EQ(ScannerErrorText(0), "No error");
    EXPECT_EQ(ScannerErrorText(-99), "OrvaneEx.dll not initialized (call Init_Dll(\"\"))");
    EXPECT_EQ(ScannerErrorText(-10001),
              "There are remaining unreported images while calling close");
    for (Long unknown : {1, -8, -98, -199, -201, -1012, -9999, -10002, INT32_MIN})
        EXPECT_EQ(ScannerErrorText(unknown), "Unknown Error") << unknown;
}

}  // namespace
}  // namespace quilo::scanner
