#include "runtime/system_info.h"

#include <gtest/gtest.h>

#include "platform/stream.h"
#include "runtime/text.h"
#include "runtime/ticks.h"

namespace brixa {
namespace {

TEST(SystemInfoTest, TempDirectoryEndsInADelimiterAndIsUsable) {
  const std::string& dir = TempDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir, IncludeTrailingDelimiter(dir));
  EXPECT_EQ(&dir, &TempDirectory());  // read once, kept
  const std::string probe = dir + "brixa_system_info_probe.tmp";
  { TFileStream file(probe, fmCreate); }
  EXPECT_TRUE(FileExists(probe));
  EXPECT_TRUE(RemoveFile(probe));
}

TEST(SystemInfoTest, ComputerNameIsShortAndPrintable) {
  const std::string name = LocalComputerName();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  for (const char ch : name) EXPECT_GT(static_cast<unsigned char>(ch), 0x20) << name;
}

TEST(TicksTest, TickDiffAllowsOneWrap) {
  EXPECT_EQ(TickDiff(100, 250), 150u);
  EXPECT_EQ(TickDiff(4294967290u, 5), 10u);
  EXPECT_EQ(TickDiff(7, 7), 0u);
  const std::uint32_t before = TickCountMs();
  SleepMs(20);
  // Only a lower bound: how much longer the sleep took is up to the scheduler.
  EXPECT_GE(TickDiff(before, TickCountMs()), 19u);
}

}  // namespace
}  // namespace brixa
