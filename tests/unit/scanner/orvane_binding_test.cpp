#include "scanner/orvane_binding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "support/world.h"
#include "support/wrappers.h"

namespace quilo::scanner {
namespace {

using abi::HandleOut;

// Library functions of a pretend device; they keep no state, the tests look at what comes back.
Long ORVANE_CALL fakeGetIni(char* b) {
    std::strcpy(b, "C:\\Scanner\\OrvaneEx.ini");
    return 0;
}
Long ORVANE_CALL fakeParamname(char* b, Long n) {
    if (n != 2) return -2;
    std::strcpy(b, "Panoramic");
    return 0;
}
// Fills the whole 255-character buffer without a terminating NUL.
Long ORVANE_CALL fakeImageName(char* b) {
    std::memset(b, 'N', 255);
    return 1;
}
Long ORVANE_CALL fakeStatus() {
    return 0x2000000 | 0x10000 | 2;
}
Long ORVANE_CALL fakeInfo(const char* name, unsigned char* r) {
    if (std::strcmp(name, "PLATE1") != 0) return -2;
    std::memset(r, 0, 108);
    // Width 0x0310, height 0x07D0, pitches 25000 and 50000 nm, 16 bits.
    const std::pair<int, unsigned char> fields[] = {{4, 0x10},  {5, 0x03},  {8, 0xD0},  {9, 0x07},
                                                    {12, 0xA8}, {13, 0x61}, {16, 0x50}, {17, 0xC3},
                                                    {20, 16},   {107, 0xFF}};
    for (const auto& [at, value] : fields)
        r[at] = value;
    return 0;
}
Long ORVANE_CALL fakeRaw(const char* name, Long w, Long h, HandleOut* image, Long* bytes, Long opt,
                         Long map, Long lo, Long hi) {
    if (std::strcmp(name, "PLATE1") != 0) return -2;
    *image = static_cast<HandleOut>(0x7000 + opt * 0x100 + map);
    *bytes = w * 1000 + h * 100 + lo * 10 + hi;  // each argument in its own place
    return 0;
}
Long ORVANE_CALL fakePrescan(HandleOut* picture, Long* bytes) {
    *picture = 0x4242;
    *bytes = 77;
    return 0;
}

template <typename F>
void* ptr(F f) {
    return reinterpret_cast<void*>(f);
}

// The pretend device registered as the world's OrvaneEx.dll, each load recorded.
class OrvaneBindingTest : public ::testing::Test {
  protected:
    OrvaneBindingTest() {
        w.world.registerLibrary({"OrvaneEx.dll",
                                 {{"Get_IniFileName", ptr(&fakeGetIni)},
                                  {"Get_Paramname", ptr(&fakeParamname)},
                                  {"Get_ImageName", ptr(&fakeImageName)},
                                  {"Get_Status", ptr(&fakeStatus)},
                                  {"Get_ImageInfo", ptr(&fakeInfo)},
                                  {"GetRawImage", ptr(&fakeRaw)},
                                  {"GetPrescanImage", ptr(&fakePrescan)}}});
    }
    struct Loads : test::LibrariesWrapper {
        using LibrariesWrapper::LibrariesWrapper;
        std::unique_ptr<platform::Library> load(std::string_view path) override {
            loaded.emplace_back(path);
            return LibrariesWrapper::load(path);
        }
        std::vector<std::string> loaded;
    };
    test::TestWorld w;
    Loads libs{w.proc.libraries()};
    OrvaneBinding binding{libs};
};

TEST_F(OrvaneBindingTest, LoadsTheLibraryOnFirstUseAndLooksUpEveryExportByName) {
    EXPECT_FALSE(binding.loaded());
    EXPECT_EQ(binding.Get_Status(), 0x2010002);
    EXPECT_THAT(libs.loaded, ::testing::ElementsAre("OrvaneEx.dll"));
    EXPECT_EQ(binding.missingExports().size(), static_cast<std::size_t>(abi::kExportCount - 7));
    EXPECT_THAT(binding.missingExports(), ::testing::Contains("Aktivate_Scanner"));
    binding.Get_Status();
    EXPECT_EQ(libs.loaded.size(), 1u);
}

TEST_F(OrvaneBindingTest, TextResultsComeBackAsTheWholeBuffer) {
    std::string buffer;
    // Each call's result, its buffer's size and the text up to the first NUL.
    const auto got = [&](Long result) {
        return std::tuple(result, buffer.size(), untilNul(buffer));
    };
    EXPECT_EQ(got(binding.Get_IniFileName(buffer)),
              std::tuple(0, 256u, "C:\\Scanner\\OrvaneEx.ini"));
    EXPECT_EQ(got(binding.Get_Paramname(buffer, 1)), std::tuple(-2, 256u, ""));
    EXPECT_EQ(got(binding.Get_Paramname(buffer, 2)), std::tuple(0, 256u, "Panoramic"));
    // The image name buffer is 255 characters; a name filling it has no NUL of its own.
    EXPECT_EQ(got(binding.Get_ImageName(buffer)), std::tuple(1, 255u, std::string(255, 'N')));
}

TEST_F(OrvaneBindingTest, RecordsAndOutValuesTravelBothWays) {
    ImageInfoRecord record{};
    EXPECT_EQ(binding.Get_ImageInfo("PLATE9", record), -2);
    ASSERT_EQ(binding.Get_ImageInfo("PLATE1", record), 0);
    const ImageInfo info = parseImageInfo(record);
    EXPECT_EQ(std::tuple(info.width, info.height, info.pitchXNm, info.pitchYNm, info.bitsPerPixel),
              std::tuple(0x310, 0x7D0, 25000, 50000, 16));
    EXPECT_EQ(record[107], std::byte{0xFF});

    platform::HGlobal image = 0;
    Long bytes = 0;
    ASSERT_EQ(binding.GetRawImage("PLATE1", 1, 2, image, bytes, 1, 2, 3, 4), 0);
    EXPECT_EQ(std::tuple(image, bytes), std::tuple(0x7102u, 1234));
    platform::HGlobal picture = 0;
    ASSERT_EQ(binding.GetPrescanImage(picture, bytes), 0);
    EXPECT_EQ(std::tuple(picture, bytes), std::tuple(0x4242u, 77));
}

}  // namespace
}  // namespace quilo::scanner
