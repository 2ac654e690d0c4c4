// The trace viewer in the simulated world: a plug-in process writes, the viewer process reads
// through its own reading end, filters, counts and stops.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/sim/world.h"
#include "trace/trace.h"
#include "viewer.h"

namespace quilo::tools {
namespace {

TEST(ViewerArgs, ParsesEveryOptionAndRefusesBadOnes) {
    auto o = parseViewerArgs(
        {"--filter", "Error:", "--count", "12", "--quiet-ms", "500", "--out", "C:\\t.txt"});
    ASSERT_TRUE(o);
    EXPECT_EQ(std::tuple(o->filter, o->maxLines, o->quietMs, o->outFile, o->help),
              std::tuple("Error:", 12u, 500u, "C:\\t.txt", false));
    EXPECT_TRUE(parseViewerArgs({"/?"})->help);
    EXPECT_FALSE(parseViewerArgs({"--count", "12x"}));
    EXPECT_FALSE(parseViewerArgs({"--count"}));
    EXPECT_FALSE(parseViewerArgs({"--colour"}));
    EXPECT_FALSE(parseViewerArgs({"--quiet-ms", "-1"}));
}

class ViewerWorld : public ::testing::Test {
  protected:
    sim::World world;
    sim::SimProcess& viewerProc = world.createProcess();
    sim::SimProcess& plugin = world.createProcess();
    trace::Trace writer{plugin.mailslots(), plugin.clock(), plugin.process()};
};

TEST_F(ViewerWorld, PrintsFilteredLinesAsTheyArriveAndStopsAtTheCount) {
    ViewerOptions o;
    o.filter = "error";
    o.maxLines = 2;
    TraceViewer viewer(viewerProc.mailslots(), viewerProc.clock(), viewerProc.process(), o);
    EXPECT_FALSE(writer.TraceOpen(false));  // no reading end yet: the writer stays disabled
    ASSERT_TRUE(viewer.open());
    ASSERT_TRUE(writer.TraceOpen(false));
    std::ostringstream out;
    writer.TraceLine("clsPlugin: Class_Initialize:App:QuiloPlugin");
    writer.TraceLine("Error:clsPlugin:Command FIFO full.");
    EXPECT_EQ(viewer.poll(out), 1u);
    EXPECT_EQ(out.str(), "[1000]Error:clsPlugin:Command FIFO full.\n");
    EXPECT_FALSE(viewer.finished());
    world.advance(5);
    writer.TraceLine("ERROR: one");
    writer.TraceLine("Error: two");
    EXPECT_EQ(viewer.poll(out), 1u);
    EXPECT_TRUE(viewer.finished());
    EXPECT_EQ(out.str(), "[1000]Error:clsPlugin:Command FIFO full.\n[1005]ERROR: one\n");
}

TEST_F(ViewerWorld, QuietTimeEndsTheViewerAndASecondReaderIsRefusedWithAMessage) {
    ViewerOptions o;
    o.quietMs = 1000;
    TraceViewer viewer(viewerProc.mailslots(), viewerProc.clock(), viewerProc.process(), o);
    ASSERT_TRUE(viewer.open());
    ASSERT_TRUE(writer.TraceOpen(false));
    std::ostringstream out;
    world.advance(900);
    writer.TraceLine("still here");
    EXPECT_EQ(viewer.poll(out), 1u);
    world.advance(999);
    viewer.poll(out);
    EXPECT_FALSE(viewer.finished());
    world.advance(1);
    viewer.poll(out);
    EXPECT_TRUE(viewer.finished());

    // The mailslot exists already: a second viewer cannot create it and says so.
    auto& other = world.createProcess();
    TraceViewer second(other.mailslots(), other.clock(), other.process(), {});
    EXPECT_FALSE(second.open());
    ASSERT_EQ(other.messageBoxes().size(), 1u);
    EXPECT_EQ(
        other.messageBoxes()[0].text.rfind("Error: Can't open mailslot.\r\n(Win32 errcode:", 0),
        0u);
}

}  // namespace
}  // namespace quilo::tools
