// Launching programs: environment and directory inherited, downloaded scripts made executable,
// and launchable files that start exactly what was read.

#include "platform/process/process_launch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "platform/files/private_file.h"
#include "platform/gui/gui_backend.h"
#include "platform/process/single_instance.h"
#include "support/peers/peer_process.h"
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

// A copy of this binary, held and started through TLaunchableFile, plays the marker role: what
// is read through the object is the file, and what starts is that file.
TEST(ProcessLaunchTest, LaunchableFileStartsTheFileItWasReadFrom) {
  namespace fs = std::filesystem;
  const std::string self = ReadFileText(ProgramFileName());
  const struct {
    const char* what;
    fs::perms directory;  // the file's directory: private, or open to everyone
  } cases[] = {
      {"private directory", fs::perms::owner_all},
#ifndef _WIN32
      {"directory others may write", fs::perms::all},
#endif
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    fs::permissions(dir.Root(), c.directory);
    const std::string copy =
        dir.Path("installer" + std::string(ProgramFileName().ends_with(".exe") ? ".exe" : ""));
    WriteFileText(copy, self);
    unsigned long error = 0;
    auto file = TLaunchableFile::Open(copy, error);
    ASSERT_NE(file, nullptr) << error;
    std::string read;
    char block[65536];
    for (std::int64_t got; (got = file->Read(block, sizeof block)) > 0;) {
      read.append(block, static_cast<std::size_t>(got));
    }
    EXPECT_TRUE(read == self);
#ifdef _WIN32
    // Held: nobody may change or delete it until it is started.
    EXPECT_FALSE(::DeleteFileA(copy.c_str()));
    const HANDLE writer =
        ::CreateFileA(copy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    if (writer != INVALID_HANDLE_VALUE) ::CloseHandle(writer);
#else
    EXPECT_EQ(fs::status(copy).permissions(), fs::perms::owner_read | fs::perms::owner_exec);
#endif
    const std::string result = dir.Path("marker.txt");
    test::SetEnvironmentVariable(test::kChildRoleVariable, "marker|" + result);
    const TProcessLaunch launch = file->Launch();
    test::SetEnvironmentVariable(test::kChildRoleVariable, "");
    ASSERT_TRUE(launch.Started) << launch.ErrorCode;
    EXPECT_NE(AwaitFile(result), "");
  }
}

#ifndef _WIN32
TEST(ProcessLaunchTest, LaunchableFileRefusesLinksAndForeignNames) {
  namespace fs = std::filesystem;
  TempDir dir;
  const std::string real = dir.Path("real.exe");
  WriteFileText(real, "#!/bin/sh\n");
  fs::create_symlink(real, dir.Path("link.exe"));
  unsigned long error = 0;
  EXPECT_EQ(TLaunchableFile::Open(dir.Path("link.exe"), error), nullptr);
  EXPECT_EQ(error, 40u);  // ELOOP: a link is never followed
  fs::create_hard_link(real, dir.Path("second-name.exe"));
  EXPECT_EQ(TLaunchableFile::Open(real, error), nullptr);  // another name could change it
  EXPECT_EQ(error, 1u);                                    // EPERM
  EXPECT_EQ(TLaunchableFile::Open(dir.Path("missing.exe"), error), nullptr);
  EXPECT_EQ(error, 2u);
}
#endif

// A file written through a private handle is started from that handle: this binary, and on
// POSIX a "#!" script too, whose interpreter reads it through the descriptor left open for it.
TEST(ProcessLaunchTest, WrittenFileStartsFromTheHandleThatWroteIt) {
  const std::string self = ReadFileText(ProgramFileName());
  struct Case {
    const char* what;
    std::string bytes;
    bool childRole;
  };
  std::vector<Case> cases = {{"this program", self, true}};
#ifndef _WIN32
  cases.push_back({"a script", "#!/bin/sh\necho \"$0\" > \"$BRIXA_SCRIPT_MARKER\"\n", false});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string name =
        dir.Path("installer" + std::string(ProgramFileName().ends_with(".exe") ? ".exe" : ""));
    auto written = TPrivateFile::Create(name);
    written->WriteBuffer(c.bytes.data(), static_cast<std::int64_t>(c.bytes.size()));
    unsigned long error = 0;
    auto file = TLaunchableFile::FromWritten(std::move(written), error);
    ASSERT_NE(file, nullptr) << error;
    char head[2] = {};
    EXPECT_EQ(file->Read(head, 2), 2) << "read from the start";
    EXPECT_EQ(std::string(head, 2), c.bytes.substr(0, 2));
    const std::string result = dir.Path("marker.txt");
    if (c.childRole) test::SetEnvironmentVariable(test::kChildRoleVariable, "marker|" + result);
    test::SetEnvironmentVariable("BRIXA_SCRIPT_MARKER", result);
    const TProcessLaunch launch = file->Launch();
    test::SetEnvironmentVariable(test::kChildRoleVariable, "");
    ASSERT_TRUE(launch.Started) << launch.ErrorCode;
    EXPECT_NE(AwaitFile(result), "");
  }
}

// The demo installer writes down its arguments and exits with their number: the words a
// command line becomes on each platform, and the exit code a caller that waits is given.
TEST(ProcessLaunchTest, StartsWithArgumentsAndGivesTheExitCodeToAWaitingCaller) {
  const std::string installer =
      ReadFileText(test::BuildTreePath("tests/brixa_demo_installer" + test::ExecutableSuffix()));
  ASSERT_FALSE(installer.empty());
  TempDir dir;
  const std::string copy = dir.Path("setup" + test::ExecutableSuffix());
  WriteFileText(copy, installer);
  unsigned long error = 0;
  auto file = TLaunchableFile::Open(copy, error);
  ASSERT_NE(file, nullptr) << error;
  auto child = file->Start("/S \"/D=C:\\Program Files\\App\" a\\\"b", error);
  ASSERT_NE(child, nullptr) << error;
  EXPECT_EQ(child->Wait(), 3u);
  EXPECT_EQ(child->Wait(0), 3u) << "the same code again";
  EXPECT_NE(ReadFileText(dir.Path("installer_ran.txt"))
                .find("arguments=3\nargument1=/S\nargument2=/D=C:\\Program Files\\App\n"
                      "argument3=a\"b\n"),
            std::string::npos)
      << ReadFileText(dir.Path("installer_ran.txt"));

  // A line break never reaches a command line; nothing is started.
  file = TLaunchableFile::Open(copy, error);
  ASSERT_NE(file, nullptr) << error;
  EXPECT_EQ(file->Start("/S\r\n/Q", error), nullptr);
#ifdef _WIN32
  EXPECT_EQ(error, 87u);  // ERROR_INVALID_PARAMETER
#else
  EXPECT_EQ(error, 22u);                 // EINVAL
#endif
}

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
