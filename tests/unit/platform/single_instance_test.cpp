#include "platform/single_instance.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/clock.h"
#include "unit/platform/self_launch.h"

namespace brixa {
namespace {

using test::TempDir;

// A name no real updater and no other test run uses.
std::string UniqueName(const char* purpose) {
  return std::string("BrixaTest-") + purpose + "-" + std::to_string(CurrentThreadId()) + "-" +
         std::to_string(MonotonicMilliseconds());
}

TEST(SingleInstanceTest, SecondHolderInTheSameProcessIsToldTheNameExists) {
  const std::string name = UniqueName("local");
  auto first = std::make_unique<TNamedMutex>(name);
  ASSERT_TRUE(first->Valid());
  EXPECT_FALSE(first->AlreadyExists());
  EXPECT_EQ(first->LastError(), 0u);

  TNamedMutex second(name);
  EXPECT_TRUE(second.Valid());
  EXPECT_TRUE(second.AlreadyExists());
  EXPECT_EQ(second.LastError(), kErrorAlreadyExists);

  second.Close();
  first.reset();
  TNamedMutex third(name);
  EXPECT_FALSE(third.AlreadyExists());
}

TEST(SingleInstanceTest, AnotherProcessSeesTheNameUntilTheHolderLetsGo) {
  TempDir dir;
  const std::string name = UniqueName("cross");
  auto holder = std::make_unique<TNamedMutex>(name);
  ASSERT_FALSE(holder->AlreadyExists());

  const std::string whileHeld = dir.Path("held.txt");
  EXPECT_EQ(test::RunSelfAs("mutex|" + name + "|" + whileHeld, whileHeld), "1 183");

  holder.reset();
  const std::string afterRelease = dir.Path("released.txt");
  EXPECT_EQ(test::RunSelfAs("mutex|" + name + "|" + afterRelease, afterRelease), "0 0");
}

#ifndef _WIN32
TEST(SingleInstanceTest, LockFileLivesInTheRuntimeDirectoryElseTheTempDirectory) {
  TempDir runtimeDir;
  TempDir tempDir;
  const char* savedRuntime = std::getenv("XDG_RUNTIME_DIR");
  const std::string restoreRuntime = savedRuntime ? savedRuntime : "";
  const char* savedTemp = std::getenv("TMPDIR");
  const std::string restoreTemp = savedTemp ? savedTemp : "";

  const std::string name = UniqueName("where");
  test::SetEnvironmentVariable("XDG_RUNTIME_DIR", runtimeDir.Root());
  {
    TNamedMutex guard(name);
    EXPECT_TRUE(std::filesystem::exists(runtimeDir.Path(name + ".lock")));
  }
  test::SetEnvironmentVariable("XDG_RUNTIME_DIR", "");
  test::SetEnvironmentVariable("TMPDIR", tempDir.Root());
  {
    TNamedMutex guard(name);
    EXPECT_TRUE(std::filesystem::exists(tempDir.Path(name + ".lock")));
  }
  test::SetEnvironmentVariable("XDG_RUNTIME_DIR", restoreRuntime);
  test::SetEnvironmentVariable("TMPDIR", restoreTemp);

  // A directory that cannot hold the file: no handle, the reason kept, not "exists".
  test::SetEnvironmentVariable("XDG_RUNTIME_DIR", runtimeDir.Path("missing/dir"));
  TNamedMutex nowhere(name);
  test::SetEnvironmentVariable("XDG_RUNTIME_DIR", restoreRuntime);
  EXPECT_FALSE(nowhere.Valid());
  EXPECT_EQ(nowhere.LastError(), 2u);  // ENOENT
  EXPECT_FALSE(nowhere.AlreadyExists());
}
#endif

}  // namespace
}  // namespace brixa
