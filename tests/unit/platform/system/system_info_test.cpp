// The temporary directory and the computer name as the system reports them.

#include "platform/system/system_info.h"

#include <gtest/gtest.h>

#include "platform/core/stream.h"

namespace brixa {
namespace {

TEST(SystemInfoTest, TempDirectoryEndsInADelimiterAndIsUsable) {
  const std::string& dir = TempDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(IsSystemPathDelimiter(dir.back())) << dir;
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

}  // namespace
}  // namespace brixa
