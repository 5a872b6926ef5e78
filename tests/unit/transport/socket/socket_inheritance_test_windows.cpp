// Sockets are not inheritable: a program the process starts with handle inheritance on (the
// updater's installer) never holds one of its connections.
#include <gtest/gtest.h>
#include <windows.h>

#include "unit/transport/socket_test_pair.h"

namespace brixa {
namespace {

bool Inheritable(TIdStackSocketHandle socket) {
  DWORD flags = 0;
  EXPECT_TRUE(GetHandleInformation(reinterpret_cast<HANDLE>(socket), &flags));
  return (flags & HANDLE_FLAG_INHERIT) != 0;
}

TEST(SocketInheritanceTest, ListeningConnectedAndAcceptedSocketsAreNotInheritable) {
  testing::StackUse use;
  testing::LoopbackPair pair;
  EXPECT_FALSE(Inheritable(pair.listener->SocketId()));
  EXPECT_FALSE(Inheritable(pair.client.SocketId()));
  EXPECT_FALSE(Inheritable(pair.server.SocketId()));
}

}  // namespace
}  // namespace brixa
