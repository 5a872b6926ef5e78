// Datagrams received with their control data, on both platforms' stacks.

#include <gtest/gtest.h>

#include <string>

#include "transport/socket/socket_handle.h"
#include "transport/socket/stack.h"
#include "unit/transport/socket_test_pair.h"

namespace brixa {
namespace {

using testing::StackUse;

TIdSocketHandle& BoundDatagramSocket(TIdSocketHandle& socket) {
  socket.OpenHandle(Id_SOCK_DGRAM, Id_IPPROTO_UDP);
  socket.SetIP("127.0.0.1");
  socket.BindLocal();
  return socket;
}

TEST(StackMessageTest, ReceiveMsgGivesTheDataTheSenderAndThePacketInformation) {
  StackUse use;
  TIdSocketHandle receiver;
  TIdSocketHandle sender;
  BoundDatagramSocket(receiver);
  BoundDatagramSocket(sender);
  receiver.SetSockOpt(Id_IPPROTO_IP, Id_IP_PKTINFO, 1);

  const TIdByteArray payload{'d', 'a', 't', 'a', 0, 0xFF};
  GStack().SendTo(sender.SocketId(), payload, 0, -1, "127.0.0.1", receiver.Port(), Id_IPv4);
  ASSERT_TRUE(receiver.WaitReadable(5000));
  TIdByteArray buffer(64);
  TIdByteArray control(256);
  TIdEndpoint from;
  const int received = GStack().ReceiveMsg(receiver.SocketId(), buffer, control, from);
  ASSERT_EQ(received, static_cast<int>(payload.size()));
  buffer.resize(static_cast<std::size_t>(received));
  EXPECT_EQ(buffer, payload);
  EXPECT_EQ(from.IP, "127.0.0.1");
  EXPECT_EQ(from.Port, sender.Port());
  // The packet information (destination address, interface) came along, and the room offered
  // was cut to it.
  EXPECT_GT(control.size(), 0u);
  EXPECT_LT(control.size(), 256u);

  // Without the option nothing extra comes; a datagram larger than the buffer is cut.
  receiver.SetSockOpt(Id_IPPROTO_IP, Id_IP_PKTINFO, 0);
  GStack().SendTo(sender.SocketId(), payload, 0, -1, "127.0.0.1", receiver.Port(), Id_IPv4);
  ASSERT_TRUE(receiver.WaitReadable(5000));
  TIdByteArray small(4);
  TIdByteArray none(256);
  EXPECT_EQ(GStack().ReceiveMsg(receiver.SocketId(), small, none, from), 4);
  EXPECT_EQ(none.size(), 0u);
}

}  // namespace
}  // namespace brixa
