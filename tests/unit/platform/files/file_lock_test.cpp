// The exclusive lock file: one holder at a time, released with its holder, never through a link.
#include "platform/files/file_lock.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brixa {
namespace {

TEST(FileLock, OneHolderAtATimeAndFreeAgainWhenItEnds) {
  test::TempDir dir;
  const std::string name = dir.Path("state.lock");
  auto first = std::make_unique<TFileLock>(name);
  ASSERT_TRUE(first->Held()) << first->Error();
  // Another descriptor, as another process would have, finds it taken.
  const TFileLock second(name);
  EXPECT_EQ(second.State(), TFileLockState::flBusy);
  first.reset();
  const TFileLock third(name);
  EXPECT_TRUE(third.Held()) << third.Error();
}

#ifndef _WIN32
TEST(FileLock, ALinkOrAFolderAtTheNameIsNotTaken) {
  test::TempDir dir;
  test::WriteFileText(dir.Path("victim"), "precious");
  ASSERT_EQ(::symlink(dir.Path("victim").c_str(), dir.Path("link.lock").c_str()), 0);
  ASSERT_EQ(::mkdir(dir.Path("folder.lock").c_str(), 0700), 0);
  for (const char* name : {"link.lock", "folder.lock"}) {
    const TFileLock lock(dir.Path(name));
    EXPECT_EQ(lock.State(), TFileLockState::flFailed) << name;
    EXPECT_NE(lock.Error().find(name), std::string::npos) << lock.Error();
  }
  EXPECT_EQ(test::ReadFileText(dir.Path("victim")), "precious");
}
#endif

}  // namespace
}  // namespace brixa
