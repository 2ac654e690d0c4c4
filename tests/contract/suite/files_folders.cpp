// Files contract: the program's folders, temporary file names, create-new files, listing and
// modification times.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>

#include "contract_env.h"
#include "support/bytes.h"

namespace quilo::contract {
namespace {

using namespace platform;

Files& files() {
    return contractEnv().platform().files();
}

std::string scratch(std::string_view name) {
    return joinPath(contractEnv().scratchFolder(), name);
}

using test::bytesOf;

// The whole file as text, if it can be read and is no larger than `limit`.
std::optional<std::string> textIn(const std::string& path, std::size_t limit = 200000) {
    const auto bytes = readWholeFile(files(), path, limit);
    return bytes ? std::optional(test::textOf(*bytes)) : std::nullopt;
}

// The error of opening `path` in `mode`, or 0 when it opens (and is closed again).
ErrorCode openError(const std::string& path, OpenMode mode) {
    return files().open(path, mode) ? 0 : files().lastError();
}

std::string lowered(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Seconds since 2000 of a local time, to compare two of them.
long long secondsOf(const LocalTime& t) {
    const int m = t.month <= 2 ? t.month + 12 : t.month;
    const int y = t.month <= 2 ? t.year - 1 : t.year;
    const long long days = 365LL * y + y / 4 - y / 100 + y / 400 + (153 * (m - 3) + 2) / 5 + t.day;
    return ((days * 24 + t.hour) * 60 + t.minute) * 60 + t.second;
}

TEST(FilesFolders, FoldersOfTheProgramAndTheUserExist) {
    // Only the temporary folder ends in a backslash.
    for (const auto& [folder, slash] :
         {std::pair(files().tempFolder(), true), std::pair(files().programFolder(), false),
          std::pair(files().userDataFolder(), false)}) {
        ASSERT_FALSE(folder.empty());
        EXPECT_EQ(folder.back() == '\\', slash) << folder;
        EXPECT_TRUE(files().isDirectory(folder)) << folder;
    }
    EXPECT_FALSE(files().programName().empty());
    EXPECT_EQ(files().programName().find('.'), std::string::npos) << "without its extension";
}

TEST(FilesFolders, TemporaryFileNamesUseThreePrefixCharactersAndCreateTheFile) {
    const std::string folder = contractEnv().scratchFolder();
    std::set<std::string> names;
    for (int i = 0; i < 3; ++i) {
        const std::string path = files().tempFileName(folder, "QPLpreview");
        ASSERT_FALSE(path.empty()) << "error " << files().lastError();
        EXPECT_TRUE(files().exists(path)) << path;
        auto f = files().open(path, OpenMode::Read);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->size(), 0u);
        const std::string name = path.substr(path.find_last_of('\\') + 1);
        EXPECT_EQ(lowered(path.substr(0, path.size() - name.size())),
                  lowered(joinPath(folder, "")));
        ASSERT_GT(name.size(), 7u) << name;
        // Up to four hexadecimal digits between the prefix and the extension.
        const std::string unique = name.substr(3, name.size() - 7);
        EXPECT_EQ(
            std::tuple(name.substr(0, 3), lowered(name.substr(name.size() - 4)), unique.size() <= 4,
                       unique.find_first_not_of("0123456789ABCDEFabcdef")),
            std::tuple("QPL", ".tmp", true, std::string::npos))
            << name;
        names.insert(path);
    }
    EXPECT_EQ(names.size(), 3u) << "each call gives a new name";
    for (const auto& n : names)
        EXPECT_TRUE(files().removeFile(n));
    EXPECT_EQ(files().tempFileName(scratch("no\\such\\folder"), "QPL"), "");
}

TEST(FilesFolders, CreateNewRefusesAnExistingFileAndAppendAddsToTheEnd) {
    const std::string path = scratch("IMG00001.tif");
    {
        auto f = files().open(path, OpenMode::CreateNew);
        ASSERT_NE(f, nullptr) << "error " << files().lastError();
        ASSERT_TRUE(f->write(bytesOf("first")));
    }
    EXPECT_EQ(openError(path, OpenMode::CreateNew), err::kFileExists);
    {
        auto f = files().open(path, OpenMode::Append);
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(f->write(bytesOf("+more")));
    }
    EXPECT_EQ(textIn(path), "first+more");
    EXPECT_EQ(textIn(path, 9), std::nullopt) << "larger than allowed";
    ASSERT_TRUE(writeWholeFile(files(), path, bytesOf("new")));
    EXPECT_EQ(textIn(path), "new") << "CreateAlways replaces";
    // A rename replaces the file of the new name; a missing source is reported as such.
    const std::string moved = scratch("moved.txt");
    ASSERT_TRUE(writeWholeFile(files(), moved, bytesOf("older")));
    EXPECT_TRUE(files().moveFile(path, moved));
    EXPECT_EQ(textIn(moved), "new") << "the moved file replaced it";
    EXPECT_FALSE(files().moveFile(path, moved));
    EXPECT_EQ(files().lastError(), err::kFileNotFound);
    EXPECT_TRUE(files().moveFile(moved, path));
    // A write beside the caller: the head and the bytes, the whole file once done() says so; a
    // missing folder fails.
    const std::string bytes(100000, 'q');
    ASSERT_TRUE(files().writeInBackground(moved, bytesOf("head"), bytesOf(bytes))->done());
    const std::string written = textIn(moved).value_or("");
    EXPECT_EQ(written.size(), 4 + bytes.size());
    EXPECT_TRUE(written == "head" + bytes) << "the head, then the bytes";
    // Written over in place, the longer file is cut to the new bytes.
    ASSERT_TRUE(files().writeInBackground(moved, bytesOf("short"), bytesOf("er"))->done());
    EXPECT_EQ(textIn(moved).value_or("").size(), 7u);
    {
        auto f = files().open(moved, OpenMode::Overwrite);  // at the start, nothing cut
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(f->write(bytesOf("S")));
    }
    EXPECT_EQ(textIn(moved), "Shorter");
    // A link is a second name of the same file: written over through one name, the other
    // shows it; the bytes stay until the last name goes. A taken name is refused.
    const std::string second = scratch("Raw.TIF");
    EXPECT_EQ(files().linkCount(moved), 1);
    ASSERT_TRUE(files().link(moved, second)) << "error " << files().lastError();
    EXPECT_EQ(files().linkCount(second), 2);
    ASSERT_TRUE(files().writeInBackground(moved, bytesOf("linked"))->done());
    EXPECT_EQ(textIn(second), "linked");
    EXPECT_FALSE(files().link(moved, second));
    EXPECT_EQ(files().lastError(), err::kAlreadyExists);
    EXPECT_TRUE(files().removeFile(moved));
    EXPECT_EQ(files().linkCount(second), 1);
    EXPECT_EQ(textIn(second), "linked");
    EXPECT_FALSE(files().link(moved, scratch("third")));
    EXPECT_EQ(files().lastError(), err::kFileNotFound);
    EXPECT_EQ(files().linkCount(moved), 0);
    EXPECT_TRUE(files().removeFile(second));
    EXPECT_FALSE(files().writeInBackground(scratch("missing\\x.bin"), bytesOf(bytes))->done());
    EXPECT_EQ(files().lastError(), err::kPathNotFound);
    EXPECT_TRUE(files().removeFile(path));
    EXPECT_FALSE(files().exists(path));
    EXPECT_FALSE(files().removeFile(path));
}

TEST(FilesFolders, MissingFilesAndFoldersAreReportedAsSuch) {
    EXPECT_EQ(openError(scratch("missing.txt"), OpenMode::Read), err::kFileNotFound);
    EXPECT_EQ(openError(scratch("missing\\x.txt"), OpenMode::Read), err::kPathNotFound);
    EXPECT_EQ(openError(scratch("missing\\x.txt"), OpenMode::CreateAlways), err::kPathNotFound);
    EXPECT_FALSE(files().lastModified(scratch("missing.txt")).has_value());
    EXPECT_FALSE(files().isDirectory(scratch("missing")));
}

TEST(FilesFolders, FoldersAreCreatedWithTheirParentsAndListedByPattern) {
    const std::string folder = scratch("Lost\\Images");
    ASSERT_TRUE(files().createDirectories(folder));
    EXPECT_TRUE(files().isDirectory(folder));
    EXPECT_TRUE(files().createDirectories(folder)) << "an existing folder is fine";
    for (const char* name : {"IMG00001.tif", "IMG00002.TIF", "IMG1.tif", "notes.txt"})
        ASSERT_TRUE(writeWholeFile(files(), joinPath(folder, name), bytesOf("x")));
    ASSERT_TRUE(files().createDirectories(joinPath(folder, "IMGsub.tif")));

    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end(), [](const std::string& a, const std::string& b) {
            return lowered(a) < lowered(b);
        });
        return v;
    };
    EXPECT_EQ(sorted(files().list(folder, "IMG0000?.tif")),
              (std::vector<std::string>{"IMG00001.tif", "IMG00002.TIF"}));
    EXPECT_EQ(sorted(files().list(folder, "*.tif")),
              (std::vector<std::string>{"IMG00001.tif", "IMG00002.TIF", "IMG1.tif"}))
        << "folders are not listed";
    EXPECT_EQ(files().list(folder, "*.txt"), (std::vector<std::string>{"notes.txt"}));
    EXPECT_EQ(files().list(folder, "*.*").size(), 4u);
    EXPECT_TRUE(files().list(folder, "*.bmp").empty());
    for (const auto& name : files().list(folder, "*"))
        EXPECT_TRUE(files().removeFile(joinPath(folder, name)));
}

TEST(FilesFolders, AWrittenFileIsDatedNowInLocalTime) {
    const std::string path = scratch("Raw.TIF");
    const LocalTime before = contractEnv().platform().clock().localTime();
    ASSERT_TRUE(writeWholeFile(files(), path, bytesOf("raw")));
    const auto stamp = files().lastModified(path);
    ASSERT_TRUE(stamp.has_value());
    EXPECT_LE(std::llabs(secondsOf(*stamp) - secondsOf(before)), 2)
        << stamp->year << "-" << stamp->month << "-" << stamp->day << " " << stamp->hour << ":"
        << stamp->minute << ":" << stamp->second;
    // Time passes; a file written later is dated later.
    contractEnv().pumpFor(2100);
    ASSERT_TRUE(writeWholeFile(files(), path, bytesOf("raw2")));
    const auto later = files().lastModified(path);
    ASSERT_TRUE(later.has_value());
    EXPECT_GE(secondsOf(*later) - secondsOf(*stamp), 1);
    EXPECT_TRUE(files().removeFile(path));
}

TEST(FilesFolders, OpenFilesShareWithReadersOnly) {
    constexpr ErrorCode kSharingViolation = 32;
    const std::string path = scratch("shared.log");
    {
        auto writer = files().open(path, OpenMode::CreateAlways);
        ASSERT_NE(writer, nullptr);
        EXPECT_EQ(openError(path, OpenMode::Read), kSharingViolation)
            << "readers share with readers only";
        EXPECT_EQ(openError(path, OpenMode::Append), kSharingViolation);
        EXPECT_FALSE(files().removeFile(path)) << "an open file cannot be deleted";
        EXPECT_EQ(files().lastError(), kSharingViolation);
    }
    {
        auto first = files().open(path, OpenMode::Read);
        auto second = files().open(path, OpenMode::Read);
        EXPECT_NE(first, nullptr);
        EXPECT_NE(second, nullptr) << "two readers are fine";
        EXPECT_EQ(openError(path, OpenMode::CreateAlways), kSharingViolation);
    }
    const std::string fresh = scratch("new.tif");
    {
        auto created = files().open(fresh, OpenMode::CreateNew);
        ASSERT_NE(created, nullptr);
        EXPECT_EQ(openError(fresh, OpenMode::Read), kSharingViolation)
            << "a new file is not shared";
    }
    EXPECT_TRUE(files().removeFile(fresh));
    EXPECT_TRUE(files().removeFile(path)) << "closed files can go";
}

TEST(FilesFolders, RelativePathsStartAtTheCurrentDirectory) {
    const std::string folder = contractEnv().scratchFolder();
    ASSERT_TRUE(files().setCurrentDirectory(folder));
    ASSERT_TRUE(writeWholeFile(files(), "relative.txt", bytesOf("r")));
    EXPECT_TRUE(files().exists(joinPath(folder, "relative.txt")));
    EXPECT_TRUE(files().removeFile(joinPath(folder, "relative.txt")));
    EXPECT_FALSE(files().setCurrentDirectory(scratch("missing")));
    ASSERT_TRUE(files().setCurrentDirectory(files().programFolder()));
}

}  // namespace
}  // namespace quilo::contract
