// A second copy of the updater ends at once, without touching the network.

#include "app/updater.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/version_check.h"
#include "platform/process/single_instance.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace brixa {
namespace {

// While another holder has the single-instance marker, the updater ends at once with 0 and
// never reaches the network.
TEST(Updater, SecondCopyEndsAtOnceWithoutNetworkAccess) {
#ifndef _WIN32
  // The marker goes to a private directory of this test, not to one other users share.
  test::TempDir runtimeDir;
  std::filesystem::permissions(runtimeDir.Root(), std::filesystem::perms::owner_all);
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string restore = saved != nullptr ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", runtimeDir.Root().c_str(), 1);
  struct Restore {
    const std::string& value;
    ~Restore() {
      if (value.empty())
        ::unsetenv("XDG_RUNTIME_DIR");
      else
        ::setenv("XDG_RUNTIME_DIR", value.c_str(), 1);
    }
  } restoreAtEnd{restore};
#endif
  TNamedMutex first(kUpdaterName);
  ASSERT_TRUE(first.Valid());
  ASSERT_FALSE(first.AlreadyExists()) << "another updater is running on this machine";
  test::ScriptedServer server({test::Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")},
                              test::ScriptedServerOptions{false, 200});
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
  EXPECT_EQ(RunUpdater(base + kVersionFilePath, base + kInstallerPath), 0);
  EXPECT_EQ(server.Accepted(), 0u);
}

}  // namespace
}  // namespace brixa
