// Starting a held, verified file with raised rights: where the system can ask for them, the file
// that was held is the one that runs; elsewhere the start says it cannot.
#include "platform/process/elevated_launch.h"

#include <gtest/gtest.h>

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/files/module_path.h"
#include "unit/platform/self_launch.h"

namespace brixa {
namespace {

TEST(ElevatedLaunch, StartsTheHeldFileOrSaysItCannot) {
  if (!CanLaunchElevated()) {
    const TProcessLaunch launch = LaunchElevated(ProgramFileName());
    EXPECT_FALSE(launch.Started);
    EXPECT_EQ(launch.ErrorCode, static_cast<unsigned long>(ENOTSUP));
    return;
  }
  test::TempDir dir;
  const std::string copy = dir.Path("installer.exe");
  test::WriteFileText(copy, test::ReadFileText(ProgramFileName()));
  unsigned long error = 0;
  const auto held = TLaunchableFile::Open(copy, error);
  ASSERT_NE(held, nullptr) << error;
#ifdef _WIN32
  // Held from the check to the start: it can be neither deleted nor renamed over.
  EXPECT_FALSE(::DeleteFileA(copy.c_str()));
  test::WriteFileText(dir.Path("other.exe"), "MZ planted");
  EXPECT_FALSE(
      ::MoveFileExA(dir.Path("other.exe").c_str(), copy.c_str(), MOVEFILE_REPLACE_EXISTING));
#endif
  const std::string result = dir.Path("marker.txt");
  test::SetEnvironmentVariable(test::kChildRoleVariable, "marker|" + result);
  const TProcessLaunch launch = LaunchElevated(copy);
  test::SetEnvironmentVariable(test::kChildRoleVariable, "");
  ASSERT_TRUE(launch.Started) << launch.ErrorCode;
  EXPECT_NE(test::AwaitFile(result), "");
}

}  // namespace
}  // namespace brixa
