// The outbound functions of XrayIfc against a host window: image messages, settings blocks,
// the announcement, and their errors.
#include <cstring>

#include "host_world.h"
#include "support/errors.h"

namespace quilo::test {
namespace {

using Senders = HostWorld;

// A global memory block of the plug-in holding `n` bytes of a recognisable pattern.
platform::HGlobal imageBlock(platform::GlobalMemory& mem, std::size_t n) {
    const platform::HGlobal h = mem.alloc(platform::gmem::kMoveableZeroed, n);
    auto* p = static_cast<std::byte*>(mem.lock(h));
    for (std::size_t i = 0; i < n; ++i)
        p[i] = static_cast<std::byte>((i * 7 + 3) & 0xFF);
    mem.unlock(h);
    return h;
}

TEST_F(Senders, ExtendedImageMessageCarriesHeaderTextsAndTheWholeImage) {
    auto& mem = plugin.memory();
    const platform::HGlobal image = imageBlock(mem, 1'000'000);
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
    ASSERT_EQ(received().size(), 1u);
    const CopyDataSeen got = received()[0];
    EXPECT_EQ(got.code, 24);
    ASSERT_EQ(got.data.size(), 1'002'376u);
    auto at = [&](std::size_t off, std::size_t n) {
        return std::vector<std::byte>(got.data.begin() + static_cast<std::ptrdiff_t>(off),
                                      got.data.begin() + static_cast<std::ptrdiff_t>(off + n));
    };
    EXPECT_EQ(at(0, 4), le32(1'002'376));
    EXPECT_EQ(at(4, 4), le32(3));
    EXPECT_EQ(at(8, 4), le32(1000));
    EXPECT_EQ(at(48, 4), le32(0x8002));
    EXPECT_EQ(at(52, 256), std::vector<std::byte>(256));  // no file name
    EXPECT_EQ(at(308, 4), le32(1'000'000));
    EXPECT_EQ(at(328, 1024), text("second", 1024));
    EXPECT_EQ(at(1352, 1024), text("first", 1024));
    auto* p = static_cast<std::byte*>(mem.lock(image));
    EXPECT_EQ(std::memcmp(got.data.data() + 2376, p, 1'000'000), 0);
    mem.unlock(image);
    mem.free(image);
}

TEST_F(Senders, BasicImageMessageAndTheFileForm) {
    auto& mem = plugin.memory();
    const platform::HGlobal image = imageBlock(mem, 100);
    host::ImageRecord r;
    EXPECT_EQ(xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "", image, 100), 1);
    ASSERT_EQ(received().size(), 1u);
    const std::vector<std::byte> basic = received()[0].data;
    EXPECT_EQ(received()[0].code, 21);
    EXPECT_EQ(basic.size(), 412u);
    EXPECT_EQ(std::vector<std::byte>(basic.begin(), basic.begin() + 4), le32(412));
    // A block smaller than the size given is not read past: nothing goes out.
    EXPECT_EQ(xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "", image, 101), 0);
    EXPECT_EQ(received().size(), 1u);
    // The file form sends the record alone, naming the file.
    EXPECT_EQ(xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "C:\\img.tif", 0, 0), 1);
    ASSERT_EQ(received().size(), 2u);
    const std::vector<std::byte> file = received()[1].data;
    ASSERT_EQ(file.size(), 332u);
    EXPECT_EQ(std::vector<std::byte>(file.begin(), file.begin() + 4), le32(332));
    EXPECT_EQ(std::vector<std::byte>(file.begin() + 52, file.begin() + 52 + 256),
              text("C:\\img.tif", 256));
    mem.free(image);
}

TEST_F(Senders, ImageErrorsAllocateNothing) {
    auto& mem = plugin.memory();
    const platform::HGlobal image = imageBlock(mem, 10);
    const auto before = world.live().memoryBlocks;
    host::ImageRecord r;
    host::ImageExRecord rx;
    std::string t;
    EXPECT_EQ(errorNumber([&] { xray.SendImageCaptured(0, pluginHwnd, r, "", image, 10); }, &t),
              1025);
    EXPECT_EQ(t, "xrayIfc.SendImageCaptured() Source Or Destination hWnd invalid");
    EXPECT_EQ(
        errorNumber([&] { xray.SendImageCapturedEx(hostHwnd, 0, rx, "", image, 10, "", ""); }, &t),
        1025);
    EXPECT_EQ(t, "xrayIfc.SendImageCapturedEx() Source Or Destination hWnd invalid");
    EXPECT_EQ(errorNumber([&] { xray.SendImageCaptured(hostHwnd, pluginHwnd, r, "", 0, 10); }, &t),
              1026);
    EXPECT_EQ(t, "No FileName OR lMemImg supplied");
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
    ASSERT_EQ(received().size(), 2u);
    EXPECT_EQ(received()[0].code, 12);
    EXPECT_EQ(received()[1].code, 11);
    EXPECT_EQ(received()[1].data.size(), 20u);
    std::string t;
    EXPECT_EQ(errorNumber([&] { xray.SendSettings(0, pluginHwnd, block->ref(), true); }, &t), 1025);
    EXPECT_EQ(t, "XrayIfc.SendSettings:Source Or Destination hWnd invalid");
    world.failNth(sim::Fault::GlobalLock);
    EXPECT_EQ(errorNumber([&] { xray.SendSettings(hostHwnd, pluginHwnd, block->ref(), true); }, &t),
              1027);
    EXPECT_EQ(t, "XrayIfc.SendSettings:GlobalLock failed.");
    EXPECT_EQ(received().size(), 2u);

    EXPECT_EQ(errorNumber([&] { xray.SendRegisterPlugIn(0); }, &t), 1025);
    EXPECT_EQ(t, "Source Or Destination hWnd invalid");
    // The same id in every process, and the same on every call.
    const MsgId id = xray.GetInterfaceMessage();
    EXPECT_EQ(id, interfaceMsg);
    EXPECT_EQ(xray.GetInterfaceMessage(), id);
}

}  // namespace
}  // namespace quilo::test
