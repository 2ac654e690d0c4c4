// Leak accounting, process end clean-up, per-user state and the file mapping.
#include <gtest/gtest.h>

#include <fstream>

#include "sim_test.h"
#include "support/bytes.h"

namespace quilo::sim::test {
namespace {

using SimResourcesInOneProcess = OneProcess;

TEST_F(SimResourcesInOneProcess, LiveCountsFollowEveryKindOfResource) {
    EXPECT_EQ(world.live(), LiveCounts{});
    {
        GlobalBlock block = GlobalBlock::allocate(p.memory(), 100);
        MailslotHandle slot(p.mailslots(),
                            p.mailslots().createMailslot("\\\\.\\mailslot\\c", 0, 0));
        auto file = p.files().open("C:\\a.txt", OpenMode::CreateAlways);
        auto guard = p.process().acquireSingleInstance("Quilo");
        RecordingWindow w(p.windows());
        p.windows().setTimer(w.hwnd(), 1, 100);
        EXPECT_EQ(world.live(), (LiveCounts{1, 3, 1, 1}));
    }
    EXPECT_EQ(world.live(), LiveCounts{});
}

TEST(SimResources, EndingAProcessReleasesWhatItHeld) {
    World world;
    auto& a = world.createProcess();
    auto& b = world.createProcess();
    auto guard = a.process().acquireSingleInstance("OrvanePlugin");
    ASSERT_NE(guard, nullptr);
    EXPECT_EQ(b.process().acquireSingleInstance("OrvanePlugin"), nullptr);
    EXPECT_EQ(b.process().acquireSingleInstance("orvaneplugin") != nullptr, true)
        << "guard names are exact";
    const HGlobal block = a.memory().alloc(gmem::kMoveableZeroed, 10);
    auto file = a.files().open("C:\\held.txt", OpenMode::CreateAlways);
    const Handle slot = a.mailslots().createMailslot("\\\\.\\mailslot\\held", 0, 0);
    ASSERT_TRUE(block && file && slot);
    EXPECT_EQ(b.memory().lock(block), nullptr) << "blocks belong to their process";

    world.endProcess(a);
    EXPECT_EQ(world.live(), LiveCounts{});
    EXPECT_NE(b.process().acquireSingleInstance("OrvanePlugin"), nullptr);
    const std::byte x[1] = {};
    EXPECT_FALSE(file->write(x)) << "a file of an ended process is closed";
    EXPECT_NE(b.mailslots().createMailslot("\\\\.\\mailslot\\held", 0, 0), 0u);
    guard.reset();  // releasing late is harmless
    file.reset();
}

TEST(SimResources, UnfreedBlocksAndOpenObjectsDieWithTheWorld) {
    // Run under LeakSanitizer: nothing here may leak although the test frees nothing.
    std::unique_ptr<File> survivor;
    {
        World world;
        auto& p = world.createProcess();
        p.memory().alloc(gmem::kMoveable, 1 << 16);
        p.mailslots().createMailslot("\\\\.\\mailslot\\x", 0, 0);
        survivor = p.files().open("C:\\x.txt", OpenMode::CreateAlways);
    }
    const std::byte x[1] = {};
    EXPECT_FALSE(survivor->write(x));
}

TEST_F(SimResourcesInOneProcess, MemoryBlocksAreNotZeroedUnlessAskedAndFreedOnce) {
    auto& mem = p.memory();
    const HGlobal raw = mem.alloc(gmem::kMoveable, 4);
    auto* bytes = static_cast<unsigned char*>(mem.lock(raw));
    ASSERT_NE(bytes, nullptr);
    EXPECT_NE(bytes[0], 0) << "a block not asked to be zeroed is not";
    EXPECT_TRUE(mem.free(raw));
    EXPECT_FALSE(mem.free(raw));
    EXPECT_EQ(mem.size(raw), 0u);
    // A zero-byte block exists but cannot be locked.
    GlobalBlock empty = GlobalBlock::allocate(mem, 0);
    ASSERT_TRUE(empty);
    EXPECT_EQ(mem.lock(empty.get()), nullptr);
}

TEST(SimResources, CurrentUserIsPerUserAndLocalMachineShared) {
    World world;
    auto& alice = world.createProcess(userProcess("alice"));
    auto& alice2 = world.createProcess(userProcess("Alice"));
    auto& bob = world.createProcess(userProcess("bob"));
    const char* key = "Software\\Kelvora\\Plugins";
    for (const auto& [root, name] :
         {std::pair(RegRoot::CurrentUser, "Lang"), std::pair(RegRoot::LocalMachine, "Path")})
        ASSERT_EQ(alice.registry().setValue(root, key, name, RegType::Sz, regSzBytes("x")), 0u);
    RegValue v;
    EXPECT_EQ(alice2.registry().queryValue(RegRoot::CurrentUser, "SOFTWARE\\kelvora\\plugins\\",
                                           "LANG", 64, v),
              0u);
    EXPECT_EQ(bob.registry().queryValue(RegRoot::CurrentUser, key, "Lang", 64, v),
              err::kFileNotFound);
    EXPECT_EQ(bob.registry().queryValue(RegRoot::LocalMachine, key, "Path", 64, v), 0u);
    EXPECT_EQ(bob.files().tempFolder(), "C:\\Users\\bob\\AppData\\Local\\Temp\\");
    EXPECT_TRUE(bob.files().isDirectory(bob.files().tempFolder()));
    EXPECT_TRUE(bob.files().isDirectory(bob.files().userDataFolder()));
}

TEST_F(SimResourcesInOneProcess, WindowsPathsMapOntoTheRootCaseInsensitively) {
    auto& files = p.files();
    EXPECT_EQ(files.programFolder(), "C:\\Program Files\\Kelvora\\Quilo");
    EXPECT_EQ(files.programName(), "QuiloPlugin");
    ASSERT_TRUE(writeWholeFile(files, "Test.tif", std::vector<std::byte>(3)));
    const auto native = world.nativePath("c:\\PROGRAM FILES\\kelvora\\quilo\\TEST.TIF");
    EXPECT_TRUE(std::filesystem::is_regular_file(native)) << native;
    EXPECT_EQ(native.filename(), "Test.tif");
    EXPECT_EQ(files.nativePath("C:/Program Files/Kelvora/Quilo/x/../Test.tif"), native.string());
    // A file written outside the simulation is found the same way.
    std::ofstream(world.nativePath("C:\\Program Files\\Kelvora\\Quilo\\Outside.INI")) << "x";
    EXPECT_TRUE(files.exists("C:\\program files\\kelvora\\quilo\\outside.ini"));
    EXPECT_FALSE(files.exists("\\\\server\\share\\x"));
}

// Kept in memory, names are found ignoring case and keep the spelling they were made with, and
// "." and ".." are taken as on disk, never above the drive.
TEST(SimResources, FilesKeptInMemoryMapPathsAsOnDisk) {
    WorldOptions o;
    o.filesInMemory = true;
    World world{o};
    auto& files = world.createProcess().files();
    ASSERT_TRUE(files.createDirectories("C:\\Data\\Plates"));
    ASSERT_TRUE(writeWholeFile(files, "C:\\Data\\Plates\\Test.tif", std::vector<std::byte>(3)));
    const std::string native = files.nativePath("C:\\Data\\Plates\\Test.tif");
    EXPECT_TRUE(native.ends_with("/C/Data/Plates/Test.tif")) << native;
    for (const char* alias : {"c:\\DATA\\plates\\TEST.TIF", "C:/data/./x/../PLATES/test.tif",
                              "c:\\..\\..\\Data\\Plates\\.\\Test.tif"})
        EXPECT_EQ(files.nativePath(alias), native) << alias;
    EXPECT_TRUE(files.nativePath("C:\\DATA\\New\\X.tif").ends_with("/C/Data/New/X.tif"));
    EXPECT_EQ(files.list("c:\\data\\PLATES", "*.TIF"), std::vector<std::string>{"Test.tif"});
}

// INI reads keep a parsed copy of the file, which must never hide a change: rewritten through
// the simulation (same length, same virtual time) or beside it, or moved away, the next read
// sees the file as it is.
TEST_F(SimResourcesInOneProcess, IniReadsSeeEveryChangeOfTheFile) {
    auto& files = p.files();
    const std::string ini = "C:\\Program Files\\Kelvora\\Quilo\\Cached.ini";
    auto company = [&] { return p.profile().getString("Settings", "Company", "?", ini, 64); };
    ASSERT_TRUE(writeWholeFile(files, ini, quilo::test::bytesOf("[Settings]\nCompany=Kelvora\n")));
    EXPECT_EQ(company(), "Kelvora");
    ASSERT_TRUE(writeWholeFile(files, ini, quilo::test::bytesOf("[Settings]\nCompany=Avrolek\n")));
    EXPECT_EQ(company(), "Avrolek");
    std::ofstream(world.nativePath(ini), std::ios::binary) << "[Settings]\nCompany=Lekvora\n";
    EXPECT_EQ(company(), "Lekvora");
    ASSERT_TRUE(files.moveFile(ini, ini + ".old"));
    EXPECT_EQ(company(), "?");
}

}  // namespace
}  // namespace quilo::sim::test
