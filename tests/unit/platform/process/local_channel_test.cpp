// The service's local channel: a line each way, the peer's user known, no byte read past the
// bound, and no folder others may change.
#include "platform/process/local_channel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "support/temp_dir.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace brixa {
namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
std::string ChannelFolder(const test::TempDir& dir) {
  return "brixa-test-" + fs::path(dir.Root()).filename().string();
}
#else
std::string ChannelFolder(const test::TempDir& dir) {
  const std::string folder = dir.Path("channel");
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms(0755));
  return folder;
}
#endif

TEST(LocalChannel, ALineEachWayWithinTheBound) {
#ifndef _WIN32
  if (::geteuid() != 0) GTEST_SKIP() << "a client trusts only root's channel folder";
#endif
  test::TempDir dir;
  const std::string folder = ChannelFolder(dir);
  std::string error;
  const auto server = TLocalChannelServer::Listen(folder, "Product", error);
  ASSERT_NE(server, nullptr) << error;
  const struct {
    std::string sent;
    std::string read;  // by the server, bounded to 7 bytes
  } cases[] = {
      {"STATUS\n", "STATUS\n"},
      {"CHECK\nCHECK\n", "CHECK\n"},
      {std::string(100, 'A'), std::string(7, 'A')},
  };
  for (const auto& c : cases) {
    std::string read;
    std::optional<std::uint32_t> peer;
    std::thread service([&] {
      const auto connection = server->Accept(5000);
      if (!connection) return;
      read = connection->ReadLine(7, 2000);
      peer = connection->PeerUser();
      (void)connection->Write("STATE idle 0 -1 none\n");
    });
    const auto client = ConnectLocalChannel(folder, "Product", 2000, error);
    ASSERT_NE(client, nullptr) << error;
    EXPECT_TRUE(client->Write(c.sent));
    EXPECT_EQ(client->ReadLine(96, 2000), "STATE idle 0 -1 none\n");
    service.join();
    EXPECT_EQ(read, c.read);
#ifndef _WIN32
    EXPECT_EQ(peer, ::geteuid());
#endif
  }
  EXPECT_EQ(ConnectLocalChannel(folder, "Other", 200, error), nullptr);
}

#ifndef _WIN32
TEST(LocalChannel, NoServiceListensInAFolderOthersMayChange) {
  test::TempDir dir;
  const std::string folder = ChannelFolder(dir);
  fs::permissions(folder, fs::perms(0777));
  std::string error;
  EXPECT_EQ(TLocalChannelServer::Listen(folder, "Product", error), nullptr);
  EXPECT_NE(error.find(folder), std::string::npos) << error;
}
#endif

}  // namespace
}  // namespace brixa
