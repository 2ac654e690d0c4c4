// The trace module against recording ports: the line on the wire, the open and disable rules,
// and the reader and filter of the viewer.
#include <gtest/gtest.h>

#include <deque>
#include <map>

#include "trace/trace.h"

namespace quilo::trace {
namespace {

using platform::Handle;

class RecordingMailslots : public platform::Mailslots {
  public:
    Handle createMailslot(std::string_view name, std::uint32_t maxBytes,
                          std::uint32_t timeout) override {
        created.push_back({std::string(name), maxBytes, timeout});
        if (failOpen) return 0;
        return next_++;
    }
    Handle openMailslot(std::string_view name) override {
        opened.push_back(std::string(name));
        if (failOpen) return 0;
        return next_++;
    }
    bool write(Handle slot, std::span<const std::byte> message) override {
        if (failWrites) return false;
        writes.push_back({slot, std::vector<std::byte>(message.begin(), message.end())});
        return true;
    }
    std::optional<std::vector<std::byte>> read(Handle) override {
        if (queue.empty()) return std::nullopt;
        auto m = queue.front();
        queue.pop_front();
        return m;
    }
    bool close(Handle h) override {
        closed.push_back(h);
        return true;
    }
    platform::ErrorCode lastError() override { return 1816; }

    struct Created {
        std::string name;
        std::uint32_t maxBytes, timeout;
    };
    std::vector<Created> created;
    std::vector<std::string> opened;
    struct Written {
        Handle slot;
        std::vector<std::byte> bytes;
    };
    std::vector<Written> writes;
    std::deque<std::vector<std::byte>> queue;
    std::vector<Handle> closed;
    bool failOpen = false;
    bool failWrites = false;

  private:
    Handle next_ = 40;
};

class SetClock : public platform::Clock {
  public:
    std::uint32_t tickCount() override { return tick; }
    platform::LocalTime localTime() override { return {}; }
    std::uint32_t tick = 1000;
};

class RecordingProcess : public platform::Process {
  public:
    std::string commandLine() override { return {}; }
    std::unique_ptr<platform::InstanceGuard> acquireSingleInstance(std::string_view) override {
        return nullptr;
    }
    platform::VersionInfo version() override {
        platform::VersionInfo v;
        v.title = "QuiloPlugin";
        return v;
    }
    int messageBox(platform::Hwnd, std::string_view text, std::string_view caption,
                   std::uint32_t style) override {
        boxes.push_back({std::string(text), std::string(caption), style});
        return platform::mb::kIdOk;
    }
    void setMousePointer(int) override {}
    int mousePointer() override { return 0; }
    bool startProgram(std::string_view, std::string_view) override { return false; }
    std::string errorText(platform::ErrorCode) override { return {}; }
    struct Box {
        std::string text, caption;
        std::uint32_t style;
    };
    std::vector<Box> boxes;
};

std::string asText(const std::vector<std::byte>& b) {
    std::string s;
    for (auto c : b)
        s += static_cast<char>(c);
    return s;
}

class TraceTest : public ::testing::Test {
  protected:
    RecordingMailslots slots;
    SetClock clock;
    RecordingProcess process;
    Trace trace{slots, clock, process};
};

TEST_F(TraceTest, WritingEndUsesTheBroadcastNameAndStampsEachLine) {
    EXPECT_EQ(trace.handle(), 0u);
    ASSERT_TRUE(trace.TraceOpen(false));
    ASSERT_EQ(slots.opened.size(), 1u);
    EXPECT_EQ(slots.opened[0], "\\\\*\\mailslot\\Kelvo.ra2\\Xray.Ifc\\Plugin.Trc");
    EXPECT_TRUE(slots.created.empty());

    clock.tick = 123456;
    trace.TraceLine("clsPlugin: Class_Initialize:App:QuiloPlugin");
    ASSERT_EQ(slots.writes.size(), 1u);
    EXPECT_EQ(slots.writes[0].slot, trace.handle());
    EXPECT_EQ(asText(slots.writes[0].bytes),
              std::string("[123456]clsPlugin: Class_Initialize:App:QuiloPlugin") + '\0');

    // The tick counter is printed as a signed 32-bit number once it passes 2^31.
    clock.tick = 0xFFFFFFFEu;
    trace.TraceLine("");
    EXPECT_EQ(asText(slots.writes[1].bytes), std::string("[-2]") + '\0');
    // Text goes out in the ANSI code page.
    clock.tick = 5;
    trace.TraceLine(
        "Gr\xC3\xB6\xC3\x9F"
        "e");
    EXPECT_EQ(asText(slots.writes[2].bytes), std::string("[5]Gr\xF6\xDF"
                                                         "e") +
                                                 '\0');
}

TEST_F(TraceTest, LinesAreCutTo399CharactersPlusTheNul) {
    ASSERT_TRUE(trace.TraceOpen(false));
    clock.tick = 1234567890;                 // "[1234567890]" is 12 characters
    trace.TraceLine(std::string(383, 'm'));  // 395 characters stamped
    trace.TraceLine(std::string(387, 'm'));  // exactly 399
    trace.TraceLine(std::string(438, 'm'));  // 450: cut
    ASSERT_EQ(slots.writes.size(), 3u);
    EXPECT_EQ(slots.writes[0].bytes.size(), 396u);
    EXPECT_EQ(slots.writes[1].bytes.size(), 400u);
    EXPECT_EQ(slots.writes[2].bytes.size(), 400u);
    EXPECT_EQ(slots.writes[2].bytes[398], std::byte{'m'});
    EXPECT_EQ(slots.writes[2].bytes[399], std::byte{0});
    EXPECT_EQ(buildTraceLine(1234567890, std::string(438, 'm')), slots.writes[2].bytes);
}

TEST_F(TraceTest, SecondOpenKeepsTheHandleAndFailedWritesDisableUntilReopened) {
    ASSERT_TRUE(trace.TraceOpen(false));
    const Handle first = trace.handle();
    EXPECT_FALSE(trace.TraceOpen(false));
    EXPECT_FALSE(trace.TraceOpen(true));
    EXPECT_EQ(trace.handle(), first);
    EXPECT_EQ(slots.opened.size(), 1u);

    slots.failWrites = true;
    trace.TraceLine("lost");
    EXPECT_TRUE(trace.isDisabled());
    slots.failWrites = false;
    trace.TraceLine("not even tried");
    EXPECT_TRUE(slots.writes.empty());

    trace.TraceClose();
    EXPECT_EQ(slots.closed, std::vector<Handle>{first});
    EXPECT_EQ(trace.handle(), Trace::kClosedHandle);
    EXPECT_FALSE(trace.isDisabled());
    EXPECT_FALSE(trace.isOpen());
    // A write against the closed handle fails and disables again, silently.
    trace.TraceLine("after close");
    EXPECT_TRUE(slots.writes.empty());
    EXPECT_TRUE(trace.isDisabled());
    EXPECT_TRUE(process.boxes.empty());
    // A successful open clears the disabled state.
    ASSERT_TRUE(trace.TraceOpen(false));
    trace.TraceLine("back");
    EXPECT_EQ(slots.writes.size(), 1u);
}

TEST_F(TraceTest, FailedOpenOfTheWritingEndIsSilentTheReadingEndSaysSo) {
    slots.failOpen = true;
    EXPECT_FALSE(trace.TraceOpen(false));
    EXPECT_TRUE(trace.isDisabled());
    EXPECT_TRUE(process.boxes.empty());
    trace.TraceLine("nothing");
    EXPECT_TRUE(slots.writes.empty());

    EXPECT_FALSE(trace.TraceOpen(true));
    ASSERT_EQ(process.boxes.size(), 1u);
    EXPECT_EQ(process.boxes[0].text, "Error: Can't open mailslot.\r\n(Win32 errcode:1816)");
    EXPECT_EQ(process.boxes[0].style, platform::mb::kIconExclamation);

    slots.failOpen = false;
    ASSERT_TRUE(trace.TraceOpen(true));
    ASSERT_EQ(slots.created.size(), 2u);
    EXPECT_EQ(slots.created[1].name, "\\\\.\\mailslot\\Kelvo.ra2\\Xray.Ifc\\Plugin.Trc");
    EXPECT_EQ(slots.created[1].maxBytes, 400u);
    EXPECT_EQ(slots.created[1].timeout, 0u);
}

TEST_F(TraceTest, ReaderDecodesEveryWaitingLineAndTheFilterIgnoresCase) {
    slots.queue.push_back(buildTraceLine(7, "Error:clsPlugin:Command FIFO full."));
    slots.queue.push_back(buildTraceLine(8,
                                         "Gr\xC3\xB6\xC3\x9F"
                                         "e"));
    std::vector<std::byte> noNul = {std::byte{'x'}, std::byte{'y'}};
    slots.queue.push_back(noNul);
    TraceReader reader(slots, 40);
    EXPECT_EQ(reader.readAll(), (std::vector<std::string>{"[7]Error:clsPlugin:Command FIFO full.",
                                                          "[8]Gr\xC3\xB6\xC3\x9F"
                                                          "e",
                                                          "xy"}));
    EXPECT_TRUE(reader.readAll().empty());

    EXPECT_TRUE(matchesFilter("[7]Error:clsPlugin:x", ""));
    EXPECT_TRUE(matchesFilter("[7]Error:clsPlugin:x", "CLSPLUGIN"));
    EXPECT_FALSE(matchesFilter("[7]XrayIfc:SendStatus", "clsPlugin"));
    EXPECT_FALSE(matchesFilter("ab", "abc"));
}

}  // namespace
}  // namespace quilo::trace
