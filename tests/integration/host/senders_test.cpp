// The outbound functions of XrayIfc against a host window: image messages, settings blocks,
// the announcement, and their errors.
#include <cstring>
#include <functional>

#include "host_world.h"
#include "support/errors.h"

namespace quilo::test {
namespace {

using Senders = HostWorld;

// `n` bytes of a recognisable pattern, and a global memory block of the plug-in holding them.
std::vector<std::byte> pattern(std::size_t n) {
    std::vector<std::byte> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::byte>((i * 7 + 3) & 0xFF);
    return v;
}
platform::HGlobal imageBlock(platform::GlobalMemory& mem, std::size_t n) {
    const platform::HGlobal h = mem.alloc(platform::gmem::kMoveableZeroed, n);
    std::memcpy(mem.lock(h), pattern(n).data(), n);
    mem.unlock(h);
    return h;
}
// The error number and text `f` raises.
std::string raised(const std::function<void()>& f) {
    std::string text;
    const long number = errorNumber(f, &text);
    return std::to_string(number) + " " + text;
}

TEST_F(Senders, ExtendedImageMessageCarriesHeaderTextsAndTheWholeImage) {
    const platform::HGlobal image = imageBlock(plugin.memory(), 1'000'000);
    const auto before = world.live().memoryBlocks;
    host::ImageExRecord r;
    r.set(host::ImageExRecord::imageId, 3);
    r.set(host::ImageExRecord::widthPixels, 1000);
    r.set(host::ImageExRecord::dataFormat, host::kFormatTiffInMemory);
    hostAnswer = 5;
    EXPECT_EQ(
        xray.SendImageCapturedEx(hostHwnd, pluginHwnd, r, "", image, 1'000'000, "first", "second"),
        5);
    EXPECT_EQ(world.live().memoryBlocks, before);  // the message block lived for the send only
    const std::vector<std::byte> zeros(36);        // height, millimetres, date, sensor
    EXPECT_EQ(received(),
              onlyReply(24, cat({le32(1'002'376), le32(3), le32(1000), zeros, le32(0x8002),
                                 text("", 256), le32(1'000'000), text("", 16), text("second", 1024),
                                 text("first", 1024), pattern(1'000'000)})));
    plugin.memory().free(image);
}

TEST_F(Senders, BasicImageMessageAndTheFileForm) {
    const platform::HGlobal image = imageBlock(plugin.memory(), 100);
    host::ImageRecord r;
    EXPECT_EQ(xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "", image, 100), 1);
    // A block smaller than the size given is not read past: nothing goes out.
    EXPECT_EQ(xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "", image, 101), 0);
    // The file form sends the record alone, naming the file.
    host::ImageRecord named;
    EXPECT_EQ(xray.SendImageCaptured(hostHwnd, pluginHwnd, named, "C:\\img.tif", 0, 0), 1);
    EXPECT_EQ(received(),
              (std::vector<CopyDataSeen>{
                  {pluginHwnd, 21, cat({le32(412), text("", 304), le32(100), pattern(100)})},
                  {pluginHwnd, 21,
                   cat({le32(332), text("", 48), text("C:\\img.tif", 256), text("", 24)})}}));
    plugin.memory().free(image);
}

TEST_F(Senders, ImageErrorsAllocateNothing) {
    auto& mem = plugin.memory();
    const platform::HGlobal image = imageBlock(mem, 10);
    const auto before = world.live().memoryBlocks;
    host::ImageRecord r;
    host::ImageExRecord rx;
    EXPECT_EQ(raised([&] { xray.SendImageCaptured(0, pluginHwnd, r, "", image, 10); }),
              "1025 xrayIfc.SendImageCaptured() Source Or Destination hWnd invalid");
    EXPECT_EQ(raised([&] { xray.SendImageCapturedEx(hostHwnd, 0, rx, "", image, 10, "", ""); }),
              "1025 xrayIfc.SendImageCapturedEx() Source Or Destination hWnd invalid");
    EXPECT_EQ(raised([&] { xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "", 0, 10); }),
              "1026 No FileName OR lMemImg supplied");
    EXPECT_EQ(world.live().memoryBlocks, before);
    EXPECT_TRUE(received().empty());
    // Memory that fails makes the send fail quietly, and frees what it took.
    world.failNth(sim::Fault::GlobalAlloc);
    EXPECT_EQ(xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "", image, 10), 0);
    world.failNth(sim::Fault::GlobalLock, 2);  // the image block's lock
    EXPECT_EQ(xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "", image, 10), 0);
    EXPECT_EQ(world.live().memoryBlocks, before);
    EXPECT_TRUE(received().empty());
    mem.free(image);
}

TEST_F(Senders, SettingsAnnouncementAndTheInterfaceMessage) {
    auto block = host::MakeSettingsBlock(plugin.memory(), "PHW=123");
    ASSERT_TRUE(block);
    EXPECT_EQ(xray.SendSettings(hostHwnd, pluginHwnd, block->ref(), false), 1);
    EXPECT_EQ(xray.SendSettings(hostHwnd, pluginHwnd, block->ref(), true), 1);
    const auto data = testhost::settingsBlock("PHW=123");  // the announcement is code 11
    EXPECT_EQ(received(),
              (std::vector<CopyDataSeen>{{pluginHwnd, 12, data}, {pluginHwnd, 11, data}}));
    EXPECT_EQ(raised([&] { xray.SendSettings(0, pluginHwnd, block->ref(), true); }),
              "1025 XrayIfc.SendSettings:Source Or Destination hWnd invalid");
    world.failNth(sim::Fault::GlobalLock);
    EXPECT_EQ(raised([&] { xray.SendSettings(hostHwnd, pluginHwnd, block->ref(), true); }),
              "1027 XrayIfc.SendSettings:GlobalLock failed.");
    EXPECT_EQ(received().size(), 2u);

    EXPECT_EQ(raised([&] { xray.SendRegisterPlugIn(0); }),
              "1025 Source Or Destination hWnd invalid");
    // The same id in every process, and the same on every call.
    EXPECT_EQ(std::pair(xray.GetInterfaceMessage(), xray.GetInterfaceMessage()),
              std::pair(interfaceMsg, interfaceMsg));
}

}  // namespace
}  // namespace quilo::test
