// Sockets are closed on exec: a program the process starts (the updater's installer) never holds
// one of its connections.
#include <fcntl.h>
#include <gtest/gtest.h>

#include "unit/transport/socket_test_pair.h"

namespace brixa {
namespace {

bool ClosedOnExec(TIdStackSocketHandle socket) {
  const int flags = ::fcntl(static_cast<int>(socket), F_GETFD);
  return flags != -1 && (flags & FD_CLOEXEC) != 0;
}

TEST(SocketInheritanceTest, ListeningConnectedAndAcceptedSocketsAreClosedOnExec) {
  testing::StackUse use;
  testing::LoopbackPair pair;
  EXPECT_TRUE(ClosedOnExec(pair.listener->SocketId()));
  EXPECT_TRUE(ClosedOnExec(pair.client.SocketId()));
  EXPECT_TRUE(ClosedOnExec(pair.server.SocketId()));
}

}  // namespace
}  // namespace brixa
