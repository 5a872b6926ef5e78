// Private files: created anew for this user alone, never through a link.
#include "platform/files/private_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/core/exception.h"
#include "platform/files/secure_path.h"
#include "platform/process/process_launch.h"
#include "support/peers/peer_process.h"
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

constexpr const char* kOtherUid = "4242";  // a user with no account
constexpr int kOtherUserTimeoutMs = 30000;

int RunAsOtherUser(const std::string& script) {
  return test::RunProgram("/usr/bin/setpriv",
                          {std::string("--reuid=") + kOtherUid, std::string("--regid=") + kOtherUid,
                           "--clear-groups", "/bin/sh", "-c", script},
                          kOtherUserTimeoutMs)
      .exitCode;
}

// Another user, in a folder they may write: the download cannot be read or rewritten while it
// is written, and renaming it and planting another file under its name changes nothing of what
// starts, which is the file written.
TEST(PrivateFile, AnotherUserCanNeitherRewriteNorSwapTheWrittenFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is missing (package util-linux)";
  test::TempDir dir;
  fs::permissions(dir.Root(), fs::perms::all);
  const std::string name = dir.Path("installer");
  const std::string marker = dir.Path("marker");
  const mode_t saved = ::umask(0);
  auto written = TPrivateFile::Create(name);
  ::umask(saved);
  const std::string script = "#!/bin/sh\necho original > '" + marker + "'\n";
  written->WriteBuffer(script.data(), static_cast<std::int64_t>(script.size()));
  EXPECT_NE(RunAsOtherUser("echo 'echo planted' >> '" + name + "'"), 0);
  EXPECT_NE(RunAsOtherUser("cat '" + name + "' > /dev/null"), 0);

  unsigned long error = 0;
  auto file = TLaunchableFile::FromWritten(std::move(written), error);
  ASSERT_NE(file, nullptr) << error;
  ASSERT_EQ(RunAsOtherUser("mv '" + name + "' '" + name +
                           ".moved' && printf '#!/bin/sh\\necho planted > " + marker + "\\n' > '" +
                           name + "' && chmod 755 '" + name + "'"),
            0);
  const TProcessLaunch launch = file->Launch();
  ASSERT_TRUE(launch.Started) << launch.ErrorCode;
  for (int i = 0; i < 100 && test::ReadFileText(marker).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(test::ReadFileText(marker), "original\n");
  fs::permissions(dir.Root(), fs::perms::owner_all);
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
