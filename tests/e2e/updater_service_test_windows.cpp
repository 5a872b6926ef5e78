// The update service under the Windows service manager: registered by the product's installer,
// it runs as a service, answers on its pipe, installs the release and says so; what a client
// sends it changes nothing but its answer. (Wine runs every process as one user, so the
// privilege boundary itself is tested on Linux.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "platform/process/local_channel.h"
#include "update/service/service_protocol.h"
#include "updater_fixture.h"

namespace brixa::e2e {
namespace {

constexpr int kServiceRunTimeoutMs = 30000;

std::string Ask(const std::string& bytes) {
  std::string error;
  const auto channel = ConnectLocalChannel(kServiceChannelFolder, "BrixaUpdater", 5000, error);
  if (!channel) return "no channel: " + error;
  (void)channel->Write(bytes);
  return channel->ReadLine(kMaxServiceReplyBytes, 5000);
}

TEST_F(UpdaterEndToEnd, TheUpdateServiceRegistersAnswersOnItsPipeAndInstalls) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", InstallerBytes(32 * 1024));
  // Where a machine-wide product lives: the service refuses a folder others may change.
  const std::string folder =
      "C:\\Program Files\\BrixaServiceTest" + std::to_string(::GetCurrentProcessId());
  ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
  const std::string service = folder + "\\BrixaUpdateService.exe";
  ASSERT_TRUE(::CopyFileA(test::BuildTreePath("app/BrixaUpdateService.exe").c_str(),
                          service.c_str(), TRUE));
  test::WriteFileText(folder + "\\version.ini", VersionFile("1"));

  const ProgramResult install = test::RunProgram(service, {"--install"}, kRunTimeoutMs);
  EXPECT_EQ(install.exitCode, 0) << install.stdErr;
  // Its own run at its start installs the release.
  std::string status;
  EXPECT_TRUE(WaitFor([&] { return (status = Ask("STATUS\n")).rfind("STATE done", 0) == 0; },
                      kServiceRunTimeoutMs))
      << status << "\n"
      << test::RunProgram("C:\\windows\\system32\\sc.exe",
                          {"query", "BrixaUpdateService-BrixaUpdater"}, kRunTimeoutMs)
             .stdOut;
  EXPECT_NE(status.find(" installed"), std::string::npos) << status;
  for (const char* attack : {"CHECK C:\\evil.exe\n", "STATUS", "\\\\host\\share\n"}) {
    EXPECT_EQ(Ask(attack).rfind("REFUSED malformed", 0), 0u) << attack;
  }
  EXPECT_EQ(Ask("STATUS\n"), status) << "a refused message started a run";

  const ProgramResult uninstall = test::RunProgram(service, {"--uninstall"}, kRunTimeoutMs);
  EXPECT_EQ(uninstall.exitCode, 0) << uninstall.stdErr;
  EXPECT_TRUE(WaitFor([] { return Ask("STATUS\n").rfind("no channel", 0) == 0; }, 10000));
  (void)::DeleteFileA(service.c_str());
  (void)::DeleteFileA((folder + "\\version.ini").c_str());
  (void)::RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace brixa::e2e
