// The imaging module on the simulated Windows: its global memory blocks and files, with faults.
#include <gtest/gtest.h>

#include "imaging/enhancement.h"
#include "imaging/image_control.h"
#include "imaging/kv_image_handler.h"
#include "imaging/operations.h"
#include "imaging/tiff.h"
#include "platform/sim/world.h"

namespace quilo::imaging {
namespace {

Image gradient(std::uint32_t w, std::uint32_t h) {
    Image img(w, h, 16);
    for (std::uint32_t y = 0; y < h; ++y)
        for (std::uint32_t x = 0; x < w; ++x)
            img.set(x, y, 20000 + 10 * x + 3 * y);
    return img;
}

TEST(ImagingOnSim, StretchRoadThroughTheHostLibraryLeavesNoBlocks) {
    sim::World world;
    auto& p = world.createProcess();
    {
        ImageControl control(p.memory());
        KVImageHandler kv(p.memory());
        control.setBitmap(gradient(200, 100));
        // The histogram stretch as the capture path runs it: save, release, load into the
        // library, stretch, take the result back.
        {
            auto block = control.saveMemory();
            ASSERT_TRUE(block);
            control.releaseBitmap();
            ASSERT_EQ(kv.KV_LoadMemImageTiff(block.get(), static_cast<long>(block.size())), 0);
        }
        ASSERT_EQ(kv.KV_CorrectBitDepth(), 0);
        ASSERT_EQ(kv.KV_StretchHistogramPercent(5, 5), 0);
        platform::HGlobal out = 0;
        long size = 0;
        ASSERT_EQ(kv.KV_GetMemImageTiff(out, size), 0);
        control.loadMemory(out, static_cast<std::size_t>(size));
        EXPECT_TRUE(p.memory().free(out));
        EXPECT_EQ(kv.KV_CloseImage(), 0);
        EXPECT_EQ(control.bitmapWidth(), 200u);
        EXPECT_EQ(minMax(*control.bitmapImage()).second, 65535u);
    }
    EXPECT_EQ(world.live().memoryBlocks, 0u);
}

TEST(ImagingOnSim, AllocationAndLockFailuresAreReportedAndLeakNothing) {
    sim::World world;
    auto& p = world.createProcess();
    ImageControl control(p.memory());
    control.setBitmap(gradient(64, 64));
    world.failNth(sim::Fault::GlobalAlloc);
    EXPECT_FALSE(control.saveMemory());
    world.failNth(sim::Fault::GlobalLock);
    EXPECT_FALSE(control.saveMemory());
    EXPECT_EQ(world.live().memoryBlocks, 0u);

    KVImageHandler kv(p.memory());
    auto block = control.saveMemory();
    ASSERT_EQ(kv.KV_LoadMemImageTiff(block.get(), static_cast<long>(block.size())), 0);
    world.failNth(sim::Fault::GlobalAlloc);
    platform::HGlobal out = 1;
    long size = 1;
    EXPECT_EQ(kv.KV_GetMemImageTiff(out, size), KVImageHandler::kOutOfMemory);
    EXPECT_EQ(out, 0u);

    EnhancementComponent ec(p.memory());
    world.failNth(sim::Fault::GlobalAlloc);
    EXPECT_NE(ec.enhance(kIntraoral, control.bitmapImage(), out, false), 0);
    EXPECT_EQ(out, 0u);
    block.reset();
    EXPECT_EQ(world.live().memoryBlocks, 0u);
}

TEST(ImagingOnSim, RawCopyIsWrittenAndAFailedWriteLeavesNoFile) {
    sim::World world;
    auto& p = world.createProcess();
    ImageControl control(p.memory());
    control.setBitmap(gradient(300, 400));  // several 64 KiB pieces
    const std::string folder = p.files().userDataFolder();
    ASSERT_TRUE(p.files().createDirectories(folder));
    const std::string raw = platform::joinPath(folder, "Raw.TIF");
    ASSERT_TRUE(control.saveFile(p.files(), raw));
    ImageControl back(p.memory());
    back.loadFile(p.files(), raw);
    EXPECT_EQ(back.bitmapImage()->at(299, 399), 20000u + 2990 + 1197);

    world.failNth(sim::Fault::FileWrite, 2);  // the header goes, the pixels do not
    const std::string other = platform::joinPath(folder, "Other.TIF");
    EXPECT_FALSE(control.saveFile(p.files(), other));
    EXPECT_FALSE(p.files().exists(other));
    EXPECT_EQ(world.live().handles, 0u);
}

}  // namespace
}  // namespace quilo::imaging
