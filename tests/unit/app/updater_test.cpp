#include "app/updater.h"

#include <gtest/gtest.h>

#include "app/version_check.h"
#include "platform/single_instance.h"
#include "support/scripted_server.h"

namespace brixa {
namespace {

// While another holder has the single-instance marker, the updater ends at once with 0 and
// never reaches the network.
TEST(Updater, SecondCopyEndsAtOnceWithoutNetworkAccess) {
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
