#include <gtest/gtest.h>

#include "app/updater.h"

namespace brixa {
namespace {

TEST(UpdateServersTest, AListOfServersGivesTheirUrlsInOrder) {
  const auto servers = UpdateServersOf(" a.example ;https://b.example:8443;;c:81 ");
  ASSERT_EQ(servers.size(), 3u);
  EXPECT_EQ(servers[0].VersionUrl, "http://a.example/brixakit/version.ini");
  EXPECT_EQ(servers[0].InstallerUrl, "http://a.example/brixakit/update.exe");
  EXPECT_EQ(servers[1].VersionUrl, "https://b.example:8443/brixakit/version.ini");
  EXPECT_EQ(servers[2].InstallerUrl, "http://c:81/brixakit/update.exe");
  EXPECT_EQ(UpdateServersOf("127.0.0.1:8471").size(), 1u) << "one server as before";
  EXPECT_TRUE(UpdateServersOf(" ; ").empty());
}

}  // namespace
}  // namespace brixa
