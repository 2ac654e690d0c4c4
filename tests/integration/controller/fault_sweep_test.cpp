// Every call that can fail, failed in turn: each operation of the simulated Windows and each
// error the scanner library can return, in initialisation, a capture, a capture into the preview
// window and the setup dialog. After each run nothing is left behind, every plate the scanner
// handed over reached the host or is still kept, and a run that ended differently said why.
#include <cstdlib>
#include <set>

#include "plugin_world.h"
#include "settings/dialogs/frm_setup.h"
#include "trace/trace.h"

namespace quilo::test {
namespace {

// A scenario is run once to count the calls of one kind, then again with the 1st, the 2nd, ...
// the Nth of those calls failed, and each run is judged against the run without a fault. The
// calls to fail: all of them when QUILO_SWEEP=full (the nightly run), else the first, the last
// and every k-th, k chosen so that at most `sampled` are run.
std::vector<int> faultPoints(int calls, int sampled) {
    const char* mode = std::getenv("QUILO_SWEEP");
    const bool full = mode != nullptr && std::string(mode) == "full";
    const int step = full || calls <= sampled ? 1 : (calls + sampled - 3) / (sampled - 2);
    std::vector<int> points;
    for (int n = 1; n <= calls; n += step)
        points.push_back(n);
    if (!points.empty() && points.back() != calls) points.push_back(calls);
    return points;
}

struct Kind {
    const char* name;                 // of the operation, or of the scanner library's export
    std::optional<sim::Fault> fault;  // the operation of the simulated Windows that fails,
    std::int32_t result;              // or what the export returns
};

// The operations of the simulated Windows, in the order of sim::Fault.
const char* const kOperations[] = {"GlobalAlloc",    "GlobalLock",    "FileWrite",
                                   "FileCreate",     "MailslotWrite", "MailslotCreate",
                                   "RegistryCreate", "RegistrySet",   "PostMessage",
                                   "SendMessage",    "LoadLibrary",   "CreateWindow"};
static_assert(std::size(kOperations) == static_cast<std::size_t>(sim::Fault::Count),
              "every operation the simulated Windows can fail is swept");

// Every error code the road treats in its own way, and one it does not know, per export. Not
// -6 from Aktivate_Scanner: it says the scanner is active, which a scripted failure is not.
const std::pair<const char*, std::vector<std::int32_t>> kScannerErrors[] = {
    {"Init_Dll", {2}},
    {"Get_IniFileName", {-1}},
    {"Get_Paramcount", {0}},
    {"Get_Paramname", {-3}},
    {"Open_Scanner", {-1, -2, -3, -7, -100, -101, -102, -1001, -1007, -1010, -99}},
    {"Set_Prescanmode", {-4}},
    {"Get_Serialnumber", {-1}},
    {"Get_DriverVersion", {-1}},
    {"Set_ImageExtraHeader", {-4}},
    {"Aktivate_Scanner", {-4, -1009, -1010, -10000, -99}},
    {"Get_Status", {-200, -5}},
    {"GetPrescanImage", {-1, -90}},
    {"ClearPrescanImage", {-4}},
    {"Get_ImageName", {0}},
    {"Get_ImageInfo", {-1}},
    {"GetRawImage", {-90, -102}},
    {"Delete_Image", {-2}},
    {"Deaktivate_Scanner", {-4}},
    {"Close_Scanner", {-10001, -4}}};

std::vector<Kind> allKinds() {
    std::vector<Kind> kinds;
    for (std::size_t f = 0; f < std::size(kOperations); ++f)
        kinds.push_back({kOperations[f], static_cast<sim::Fault>(f), 0});
    for (const auto& [name, results] : kScannerErrors)
        for (const std::int32_t result : results)
            kinds.push_back({name, std::nullopt, result});
    return kinds;
}

// The host acknowledges every image it has received.
void acknowledgeAll(PluginSession& s) {
    for (const Bytes& image : s.images())
        s.acknowledge(le32At(image, 4));
}

void waitFor(PluginSession& s, const std::function<bool()>& done) {
    for (int i = 0; i < 100 && !done(); ++i)
        s.world.advance(100);
}

// The user presses OK in the setup dialog once it is on the screen.
void pressOkWhenShown(PluginSession& s, int tries) {
    auto* f =
        s.plugin ? dynamic_cast<settings::frmSetup*>(s.plugin->forms().find("frmSetup")) : nullptr;
    if (f != nullptr && f->visible()) return (void)f->OKButton.click();
    if (tries > 0) s.world.after(5, [&s, tries] { pressOkWhenShown(s, tries - 1); });
}

struct Scenario {
    const char* name;
    void (*run)(PluginSession&);
};

const Scenario kScenarios[] = {
    {"Initialisation", [](PluginSession& s) { s.launch(); }},
    {"CaptureOfThree",
     [](PluginSession& s) {
         if (!s.launch()) return;
         s.activate(1);
         waitFor(s, [&] { return s.images().size() >= 3; });
         acknowledgeAll(s);
     }},
    {"PreviewSaveImages",
     [](PluginSession& s) {
         if (!s.launch(0)) return;
         s.activate(1);
         waitFor(s, [&] {
             return !s.alive() || (!s.main().scanInProgress() && s.prescanImages() == 3);
         });
         if (auto* window = s.prescan()) window->Command1.click();
         s.world.advance(100);
         acknowledgeAll(s);
     }},
    {"SetupOk",
     [](PluginSession& s) {
         if (!s.launch()) return;
         s.world.after(5, [&s] { pressOkWhenShown(s, 200); });
         s.main().doSetup();
         s.world.advance(100);
     }},
};

struct Outcome {
    int calls = 0;                    // calls of the kind under test
    std::string ending;               // empty when the plug-in ended normally
    std::size_t delivered = 0;        // images the host received
    std::set<std::string> told;       // message boxes, dialogs and trace lines
    std::vector<std::string> faults;  // what the sweep cannot accept
};

Outcome runOnce(const Scenario& scenario, const Kind& kind, int nth) {
    PluginSession s;
    Outcome o;
    s.smallQuickPlates(3, nth > 0 && !kind.fault
                              ? std::string(kind.name) + ":" + std::to_string(nth) + ":" +
                                    std::to_string(kind.result)
                              : std::string());
    trace::Trace viewer(s.hostProcess->mailslots(), s.hostProcess->clock(),
                        s.hostProcess->process());
    viewer.TraceOpen(true);
    // Only the plug-in's calls fail: the host and the trace viewer are not under test.
    std::size_t before = 0;
    s.onProcessCreated = [&] {
        s.world.faultsOnlyIn(s.pluginProcess);
        // Without the scanner the plug-in would capture this file instead: the sweep counts
        // the scanner's plates only.
        std::filesystem::remove(s.world.nativePath(std::string(kProgramFolder) + "\\Test.tif"));
        if (!kind.fault) return;
        before = s.world.calls(*kind.fault);
        if (nth > 0) s.world.failNth(*kind.fault, nth);
    };
    try {
        scenario.run(s);
        if (s.alive()) s.sendHandle(testhost::kShutdownPlugin);
        if (s.plugin && !s.plugin->ended()) o.ending = "still running after ShutdownPlugin";
    } catch (const std::exception& e) {
        o.ending = std::string("exception: ") + e.what();
        o.faults.push_back("an exception left the plug-in (a crash): " + std::string(e.what()));
    }
    const std::string data =
        s.plugin ? s.plugin->settings().names().PluginDataFolder : std::string();
    s.plugin.reset();  // the end of the process: unacknowledged images are offered for saving
    o.calls = kind.fault ? static_cast<int>(s.world.calls(*kind.fault) - before)
                         : (s.library ? s.library->device().calls(kind.name) : 0);
    if (kind.fault) s.world.failAlways(*kind.fault, false);  // a fault not reached goes
    const auto count = [&](const std::string& folder, const char* prefix, const char* ext) {
        return filesIn(s.world.nativePath(folder), prefix, ext).size();
    };
    o.delivered = s.images().size();
    // Plates by name, and how many hand-overs: a plate whose deletion failed is read again.
    std::size_t handed = 0, handOvers = 0;
    if (s.library) {
        for (const auto& [name, times] : s.library->device().handedOver()) {
            ++handed;
            handOvers += static_cast<std::size_t>(times);
        }
    }
    const std::size_t spooled = count(data + "\\Spool", "PLATE", ".tif");
    const std::size_t saved = count(s.tempFolder(), "IMG", ".tif");
    if (handed > o.delivered + spooled + saved || o.delivered > handOvers)
        o.faults.push_back("plates handed over " + std::to_string(handed) + ", delivered " +
                           std::to_string(o.delivered) + ", in the spool " +
                           std::to_string(spooled) + ", saved at the end " + std::to_string(saved));
    if (count(data + "\\Spool", "PLATE", ".part") != 0) o.faults.push_back("a spool .part file");
    for (const auto& box :
         s.pluginProcess ? s.pluginProcess->messageBoxes() : std::vector<sim::MessageBoxRecord>{})
        o.told.insert(box.text);
    o.told.insert(s.dialogs.begin(), s.dialogs.end());
    for (const std::string& line :
         trace::TraceReader(s.hostProcess->mailslots(), viewer.handle()).readAll())
        o.told.insert(line.substr(line.find(']') + 1));
    for (std::string& left : s.leftBehind())
        o.faults.push_back(std::move(left));
    viewer.TraceClose();
    return o;
}

using Point = std::tuple<Scenario, Kind>;
class FaultSweep : public ::testing::TestWithParam<Point> {};

// One run with a fault, judged against the run without one.
void judge(const Outcome& clean, const Outcome& o) {
    for (const std::string& f : o.faults)
        ADD_FAILURE() << f;
    if (o.ending == clean.ending && o.delivered == clean.delivered) return;
    // It went otherwise than without the fault: the user or the trace was told something that a
    // run without it does not say.
    const bool said =
        std::ranges::any_of(o.told, [&](const std::string& t) { return !clean.told.contains(t); });
    EXPECT_TRUE(said) << "silent: " << o.ending << "; " << o.delivered << " of " << clean.delivered
                      << " images";
}

TEST_P(FaultSweep, NothingLostLeakedOrUnsaid) {
    const auto& [scenario, kind] = GetParam();
    const Outcome clean = runOnce(scenario, kind, 0);
    judge(clean, clean);
    for (const int n : faultPoints(clean.calls, 12)) {
        SCOPED_TRACE("call " + std::to_string(n) + " of " + std::to_string(clean.calls));
        judge(clean, runOnce(scenario, kind, n));
    }
}

std::string pointName(const ::testing::TestParamInfo<Point>& info) {
    const auto& [scenario, kind] = info.param;
    std::string name = std::string(scenario.name) + "_" + kind.name;
    if (!kind.fault)
        name += kind.result < 0 ? "_m" + std::to_string(-kind.result)
                                : "_" + std::to_string(kind.result);
    return name;
}

INSTANTIATE_TEST_SUITE_P(Road, FaultSweep,
                         ::testing::Combine(::testing::ValuesIn(kScenarios),
                                            ::testing::ValuesIn(allKinds())),
                         pointName);

}  // namespace
}  // namespace quilo::test
