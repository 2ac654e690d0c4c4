// Fault injection: each operation a test can make fail fails exactly when asked, with the
// error Windows reports, and works again afterwards.
#include <gtest/gtest.h>

#include "sim_test.h"

namespace quilo::sim::test {
namespace {

using SimFaults = OneProcess;

TEST_F(SimFaults, NthCallFailsOnceCountingFromNow) {
    auto& mem = p.memory();
    GlobalBlock a = GlobalBlock::allocate(mem, 16);
    world.failNth(Fault::GlobalAlloc, 3);
    std::vector<bool> allocated;
    for (int i = 0; i < 4; ++i)
        allocated.push_back(static_cast<bool>(GlobalBlock::allocate(mem, 16)));
    EXPECT_EQ(allocated, (std::vector<bool>{true, true, false, true}));
    EXPECT_EQ(world.calls(Fault::GlobalAlloc), 5u);  // the failed call counts too
    world.failNth(Fault::CreateWindow);
    EXPECT_EQ(p.windows().createWindow({}, nullptr), 0u);
    EXPECT_EQ(p.windows().lastError(), err::kNotEnoughMemory);
    EXPECT_EQ(world.live().windows, 0u);
    // Two pending faults of one kind count independently.
    world.failNth(Fault::GlobalLock, 1);
    world.failNth(Fault::GlobalLock, 2);
    EXPECT_EQ(mem.lock(a.get()), nullptr);
    EXPECT_EQ(mem.lock(a.get()), nullptr);
    EXPECT_NE(mem.lock(a.get()), nullptr);
    EXPECT_FALSE(mem.unlock(a.get()));
}

TEST_F(SimFaults, FilesMailslotsLibrariesAndMessages) {
    auto& peer = world.createProcess();
    auto& files = p.files();
    const std::string path = joinPath(files.tempFolder(), "f.bin");

    world.failNth(Fault::FileCreate);
    EXPECT_EQ(files.open(path, OpenMode::CreateAlways), nullptr);
    EXPECT_EQ(files.lastError(), err::kAccessDenied);
    auto f = files.open(path, OpenMode::CreateAlways);
    ASSERT_NE(f, nullptr);
    world.failNth(Fault::FileWrite);
    const std::byte one[1] = {std::byte{1}};
    EXPECT_FALSE(f->write(one));
    EXPECT_EQ(files.lastError(), err::kWriteFault);
    EXPECT_TRUE(f->write(one));
    f.reset();
    EXPECT_EQ(readWholeFile(files, path, 10)->size(), 1u);

    MailslotHandle reader(p.mailslots(), p.mailslots().createMailslot("\\\\.\\mailslot\\t", 0, 0));
    MailslotHandle writer(p.mailslots(), p.mailslots().openMailslot("\\\\.\\mailslot\\t"));
    ASSERT_TRUE(reader && writer);
    world.failNth(Fault::MailslotWrite);
    EXPECT_FALSE(p.mailslots().write(writer.get(), one));
    EXPECT_EQ(p.mailslots().lastError(), err::kWriteFault);

    world.registerLibrary(SimLibrary{"Lib.dll", {}});
    world.failNth(Fault::LoadLibrary);
    EXPECT_EQ(p.libraries().load("C:\\x\\Lib.dll"), nullptr);
    EXPECT_EQ(p.libraries().lastError(), err::kFileNotFound);

    RecordingWindow rec(peer.windows()), own(p.windows());
    const Hwnd target = rec.hwnd(), mine = own.hwnd();
    // A failing send to another process does not reach it; a send to our own window is a call.
    world.failAlways(Fault::SendMessage);
    rec.answer(wm::kUser, 5);
    own.answer(wm::kUser, 6);
    EXPECT_EQ(p.windows().sendMessage(target, wm::kUser, 0, 0), 0);
    EXPECT_EQ(rec.count(wm::kUser), 0u);
    EXPECT_EQ(p.windows().sendMessage(mine, wm::kUser, 0, 0), 6);
    world.failAlways(Fault::SendMessage, false);
    EXPECT_EQ(p.windows().sendMessage(target, wm::kUser, 0, 0), 5);
}

}  // namespace
}  // namespace quilo::sim::test
