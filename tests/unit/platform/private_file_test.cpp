// Private files: created anew for this user alone, never through a link.
#include "platform/private_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/exception.h"
#include "platform/secure_path.h"
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

// A folder others may write is safe only with the sticky bit, wherever it is on the way up.
TEST(SecurePath, RefusesFoldersOthersMayChange) {
  test::TempDir dir;
  const std::string inner = dir.Path("product");
  fs::create_directory(inner);
  const struct {
    const char* what;
    fs::perms outer;
    bool secure;
  } cases[] = {
      {"private", fs::perms::owner_all, true},
      {"group-writable above", fs::perms::owner_all | fs::perms::group_all, false},
      {"world-writable above", fs::perms::all, false},
      {"world-writable and sticky above", fs::perms::all | fs::perms::sticky_bit, true},
  };
  for (const auto& c : cases) {
    fs::permissions(dir.Root(), c.outer);
    std::string why;
    EXPECT_EQ(IsSecurePath(inner, why), c.secure) << c.what << ": " << why;
    if (!c.secure) {
      EXPECT_NE(why.find(dir.Root()), std::string::npos) << why;
    }
  }
  fs::permissions(dir.Root(), fs::perms::owner_all);
  std::string why;
  EXPECT_FALSE(IsSecurePath(dir.Path("missing"), why));
}
#endif

}  // namespace
}  // namespace brixa
