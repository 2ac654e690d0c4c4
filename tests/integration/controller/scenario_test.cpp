// The test host's scripted sessions, run against the plug-in in the simulated world: the same
// checks TestHost.exe makes under Wine, here on the virtual clock. Test mode and the watchdog
// have their own tests (lifecycle_test.cpp).
#include "test-host/scenario.h"
#include "demo/install.h"
#include "plugin_world.h"
#include "ui/prescan/frm_prescan.h"

namespace quilo::test {
namespace {

using SimLauncher = demo::WorldLauncher;

class Scenarios : public PluginWorld {
  protected:
    int run(const std::function<int(testhost::Scenario&)>& body) {
        SimLauncher launcher(world);
        testhost::Scenario scenario(*host, launcher,
                                    [this](const std::string& line) { log += line + "\n"; });
        return body(scenario);
    }
    std::string log;
};

TEST_F(Scenarios, Lifecycle) {
    testhost::Expectations e;
    e.productText = "Quilo Plugin ver: 1.0(.0)";
    e.programPath = std::string(kProgramFolder) + "\\QuiloPlugin.exe";
    e.sets = {{"Intraoral size 2", 1, true},
              {"Intraoral size 2 PERIO", 1, false},
              {"Panoramic 15x30", 4, false},
              {"Cephalometric 24x30", 5, false}};
    e.maker = "Stellan Inc.";
    e.model = "Quilo";
    e.serial = "QS-2026-0417";
    EXPECT_EQ(run([&](testhost::Scenario& s) { return s.lifecycle(e); }), 0) << log;
    EXPECT_NE(log.find("ok 33 - the plug-in's window is gone"), std::string::npos) << log;
}

TEST_F(Scenarios, CaptureOfThreePlatesTwoAcknowledged) {
    testhost::Scenario::CaptureRun plates;
    plates.acknowledge = 2;
    plates.text1 = "Intraoral size 2 (#1)";
    EXPECT_EQ(run([&](testhost::Scenario& s) { return s.capture(plates); }), 0) << log;
    // The third image was offered for saving when the plug-in ended, and saved.
    EXPECT_TRUE(std::filesystem::exists(
        world.nativePath("C:\\Users\\clinic\\AppData\\Local\\Temp\\IMG00000.tif")));
}

// The preview window through the forms model: a click toggles a thumbnail, a button clicks.
class ModelPreview final : public testhost::PreviewDriver {
  public:
    ModelPreview(sim::World& world, SimLauncher& launcher) : world_(world), launcher_(launcher) {}
    bool waitWindow(std::uint32_t timeoutMs) override {
        for (std::uint32_t t = 0; window() == nullptr && t < timeoutMs; t += 10)
            world_.advance(10);
        return window() != nullptr;
    }
    int thumbnails() override { return window() != nullptr ? window()->ImgList.count() : 0; }
    bool clickThumbnail(int i) override {
        return window() != nullptr && window()->ImgList.toggleItem(i);
    }
    bool clickButton(const std::string& caption) override {
        if (window() == nullptr || window()->Command1.caption() != caption) return false;
        window()->Command1.click();
        return true;
    }
    void screenshot(const std::string&) override {}

  private:
    ui::frmPrescan* window() {
        controller::PluginProcess* p = launcher_.last();
        forms::Form* f = p != nullptr ? p->forms().find("frmPrescan") : nullptr;
        return f != nullptr && f->visible() ? static_cast<ui::frmPrescan*>(f) : nullptr;
    }
    sim::World& world_;
    SimLauncher& launcher_;
};

TEST_F(Scenarios, PreviewTheFirstAndTheThirdChosen) {
    SimLauncher launcher(world);
    testhost::Scenario scenario(*host, launcher,
                                [this](const std::string& line) { log += line + "\n"; });
    ModelPreview ui(world, launcher);
    testhost::Scenario::CaptureRun plates;
    plates.text1 = "Intraoral size 2 (#1)";
    EXPECT_EQ(scenario.preview(plates, ui), 0) << log;
}

}  // namespace
}  // namespace quilo::test
