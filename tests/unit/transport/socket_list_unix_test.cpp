#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include "socket_test_pair.h"
#include "transport/socket_list.h"

namespace brixa {
namespace {

using testing::LoopbackPair;
using testing::StackUse;

// Descriptors at or above FD_SETSIZE do not fit an fd_set; the list's waits must still see them.
TEST(SocketListUnixTest, WaitsOnDescriptorsBeyondTheSelectLimit) {
  rlimit limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
  const int high = FD_SETSIZE + 100;
  if (limit.rlim_cur <= static_cast<rlim_t>(high)) GTEST_SKIP() << "descriptor limit too low";
  StackUse use;
  LoopbackPair pair;
  ASSERT_EQ(::dup2(pair.server.SocketId(), high), high);
  TIdSocketList list;
  list.Add(high);
  EXPECT_FALSE(list.SelectRead(0));
  LoopbackPair::SendText(pair.client, "far");
  EXPECT_TRUE(list.SelectRead(2000));
  ::close(high);
}

}  // namespace
}  // namespace brixa
