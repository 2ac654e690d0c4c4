// The log: the main form's log box and the log file beside the program.
#include <gtest/gtest.h>

#include "platform/sim/world.h"
#include "support/bytes.h"
#include "support/errors.h"
#include "trace/log.h"

namespace quilo::trace {
namespace {

class Forms final : public FormRegistry {
  public:
    std::vector<std::string> loadedFormNames() const override { return names; }
    std::vector<std::string> names;
};

class Box final : public LogBox {
  public:
    bool formVisible() const override { return visible; }
    std::string text() const override { return content; }
    void setText(std::string t) override { content = std::move(t); }
    bool visible = false;
    std::string content;
};

class LogTest : public ::testing::Test {
  protected:
    std::string fileText() {
        const auto bytes = platform::readWholeFile(p.files(), log.logFilePath(), 1 << 20);
        return bytes ? test::textOf(*bytes) : "<none>";
    }
    sim::World world;
    sim::SimProcess& p = world.createProcess();
    Forms forms;
    Box box;
    Log log{p.files(), p.clock(), forms};
    bool visibleMode = false;
};

// A hidden main form with the visible mode off writes nothing; a visible one gets the newest
// line on top.
TEST_F(LogTest, OnlyAVisibleMainFormGetsTheLinesNewestOnTop) {
    const Registration logBox = log.attachLogBox(box);
    log.setVisibleMode([&] { return visibleMode; });
    forms.names = {"frmMain"};
    box.content = "old";
    log.LogMsg("Plugin started --------------------------");
    EXPECT_EQ(std::pair(box.content, fileText()),
              std::pair(std::string("old"), std::string("<none>")));
    box.visible = true;
    forms.names = {"frmMai", "frmSetup"};  // the main form not loaded yet
    log.LogMsg("not loaded yet");
    EXPECT_EQ(box.content, "old");
    forms.names = {"frmAbout", "FRMMAIN"};  // in any letter case
    log.LogMsg("  first  ");
    log.LogMsg("second");
    EXPECT_EQ(box.content, "second\r\nfirst\r\nold");
}

TEST_F(LogTest, VisibleModeAppendsStampedAnsiLinesBesideTheProgram) {
    log.setVisibleMode([&] { return visibleMode; });
    visibleMode = true;
    EXPECT_EQ(log.logFilePath(), "C:\\Program Files\\Kelvora\\Quilo\\QuiloPlugin.log");
    log.LogMsg("Plugin started");
    world.advance(61'000);
    log.LogMsg(
        "Gr\xC3\xB6\xC3\x9F"
        "e");
    EXPECT_EQ(fileText(),
              "2026-12-06 09:00:00 Plugin started\r\n2026-12-06 09:01:01 Gr\xF6\xDF"
              "e\r\n");
    EXPECT_EQ(world.live().handles, 0u);  // the file is closed between messages
}

TEST_F(LogTest, AFileThatCannotBeOpenedRaisesIntoTheCaller) {
    log.setVisibleMode([] { return true; });
    world.failNth(sim::Fault::FileCreate);
    EXPECT_EQ(test::errorNumber([&] { log.LogMsg("x"); }), 75);
    log.LogMsg("y");  // the next one works
    EXPECT_NE(fileText().find(" y\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quilo::trace
