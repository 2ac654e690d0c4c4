// The trace module in the test world: the line on the wire as a reader in another process gets
// it, the open and disable rules, and the reader of the viewer.
#include <gtest/gtest.h>

#include "support/bytes.h"
#include "support/world.h"
#include "support/wrappers.h"
#include "trace/trace.h"

namespace quilo::trace {
namespace {

using platform::Handle;
using test::textOf;
constexpr const char* kReadingName = "\\\\.\\mailslot\\Kelvo.ra2\\Xray.Ifc\\Plugin.Trc";

// The plug-in's mailslots, remembering the names it opened and created.
struct NamedSlots : test::MailslotsWrapper {
    using MailslotsWrapper::MailslotsWrapper;
    Handle createMailslot(std::string_view n, std::uint32_t bytes, std::uint32_t ms) override {
        created.push_back(std::string(n) + " " + std::to_string(bytes) + " " + std::to_string(ms));
        return MailslotsWrapper::createMailslot(n, bytes, ms);
    }
    Handle openMailslot(std::string_view n) override {
        opened.emplace_back(n);
        return MailslotsWrapper::openMailslot(n);
    }
    std::vector<std::string> created, opened;
};

// A clock standing at the tick the test sets.
struct SetClock : test::ClockWrapper {
    using ClockWrapper::ClockWrapper;
    std::uint32_t tickCount() override { return tick; }
    std::uint32_t tick = 1000;
};

class TraceTest : public ::testing::Test {
  protected:
    // What the viewer's reading end holds now.
    std::vector<std::string> received() {
        std::vector<std::string> out;
        while (auto m = viewer.mailslots().read(readingEnd))
            out.push_back(textOf(*m));
        return out;
    }
    test::TestWorld w;
    sim::SimProcess& viewer = w.world.createProcess();
    Handle readingEnd = viewer.mailslots().createMailslot(kReadingName, 400, 0);
    NamedSlots slots{w.proc.mailslots()};
    SetClock clock{w.proc.clock()};
    Trace trace{slots, clock, w.proc.process()};
};

TEST_F(TraceTest, WritingEndUsesTheBroadcastNameAndStampsEachLine) {
    ASSERT_TRUE(trace.TraceOpen(false));
    EXPECT_EQ(
        std::tuple(slots.opened, slots.created.size()),
        std::tuple(std::vector<std::string>{"\\\\*\\mailslot\\Kelvo.ra2\\Xray.Ifc\\Plugin.Trc"},
                   0u));

    clock.tick = 123456;
    trace.TraceLine("clsPlugin: Class_Initialize:App:QuiloPlugin");
    // The tick counter is printed as a signed 32-bit number once it passes 2^31.
    clock.tick = 0xFFFFFFFEu;
    trace.TraceLine("");
    // Text goes out in the ANSI code page.
    clock.tick = 5;
    trace.TraceLine(
        "Gr\xC3\xB6\xC3\x9F"
        "e");
    using namespace std::string_literals;
    EXPECT_EQ(received(), (std::vector<std::string>{
                              "[123456]clsPlugin: Class_Initialize:App:QuiloPlugin\0"s, "[-2]\0"s,
                              "[5]Gr\xF6\xDF"
                              "e\0"s}));
}

TEST_F(TraceTest, LinesAreCutTo399CharactersPlusTheNul) {
    ASSERT_TRUE(trace.TraceOpen(false));
    clock.tick = 1234567890;                 // "[1234567890]" is 12 characters
    trace.TraceLine(std::string(383, 'm'));  // 395 characters stamped
    trace.TraceLine(std::string(387, 'm'));  // exactly 399
    trace.TraceLine(std::string(438, 'm'));  // 450: cut
    const auto got = received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(std::tuple(got[0].size(), got[1].size(), got[2]),
              std::tuple(396u, 400u, "[1234567890]" + std::string(387, 'm') + '\0'));
    EXPECT_EQ(textOf(buildTraceLine(1234567890, std::string(438, 'm'))), got[2]);
}

TEST_F(TraceTest, SecondOpenKeepsTheHandleAndFailedWritesDisableUntilReopened) {
    ASSERT_TRUE(trace.TraceOpen(false));
    const Handle first = trace.handle();
    EXPECT_FALSE(trace.TraceOpen(false));
    EXPECT_FALSE(trace.TraceOpen(true));
    EXPECT_EQ(std::tuple(trace.handle(), slots.opened.size()), std::tuple(first, 1u));
    const auto open = w.world.live();

    w.world.failNth(sim::Fault::MailslotWrite);
    trace.TraceLine("lost");
    EXPECT_TRUE(trace.isDisabled());
    trace.TraceLine("not even tried");
    EXPECT_TRUE(received().empty());

    trace.TraceClose();
    EXPECT_EQ(
        std::tuple(w.world.live().handles, trace.handle(), trace.isDisabled(), trace.isOpen()),
        std::tuple(open.handles - 1, Trace::kClosedHandle, false, false));
    // A write against the closed handle fails and disables again, silently.
    trace.TraceLine("after close");
    EXPECT_EQ(std::tuple(received().size(), trace.isDisabled(), w.proc.messageBoxes().size()),
              std::tuple(0u, true, 0u));
    // A successful open clears the disabled state.
    ASSERT_TRUE(trace.TraceOpen(false));
    trace.TraceLine("back");
    EXPECT_EQ(received().size(), 1u);
}

TEST_F(TraceTest, FailedOpenOfTheWritingEndIsSilentTheReadingEndSaysSo) {
    w.world.failAlways(sim::Fault::MailslotCreate);
    EXPECT_FALSE(trace.TraceOpen(false));
    EXPECT_EQ(std::tuple(trace.isDisabled(), w.proc.messageBoxes().size()), std::tuple(true, 0u));
    trace.TraceLine("nothing");
    EXPECT_TRUE(received().empty());

    EXPECT_FALSE(trace.TraceOpen(true));
    const auto& boxes = w.proc.messageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    // Error 5: access denied.
    EXPECT_EQ(std::tuple(boxes[0].text, boxes[0].style),
              std::tuple("Error: Can't open mailslot.\r\n(Win32 errcode:5)",
                         platform::mb::kIconExclamation));

    w.world.failAlways(sim::Fault::MailslotCreate, false);
    viewer.mailslots().close(readingEnd);  // the plug-in's own reading end takes the name
    ASSERT_TRUE(trace.TraceOpen(true));
    ASSERT_EQ(slots.created.size(), 2u);
    EXPECT_EQ(slots.created[1], std::string(kReadingName) + " 400 0");
}

// The viewer's tests read plain lines through the reader; here the bytes of the ANSI code page
// and a line without its NUL.
TEST_F(TraceTest, ReaderDecodesEveryWaitingLine) {
    auto& writer = w.proc.mailslots();
    const Handle to = writer.openMailslot(kReadingName);
    writer.write(to, buildTraceLine(8,
                                    "Gr\xC3\xB6\xC3\x9F"
                                    "e"));
    writer.write(to, test::bytesOf("xy"));
    writer.close(to);
    TraceReader reader(viewer.mailslots(), readingEnd);
    EXPECT_EQ(reader.readAll(), (std::vector<std::string>{"[8]Gr\xC3\xB6\xC3\x9F"
                                                          "e",
                                                          "xy"}));
}

}  // namespace
}  // namespace quilo::trace
