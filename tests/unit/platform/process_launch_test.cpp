#include "platform/process_launch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/gui_backend.h"
#include "platform/single_instance.h"
#include "unit/platform/self_launch.h"

namespace brixa {
namespace {

using test::AwaitFile;
using test::ReadFileText;
using test::TempDir;
using test::WriteFileText;

std::vector<std::string> Fields(const std::string& text) {
  std::vector<std::string> fields(1);
  for (char c : text) {
    if (c == test::kRoleFieldSeparator) {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

// Writes the result file in one step, so the parent never reads half of it.
void Publish(const std::string& path, const std::string& text) {
  const std::string partial = path + ".part";
  WriteFileText(partial, text);
  std::rename(partial.c_str(), path.c_str());
}

// The helper-program side of self_launch.h; runs during static initialisation.
//   marker|<result>            -> "<working directory>\n<BRIXA_LAUNCH_PROBE>"
//   mutex|<name>|<result>      -> "<AlreadyExists 0/1> <LastError>"
//   hold|<name>|<release>|<result> -> as mutex, then keeps the marker until <release> exists
//   backend|<result>           -> the name of the GUI backend the platform picks
bool PlayChildRole() {
  const char* role = std::getenv(test::kChildRoleVariable);
  if (role == nullptr || *role == '\0') return false;
  const std::vector<std::string> f = Fields(role);
  if (f[0] == "marker" && f.size() == 2) {
    const char* probe = std::getenv("BRIXA_LAUNCH_PROBE");
    Publish(f[1], std::filesystem::current_path().string() + "\n" + (probe ? probe : "(unset)"));
  } else if (f[0] == "mutex" && f.size() == 3) {
    TNamedMutex mutex(f[1]);
    Publish(f[2], std::to_string(mutex.AlreadyExists() ? 1 : 0) + " " +
                      std::to_string(mutex.LastError()));
  } else if (f[0] == "hold" && f.size() == 4) {
    TNamedMutex mutex(f[1]);
    Publish(f[3], std::to_string(mutex.AlreadyExists() ? 1 : 0) + " " +
                      std::to_string(mutex.LastError()));
    (void)AwaitFile(f[2]);
  } else if (f[0] == "backend" && f.size() == 2) {
    Publish(f[1], NewDefaultGuiBackend()->Name());
  }
  std::_Exit(0);
}
const bool kPlayedChildRole = PlayChildRole();

TEST(ProcessLaunchTest, StartsAProgramInOurEnvironmentAndDirectoryWithoutWaiting) {
  TempDir dir;
  const std::string result = dir.Path("marker.txt");
  test::SetEnvironmentVariable("BRIXA_LAUNCH_PROBE", "inherited");
  const std::string written = test::RunSelfAs("marker|" + result, result);
  test::SetEnvironmentVariable("BRIXA_LAUNCH_PROBE", "");
  EXPECT_EQ(written, std::filesystem::current_path().string() + "\ninherited");
}

#ifndef _WIN32
TEST(ProcessLaunchTest, MakesADownloadedScriptExecutableBeforeStartingIt) {
  TempDir dir;
  const std::string marker = dir.Path("script-ran");
  const std::string script = dir.Path("installer.sh");
  WriteFileText(script, "#!/bin/sh\necho \"$#:$0\" > '" + marker + ".part'\nmv '" + marker +
                            ".part' '" + marker + "'\n");
  std::filesystem::permissions(
      script, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  const TProcessLaunch launch = LaunchProcess(script);
  ASSERT_TRUE(launch.Started) << launch.ErrorCode;
  EXPECT_NE(launch.ProcessId, 0u);
  EXPECT_EQ(AwaitFile(marker), "0:" + script + "\n");  // no arguments
  EXPECT_NE(std::filesystem::status(script).permissions() & std::filesystem::perms::owner_exec,
            std::filesystem::perms::none);
}
#endif

TEST(ProcessLaunchTest, FailuresCarryTheSystemErrorNumber) {
  TempDir dir;
  const TProcessLaunch missing = LaunchProcess(dir.Path("no-such-installer.exe"));
  EXPECT_FALSE(missing.Started);
  EXPECT_EQ(missing.ErrorCode, 2u);  // ENOENT and ERROR_FILE_NOT_FOUND alike

  // An empty download (as a redirect loop leaves behind) is not a program.
  const std::string empty = dir.Path("empty.exe");
  WriteFileText(empty, "");
  const TProcessLaunch notAProgram = LaunchProcess(empty);
  EXPECT_FALSE(notAProgram.Started);
#ifdef _WIN32
  EXPECT_EQ(notAProgram.ErrorCode, 193u);  // ERROR_BAD_EXE_FORMAT
#else
  EXPECT_EQ(notAProgram.ErrorCode, 8u);  // ENOEXEC
#endif
}

}  // namespace
}  // namespace brixa
