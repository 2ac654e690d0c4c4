// Process, clock and library contract: the single-instance guard, version record, mouse
// pointer, error texts, the tick count and failing library loads.
#include <gtest/gtest.h>

#include "contract_env.h"

namespace quilo::contract {
namespace {

using namespace platform;

TEST(ProcessClock, OnlyOneGuardOfANameAtATime) {
    auto& process = contractEnv().platform().process();
    auto first = process.acquireSingleInstance("QuiloContractGuard");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(process.acquireSingleInstance("QuiloContractGuard"), nullptr);
    auto other = process.acquireSingleInstance("QuiloContractGuardOther");
    EXPECT_NE(other, nullptr) << "another name is independent";
    first.reset();
    auto again = process.acquireSingleInstance("QuiloContractGuard");
    EXPECT_NE(again, nullptr) << "released with the guard object";
}

TEST(ProcessClock, VersionPointerAndErrorTexts) {
    auto& process = contractEnv().platform().process();
    const VersionInfo v = process.version();
    EXPECT_FALSE(v.productName.empty());
    EXPECT_GE(v.major, 0);
    const int before = process.mousePointer();
    process.setMousePointer(pointer::kHourglass);
    EXPECT_EQ(process.mousePointer(), pointer::kHourglass);
    process.setMousePointer(before);
    EXPECT_EQ(process.mousePointer(), before);
    const std::string text = process.errorText(err::kFileNotFound);
    ASSERT_FALSE(text.empty());
    EXPECT_NE(text.back(), '\n') << "no line break at the end";
    EXPECT_NE(text.back(), '\r');
}

TEST(ProcessClock, TickCountAndLocalTimeMoveOnWithTime) {
    auto& clock = contractEnv().platform().clock();
    const std::uint32_t t0 = clock.tickCount();
    const LocalTime lt = clock.localTime();
    EXPECT_GE(lt.year, 2020);
    EXPECT_TRUE(lt.month >= 1 && lt.month <= 12);
    EXPECT_TRUE(lt.day >= 1 && lt.day <= 31);
    EXPECT_TRUE(lt.hour >= 0 && lt.hour < 24);
    contractEnv().pumpFor(100);
    const std::uint32_t spent = clock.tickCount() - t0;  // wraps like GetTickCount
    EXPECT_GE(spent, 90u);
    EXPECT_LT(spent, 5000u);
}

TEST(ProcessClock, LoadingAMissingLibraryFailsAsModuleNotFound) {
    auto& libs = contractEnv().platform().libraries();
    EXPECT_EQ(libs.load("QuiloNoSuchLibrary.dll"), nullptr);
    EXPECT_EQ(libs.lastError(), 126u);
    EXPECT_EQ(libs.load(joinPath(contractEnv().scratchFolder(), "Missing.dll")), nullptr);
    EXPECT_EQ(libs.lastError(), 126u);
}

}  // namespace
}  // namespace quilo::contract
