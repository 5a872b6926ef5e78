// Socket handles against loopback: connect failures with Winsock numbers, endpoints, binding,
// waits, sends and closes from another thread.

#include "transport/socket/socket_handle.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#include "runtime/network_exception.h"
#include "runtime/work_component.h"
#include "transport/socket/stack_exceptions.h"
#include "unit/transport/socket_test_pair.h"

namespace brixa {
namespace {

using testing::LoopbackPair;
using testing::StackUse;

// A loopback port on which nothing listens (it was bound a moment ago and released).
std::uint16_t UnusedLoopbackPort() {
  TIdSocketHandle probe;
  probe.OpenHandle();
  probe.SetIP("127.0.0.1");
  probe.BindLocal();
  return probe.Port();
}

TEST(SocketHandleTest, ConnectToAClosedPortIsRefusedWith10061) {
  StackUse use;
  TIdSocketHandle handle;
  handle.OpenHandle();
  handle.SetPeer("127.0.0.1", UnusedLoopbackPort());
  try {
    handle.ConnectToRemote();
    FAIL() << "connected to a port nobody listens on";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
  // The failure leaves the socket as it was.
  EXPECT_TRUE(handle.IsAllocated());
}

TEST(SocketHandleTest, AnUnresolvableNameIsHostNotFound11001) {
  StackUse use;
  try {
    (void)GStack().ResolveHostAddress("no-such-host.invalid", Id_IPv4);
    FAIL() << "resolved a name under .invalid";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 11001);
    EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
  }
  // Through the stack's real lookup, a name that does exist.
  EXPECT_EQ(GStack().NameToAddress("localhost", Id_IPv4), "127.0.0.1");
}

// The system's own failures arrive with the Winsock numbers on every platform.
TEST(SocketHandleTest, FailingCallsReportWinsockNumbers) {
  StackUse use;
  TIdSocketHandle holder;
  holder.OpenHandle();
  holder.SetIP("127.0.0.1");
  holder.BindLocal();
  TIdSocketHandle other;
  other.OpenHandle();
  try {
    GStack().BindSocket(other.SocketId(), "127.0.0.1", Id_IPv4, holder.Port());
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.Message(), "Socket Error # 10048\r\nAddress already in use.");
  }
  try {
    (void)GStack().RemoteEndpoint(other.SocketId());
    FAIL();
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.Message(), "Socket Error # 10057\r\nSocket is not connected.");
  }
  EXPECT_THROW(GStack().SetOption(other.SocketId(), Id_SOL_SOCKET, 0x7777, 1), EIdSocketError);
}

// Writing to a connection the peer has dropped raises; it never ends the process with SIGPIPE.
TEST(SocketHandleTest, SendingAfterThePeerLeftRaisesInsteadOfSignalling) {
  StackUse use;
  LoopbackPair pair;
  pair.server.ReleaseSocket();
  const TIdByteArray data(1024, 'x');
  int error = 0;
  for (int attempt = 0; attempt < 50 && error == 0; ++attempt) {
    try {
      (void)pair.client.Send(data);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } catch (const EIdSocketError& e) {
      error = e.LastError();
    }
  }
  EXPECT_TRUE(error == 10053 || error == 10054 || error == 10058) << error;
}

TEST(SocketHandleTest, ConnectRefreshesBothEndpointsOfBothSides) {
  StackUse use;
  LoopbackPair pair;
  EXPECT_EQ(pair.client.RemoteIP(), "127.0.0.1");
  EXPECT_EQ(pair.client.RemotePort(), pair.listener->Port());
  EXPECT_EQ(pair.client.IP(), "127.0.0.1");
  EXPECT_NE(pair.client.Port(), 0);
  EXPECT_EQ(pair.server.RemotePort(), pair.client.Port());
  EXPECT_EQ(pair.server.Port(), pair.listener->Port());
  EXPECT_EQ(pair.client.ReadList().Count(), 1);
  EXPECT_TRUE(pair.client.ReadList().Contains(pair.client.SocketId()));
}

TEST(SocketHandleTest, IPv6LoopbackEndpointsAreUncompressedUpperCaseGroups) {
  StackUse use;
  if (!GStack().CheckIPVersionSupport(Id_IPv6)) GTEST_SKIP() << "no IPv6 on this machine";
  LoopbackPair pair(Id_IPv6);
  EXPECT_EQ(pair.client.RemoteIP(), "0:0:0:0:0:0:0:1");
  EXPECT_EQ(pair.client.IPVersion(), Id_IPv6);
  EXPECT_EQ(pair.server.RemotePort(), pair.client.Port());
  LoopbackPair::SendText(pair.client, "six");
  EXPECT_TRUE(pair.server.WaitReadable(2000));
}

TEST(SocketHandleTest, BindWithoutPortOrRangeTakesAnyFreePort) {
  StackUse use;
  TIdSocketHandle handle;
  handle.OpenHandle();
  handle.BindLocal();
  EXPECT_NE(handle.Port(), 0);
  EXPECT_EQ(handle.IP(), "0.0.0.0");
  EXPECT_EQ(GStack().LocalEndpoint(handle.SocketId()).Port, handle.Port());
}

// Three consecutive loopback ports, each held by a bound socket.
struct OccupiedPorts {
  std::uint16_t low = 0;
  std::array<std::unique_ptr<TIdSocketHandle>, 3> holders;

  bool TryFrom(std::uint16_t first) {
    for (int i = 0; i < 3; ++i) {
      holders[i] = std::make_unique<TIdSocketHandle>();
      holders[i]->OpenHandle();
      holders[i]->SetIP("127.0.0.1");
      holders[i]->SetPort(static_cast<std::uint16_t>(first + i));
      try {
        holders[i]->BindLocal();
      } catch (const EIdCouldNotBindSocket&) {
        for (auto& holder : holders) holder.reset();
        return false;
      }
    }
    low = first;
    return true;
  }
};

TEST(SocketHandleTest, PortRangeIsTriedFromTheHighestPortDown) {
  StackUse use;
  OccupiedPorts ports;
  bool found = false;
  for (std::uint16_t first = 41000; first < 41300 && !found; first += 7)
    found = ports.TryFrom(first);
  ASSERT_TRUE(found) << "no three consecutive free loopback ports";
  const std::uint16_t low = ports.low;
  const std::uint16_t high = static_cast<std::uint16_t>(low + 2);
  TIdSocketHandle client;
  client.SetIP("127.0.0.1");
  client.SetClientPortMin(low);
  client.SetClientPortMax(high);

  client.OpenHandle();
  try {
    client.BindLocal();
    FAIL() << "bound inside a range whose ports are all taken";
  } catch (const EIdCanNotBindPortInRange& e) {
    EXPECT_EQ(e.Message(), "Can not bind in port range (" + std::to_string(low) + " - " +
                               std::to_string(high) + ")");
  }

  // With the top port still taken, the next one down is chosen, not the lowest.
  ports.holders[0].reset();
  ports.holders[1].reset();
  client.OpenHandle();
  client.BindLocal();
  EXPECT_EQ(client.Port(), low + 1);

  ports.holders[2].reset();
  client.SetPort(0);
  client.OpenHandle();
  client.BindLocal();
  EXPECT_EQ(client.Port(), high);
}

TEST(SocketHandleTest, BindFailuresHaveTheirOwnMessages) {
  StackUse use;
  TIdSocketHandle holder;
  holder.OpenHandle();
  holder.SetIP("127.0.0.1");
  holder.BindLocal();

  TIdSocketHandle handle;
  handle.OpenHandle();
  handle.SetIP("127.0.0.1");
  handle.SetPort(holder.Port());
  try {
    handle.BindLocal();
    FAIL();
  } catch (const EIdCouldNotBindSocket& e) {
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }

  handle.SetPort(0);
  handle.SetClientPortMin(5002);
  handle.SetClientPortMax(5000);
  try {
    handle.BindLocal();
    FAIL();
  } catch (const EIdInvalidPortRange& e) {
    EXPECT_EQ(e.Message(), "Invalid Port Range (5002 - 5000)");
  }
}

TEST(SocketHandleTest, WaitingOnAClosedHandleEndsTheConnectionEvenWithoutTime) {
  StackUse use;
  TIdSocketHandle handle;
  for (const int timeout : {0, 50, TimeoutUseDefault, TimeoutInfinite}) {
    try {
      (void)handle.WaitReadable(timeout);
      FAIL() << timeout;
    } catch (const EIdConnClosedGracefully& e) {
      EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
  }
  handle.OpenHandle();
  handle.ReleaseSocket();
  EXPECT_FALSE(handle.IsAllocated());
  EXPECT_EQ(handle.ReadList().Count(), 0);
  EXPECT_THROW((void)handle.WaitReadable(0), EIdConnClosedGracefully);
  handle.ReleaseSocket();  // a second release is harmless
}

TEST(SocketHandleTest, WaitReadablePollsDataAndTheEndOfTheStream) {
  StackUse use;
  LoopbackPair pair;
  EXPECT_FALSE(pair.server.WaitReadable(0));
  EXPECT_FALSE(pair.server.WaitReadable(30));

  LoopbackPair::SendText(pair.client, "hello");
  ASSERT_TRUE(pair.server.WaitReadable(2000));
  std::array<char, 16> buffer{};
  EXPECT_EQ(pair.server.Receive(buffer.data(), static_cast<int>(buffer.size())), 5);
  EXPECT_EQ(std::string(buffer.data(), 5), "hello");
  EXPECT_FALSE(pair.server.WaitReadable(0));

  // The peer closing makes the socket readable, and a read then returns 0.
  pair.client.ReleaseSocket();
  ASSERT_TRUE(pair.server.WaitReadable(2000));
  TIdByteArray bytes(8);
  EXPECT_EQ(pair.server.Receive(bytes), 0);
}

TEST(SocketHandleTest, SendHonoursOffsetAndSize) {
  StackUse use;
  LoopbackPair pair;
  const TIdByteArray data{'0', '1', '2', '3', '4', '5', '6', '7'};
  EXPECT_EQ(pair.client.Send(data, 3, 2), 3);
  EXPECT_EQ(pair.client.Send(data, -1, 7), 1);
  EXPECT_EQ(pair.client.Send(data, -1, 8), 0);
  std::string received;
  while (received.size() < 4 && pair.server.WaitReadable(2000)) {
    TIdByteArray chunk(16);
    const int n = pair.server.Receive(chunk);
    if (n == 0) break;
    received.append(chunk.begin(), chunk.begin() + n);
  }
  EXPECT_EQ(received, "2347");
}

TEST(SocketHandleTest, IPVersionCannotChangeWhileASocketIsOpen) {
  StackUse use;
  TIdSocketHandle handle;
  handle.OpenHandle();
  handle.SetIPVersion(Id_IPv4);  // the same value is allowed
  try {
    handle.SetIPVersion(Id_IPv6);
    FAIL();
  } catch (const EIdCannotSetIPVersionWhenConnected& e) {
    EXPECT_EQ(e.Message(), "Cannot change IPVersion when connected");
  }
  EXPECT_EQ(handle.IPVersion(), Id_IPv4);
  handle.ReleaseSocket();
  handle.SetIPVersion(Id_IPv6);
  EXPECT_EQ(handle.IPVersion(), Id_IPv6);
  try {
    handle.SetIPVersion(static_cast<TIdIPVersion>(5));
    FAIL();
  } catch (const EIdIPVersionUnsupported& e) {
    EXPECT_EQ(e.Message(), "The requested IPVersion / Address family is not supported.");
  }
}

TEST(SocketHandleTest, BroadcastFlagReachesTheOpenSocket) {
  StackUse use;
  TIdSocketHandle handle;
  handle.SetBroadcastEnabled(true);  // no socket yet: kept for the next one
  handle.OpenHandle(Id_SOCK_DGRAM, Id_IPPROTO_UDP);
  EXPECT_NE(handle.GetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST), 0);
  handle.SetBroadcastEnabled(false);
  EXPECT_EQ(handle.GetSockOpt(Id_SOL_SOCKET, Id_SO_BROADCAST), 0);
  EXPECT_FALSE(handle.BroadcastEnabled());
}

TEST(SocketHandleTest, ResetClosesTheSocketAndForgetsTheEndpoints) {
  StackUse use;
  LoopbackPair pair;
  pair.client.Reset(false);
  EXPECT_FALSE(pair.client.IsAllocated());
  EXPECT_EQ(pair.client.RemoteIP(), "");
  EXPECT_EQ(pair.client.RemotePort(), 0);
  EXPECT_EQ(pair.client.IP(), "127.0.0.1");  // local endpoint kept
  // The old socket really was closed: the peer sees the end of the stream.
  ASSERT_TRUE(pair.server.WaitReadable(2000));
  TIdByteArray bytes(4);
  EXPECT_EQ(pair.server.Receive(bytes), 0);
  pair.server.Reset(true);
  EXPECT_EQ(pair.server.IP(), "");
  EXPECT_EQ(pair.server.Port(), 0);
}

TEST(SocketHandleTest, ReleaseFromAnotherThreadEndsABlockedConnect) {
  StackUse use;
  // A listener that never accepts, its backlog filled by connects that do not wait.
  TIdSocketHandle listener;
  listener.OpenHandle();
  listener.SetIP("127.0.0.1");
  listener.BindLocal();
  listener.Listen(0);
  std::vector<std::unique_ptr<TIdSocketHandle>> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(std::make_unique<TIdSocketHandle>());
    fillers.back()->OpenHandle();
    GStack().SetBlocking(fillers.back()->SocketId(), false);
    fillers.back()->SetPeer("127.0.0.1", listener.Port());
    try {
      fillers.back()->ConnectToRemote();
    } catch (const EIdSocketError&) {
      // in progress (10035 / 10036): the request waits in the backlog or is dropped
    }
  }

  TIdSocketHandle handle;
  handle.OpenHandle();
  handle.SetPeer("127.0.0.1", listener.Port());
  std::promise<std::string> outcome;
  std::future<std::string> ended = outcome.get_future();
  std::thread connector([&handle, &outcome] {
    try {
      handle.ConnectToRemote();
      outcome.set_value("connected");
    } catch (const EIdSocketError& e) {
      outcome.set_value("socket error " + std::to_string(e.LastError()));
    } catch (const Exception& e) {
      outcome.set_value(std::string("other: ") + e.Message());
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(ended.wait_for(std::chrono::seconds(0)), std::future_status::timeout)
      << "the connect did not block: " << ended.get();
  handle.ReleaseSocket();
  if (ended.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
    connector.detach();
    FAIL() << "closing the socket did not end the blocked connect";
  }
  connector.join();
  EXPECT_EQ(ended.get().rfind("socket error", 0), 0u);
  EXPECT_FALSE(handle.IsAllocated());
  EXPECT_EQ(handle.ReadList().Count(), 0);
}

// Counts how often the anti-freeze is given the chance to process.
class CountingAntiFreeze : public TIdAntiFreezeBase {
 public:
  void Process() override { ++processed; }
  int processed = 0;
};

TEST(SocketHandleTest, AntiFreezeCutsAFiniteWaitIntoIdleTimeOutSlices) {
  StackUse use;
  LoopbackPair pair;
  CountingAntiFreeze antiFreeze;
  antiFreeze.SetIdleTimeOut(20);
  ASSERT_TRUE(TIdAntiFreezeBase::AntiFreezeApplies()) << "tests run on the main thread";
  // 100 ms in slices of 20: four slices while more than 20 remain, then the last 20.
  EXPECT_FALSE(pair.server.WaitReadable(100));
  EXPECT_EQ(antiFreeze.processed, 5);

  // Data at once: the first slice finds it and the (not idle) anti-freeze is not run.
  antiFreeze.processed = 0;
  LoopbackPair::SendText(pair.client, "x");
  EXPECT_TRUE(pair.server.WaitReadable(100));
  EXPECT_EQ(antiFreeze.processed, 0);
}

TEST(SocketHandleTest, AntiFreezeRunsBetweenSlicesOfAnEndlessWait) {
  StackUse use;
  LoopbackPair pair;
  CountingAntiFreeze antiFreeze;
  antiFreeze.SetIdleTimeOut(10);
  std::thread sender([&pair] {
    std::this_thread::sleep_for(std::chrono::milliseconds(80));
    LoopbackPair::SendText(pair.client, "late");
  });
  const bool readable = pair.server.WaitReadable(TimeoutInfinite);
  sender.join();
  EXPECT_TRUE(readable);
  EXPECT_GE(antiFreeze.processed, 2);
}

}  // namespace
}  // namespace brixa
