// The service's local channel is never made in a folder others may change (the exchange itself
// is tested with the real service, as root on Linux and under Wine).
#include "platform/process/local_channel.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_dir.h"

namespace brixa {
namespace {

#ifndef _WIN32
TEST(LocalChannel, NoServiceListensInAFolderOthersMayChange) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  const std::string folder = dir.Path("channel");
  fs::create_directory(folder);
  fs::permissions(folder, fs::perms(0777));
  std::string error;
  EXPECT_EQ(TLocalChannelServer::Listen(folder, "Product", error), nullptr);
  EXPECT_NE(error.find(folder), std::string::npos) << error;
}
#endif

}  // namespace
}  // namespace brixa
