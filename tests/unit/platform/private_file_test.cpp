// Private files: created anew for this user alone, never through a link.
#include "platform/private_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/exception.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brixa {
namespace {

namespace fs = std::filesystem;

TEST(PrivateFile, CreatesAnewReadsBackAndAppends) {
  test::TempDir dir;
  const std::string name = dir.Path("file.bin");
  test::WriteFileText(name, "an old file of that name");
  {
    auto file = TPrivateFile::Create(name);
    file->WriteBuffer("fresh", 5);
    file->SetPosition(0);
    char back[5] = {};
    file->ReadBuffer(back, 5);
    EXPECT_EQ(std::string(back, 5), "fresh");
  }
  {
    auto file = TPrivateFile::OpenForAppend(name);
    file->WriteBuffer("+more", 5);
  }
  EXPECT_EQ(test::ReadFileText(name), "fresh+more");
  EXPECT_THROW((void)TPrivateFile::Create(dir.Path("no/such/folder/file")), EFCreateError);
}

#ifndef _WIN32
// Whatever the umask, and whatever link someone planted at the name.
TEST(PrivateFile, IsOwnerOnlyAndNeverWritesThroughALink) {
  test::TempDir dir;
  const mode_t saved = ::umask(0);
  const std::string name = dir.Path("file.bin");
  (void)TPrivateFile::Create(name);
  ::umask(saved);
  struct stat info {};
  ASSERT_EQ(::stat(name.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);

  const std::string victim = dir.Path("victim");
  test::WriteFileText(victim, "precious");
  for (const bool append : {false, true}) {
    fs::remove(name);
    fs::create_symlink(victim, name);
    auto file = append ? TPrivateFile::OpenForAppend(name) : TPrivateFile::Create(name);
    file->WriteBuffer("x", 1);
    EXPECT_EQ(test::ReadFileText(victim), "precious");
    EXPECT_FALSE(fs::is_symlink(name));
  }
  // A second name of somebody's file is not appended to either.
  fs::remove(name);
  fs::create_hard_link(victim, name);
  TPrivateFile::OpenForAppend(name)->WriteBuffer("x", 1);
  EXPECT_EQ(test::ReadFileText(victim), "precious");
}
#endif

}  // namespace
}  // namespace brixa
