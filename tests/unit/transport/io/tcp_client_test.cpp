// Opening, querying and closing client connections against loopback peers.

#include "transport/io/tcp_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "transport/io/io_handler_stack.h"
#include "transport/socket/connect_thread.h"
#include "transport/socket/stack_exceptions.h"
#include "unit/transport/client_fixture.h"

namespace brixa {
namespace {

using test::ConnectionEventLog;
using test::Expect;
using test::ScriptedServer;
using test::Send;

TEST(TCPClientTest, ReportsResolvingConnectingAndConnectedThenCloses) {
  ScriptedServer server({Send("hi\n"), Expect::Close()});
  TIdTCPClient client;
  ConnectionEventLog log;
  log.Attach(client);
  std::vector<std::string> events;
  client.OnConnected = [&](TComponent* sender) {
    events.push_back(sender == &client ? "connected" : "?");
  };
  client.OnDisconnected = [&](TComponent*) { events.push_back("disconnected"); };
  client.OnBeforeBind = [&](TComponent*) { events.push_back("before bind"); };
  client.OnSocketAllocated = [&](TComponent*) { events.push_back("allocated"); };
  client.OnAfterBind = [&](TComponent*) { events.push_back("after bind"); };
  client.SetHost("LocalHost");  // a name: resolved (to 127.0.0.1 without a lookup)
  client.SetPort(server.Port());
  client.ConnectToHost();
  EXPECT_TRUE(client.ManagedIOHandler());
  ASSERT_NE(client.SocketHandler(), nullptr);
  EXPECT_EQ(client.SocketHandler()->Binding()->RemotePort(), server.Port());
  EXPECT_NE(client.SocketHandler()->Binding()->Port(), 0);  // bound before connecting
  EXPECT_EQ(client.IOHandler()->ReadLine(), "hi");
  client.CloseConnection();
  EXPECT_EQ(log.status,
            (std::vector<std::string>{"Resolving hostname LocalHost.", "Connecting to 127.0.0.1.",
                                      "Connected.", "Disconnecting.", "Disconnected."}));
  EXPECT_EQ(events, (std::vector<std::string>{"before bind", "allocated", "after bind", "connected",
                                              "disconnected"}));
  EXPECT_FALSE(client.IsConnected());
  EXPECT_NE(client.IOHandler(), nullptr);  // kept for the next connect

  // A literal target skips the resolving report; a second close reports nothing.
  ScriptedServer second({Expect::Close()});
  log.status.clear();
  client.SetHost(second.Host());
  client.SetPort(second.Port());
  client.ConnectToHost();
  client.CloseConnection();
  client.CloseConnection();
  EXPECT_EQ(log.status, (std::vector<std::string>{"Connecting to 127.0.0.1.", "Connected.",
                                                  "Disconnecting.", "Disconnected."}));
}

TEST(TCPClientTest, RefusesToConnectTwiceOrWithoutATarget) {
  TIdTCPClient client;
  ConnectionEventLog log;
  log.Attach(client);
  try {
    client.ConnectToHost();
    FAIL() << "no exception";
  } catch (const EIdHostRequired& e) {
    EXPECT_EQ(e.Message(), "");
  }
  client.SetHost("127.0.0.1");
  try {
    client.ConnectToHost();
    FAIL() << "no exception";
  } catch (const EIdPortRequired& e) {
    EXPECT_EQ(e.Message(), "");
  }
  EXPECT_EQ(client.IOHandler(), nullptr);  // nothing was made
  client.CloseConnection();                // never connected: silent
  EXPECT_TRUE(log.status.empty());

  ScriptedServer server({Expect::Line(), Send("pong\n"), Expect::Close()});
  client.SetPort(server.Port());
  client.ConnectToHost();
  try {
    client.ConnectToHost();
    FAIL() << "no exception";
  } catch (const EIdAlreadyConnected& e) {
    EXPECT_EQ(e.Message(), "Already connected.");
  }
  client.IOHandler()->WriteLine("ping");  // the connection is untouched
  EXPECT_EQ(client.IOHandler()->ReadLine(), "pong");
}

// Unread bytes keep a connection "connected" only while the peer's close is what ended it; once
// we close it, it connects again, whatever it still held, and the new connection starts empty.
TEST(TCPClientTest, AConnectionWeClosedConnectsAgainWhateverItHadBuffered) {
  ScriptedServer first({Send("left over"), Expect::Close()});
  ScriptedServer peerClosed({Send("unread"), test::Close()});
  ScriptedServer next({Send("fresh\n"), Expect::Close()});
  TIdTCPClient client;
  client.SetReadTimeout(5000);
  const auto connectTo = [&](const ScriptedServer& server) {
    client.SetHost(server.Host());
    client.SetPort(server.Port());
    client.ConnectToHost();
  };
  const auto waitForBytes = [&] {
    for (int i = 0; i < 100 && client.IOHandler()->InBuffer().Size() == 0; ++i) {
      (void)client.IOHandler()->FillInputBuffer(false, 50, false);
    }
  };
  // Our close with the socket still open.
  connectTo(first);
  waitForBytes();
  ASSERT_GT(client.IOHandler()->InBuffer().Size(), 0);
  client.CloseConnection();
  EXPECT_FALSE(client.IsConnected());
  // Our close after the peer's, which had already shut the handler.
  connectTo(peerClosed);
  for (int i = 0; i < 20 && !client.IOHandler()->PeerClosed(); ++i) {
    (void)client.IOHandler()->FillInputBuffer(false, 250, false);
  }
  ASSERT_TRUE(client.IOHandler()->PeerClosed());
  EXPECT_TRUE(client.IsConnected());  // the peer's close: the bytes are still to be read
  client.CloseConnection();
  EXPECT_FALSE(client.IsConnected());
  connectTo(next);
  EXPECT_TRUE(client.IsConnected());
  EXPECT_EQ(client.IOHandler()->ReadLine(), "fresh");
}

TEST(TCPClientTest, RefusedConnectRaisesTheSocketErrorAndLeavesItClosed) {
  const test::RefusingPort refusing;
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(refusing.Port());
  try {
    client.ConnectToHost();
    FAIL() << "no exception";
  } catch (const EIdSocketError& e) {
    EXPECT_EQ(e.LastError(), 10061);
    EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
  }
  EXPECT_EQ(client.IOHandler(), nullptr);  // the implicit handler is gone

  // A handler given by the caller stays in place, closed.
  TIdIOHandlerStack handler;
  client.SetIOHandler(&handler);
  EXPECT_THROW(client.ConnectToHost(), EIdSocketError);
  EXPECT_EQ(client.IOHandler(), &handler);
  EXPECT_FALSE(handler.IsOpen());

  ScriptedServer server({Send("up\n"), Expect::Close()});
  client.SetPort(server.Port());
  client.ConnectToHost();
  EXPECT_EQ(handler.ReadLine(), "up");
}

TEST(TCPClientTest, ConnectTimeoutEndsAHangingConnectAndAllowsANewOne) {
  const test::FullBacklogListener hanging;
  if (!hanging.Full()) GTEST_SKIP() << "could not fill a loopback accept queue here";
  TIdTCPClient client;
  client.SetHost("127.0.0.1");
  client.SetPort(hanging.Port());
  client.SetConnectTimeout(3000);
  const auto start = std::chrono::steady_clock::now();
  try {
    client.ConnectToHost();
    FAIL() << "no exception";
  } catch (const EIdConnectTimeout& e) {
    EXPECT_EQ(e.Message(), "Connect timed out.");
  }
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  EXPECT_GE(elapsed, 2900);
  EXPECT_LT(elapsed, 10000);
  EXPECT_EQ(client.IOHandler(), nullptr);

  // The same client connects again; a limited connect that succeeds goes through the thread.
  ScriptedServer server({Send("again\n"), Expect::Close()});
  client.SetPort(server.Port());
  client.ConnectToHost();
  EXPECT_EQ(client.IOHandler()->ReadLine(), "again");
}

// A proxy that asks the peer it is connected to for the real target in one line.
class LineProxy : public TIdCustomTransparentProxy {
 public:
  bool enabled = true;
  bool IsEnabled() const override { return enabled; }

 protected:
  void MakeConnection(TIdIOHandler& io, const std::string& host, std::uint16_t port,
                      TIdIPVersion) override {
    io.WriteLine("CONNECT " + host + ":" + std::to_string(port));
    if (io.ReadLine() != "OK") throw EIdException("proxy said no");
  }
};

TEST(TCPClientTest, EnabledTransparentProxyIsConnectedToAndTunnelsToTheTarget) {
  ScriptedServer proxyPeer({Expect::Line(), Send("OK\nfrom target\n"), Expect::Close()});
  LineProxy proxy;
  proxy.SetHost(proxyPeer.Host());
  proxy.SetPort(proxyPeer.Port());
  TIdIOHandlerStack handler;
  handler.SetTransparentProxy(&proxy);
  TIdTCPClient client;
  ConnectionEventLog log;
  log.Attach(client);
  client.SetIOHandler(&handler);
  handler.OnStatus = client.OnStatus;
  client.SetHost("target.invalid");  // never resolved: the proxy's address is used
  client.SetPort(8443);
  client.ConnectToHost();
  EXPECT_EQ(handler.ReadLine(), "from target");
  EXPECT_EQ(proxyPeer.Received(), "CONNECT target.invalid:8443\r\n");
  EXPECT_EQ(log.status.front(), "Connecting to 127.0.0.1.");
  client.CloseConnection();

  // A disabled proxy is ignored; a destroyed one is forgotten, and the next read of the property
  // makes a SOCKS proxy of the handler's own, which is not enabled.
  proxy.enabled = false;
  ScriptedServer direct({Send("direct\n"), Expect::Close()});
  client.SetHost(direct.Host());
  client.SetPort(direct.Port());
  client.ConnectToHost();
  EXPECT_EQ(handler.ReadLine(), "direct");
  {
    LineProxy shortLived;
    handler.SetTransparentProxy(&shortLived);
  }
  EXPECT_EQ(handler.ActiveTransparentProxy(), nullptr);
  TIdCustomTransparentProxy* own = handler.TransparentProxy();
  ASSERT_NE(own, nullptr);
  EXPECT_STREQ(own->ClassName(), "TIdSocksInfo");
  EXPECT_FALSE(own->IsEnabled());
  EXPECT_EQ(handler.TransparentProxy(), own);
}

TEST(TCPClientTest, SocketOptionsFollowTheSettings) {
  ScriptedServer server({Expect::Close()});
  TIdTCPClient client;
  client.SetHost(server.Host());
  client.SetPort(server.Port());
  client.SetReuseSocket(rsTrue);
  client.ConnectToHost();
  TIdSocketHandle& binding = *client.SocketHandler()->Binding();
  EXPECT_NE(binding.GetSockOpt(Id_SOL_SOCKET, Id_SO_REUSEADDR), 0);
  EXPECT_EQ(binding.GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY), 0);  // Nagle on by default
  client.SocketHandler()->SetUseNagle(false);                        // applied at once
  EXPECT_NE(binding.GetSockOpt(Id_IPPROTO_TCP, Id_TCP_NODELAY), 0);
}

TEST(TCPClientTest, SettingsReachTheHandlerWhenSetAndWhenAttached) {
  TIdTCPClient client;
  client.SetHost("example.test");
  client.SetPort(8080);
  client.SetReadTimeout(1234);
  client.SetConnectTimeout(500);
  client.SetBoundIP("127.0.0.1");
  client.SetIPVersion(Id_IPv6);
  client.SetReuseSocket(rsTrue);
  TIdIOHandlerStack handler;
  client.SetIOHandler(&handler);
  EXPECT_EQ(handler.Host(), "example.test");
  EXPECT_EQ(handler.Port(), 8080);
  EXPECT_EQ(handler.ReadTimeout(), 1234);
  EXPECT_EQ(handler.ConnectTimeout(), 500);
  EXPECT_EQ(handler.BoundIP(), "127.0.0.1");
  EXPECT_EQ(handler.IPVersion(), Id_IPv6);
  EXPECT_EQ(handler.ReuseSocket(), rsTrue);
  EXPECT_EQ(handler.WorkDelegate(), &client);
  EXPECT_EQ(client.SocketHandler(), &handler);
  EXPECT_FALSE(client.ManagedIOHandler());

  client.SetPort(81);
  client.SetBoundPort(4000);
  handler.SetReadTimeout(99);
  handler.SetReuseSocket(rsFalse);
  EXPECT_EQ(handler.Port(), 81);
  EXPECT_EQ(handler.BoundPort(), 4000);
  EXPECT_EQ(client.ReadTimeout(), 99);  // read from the handler
  EXPECT_EQ(client.ReuseSocket(), rsFalse);

  client.SetIOHandler(nullptr);
  EXPECT_EQ(handler.WorkDelegate(), nullptr);
  EXPECT_EQ(client.ReadTimeout(), 1234);
  client.SetIOHandler(&handler);
}

TEST(TCPClientTest, ForgetsAHandlerThatIsDestroyed) {
  TIdTCPClient client;
  {
    TIdIOHandlerStack handler;
    client.SetIOHandler(&handler);
    EXPECT_EQ(client.SocketHandler(), &handler);
  }
  EXPECT_EQ(client.IOHandler(), nullptr);
  EXPECT_EQ(client.SocketHandler(), nullptr);
  EXPECT_FALSE(client.IsConnected());
  EXPECT_THROW(client.CheckConnectionOpen(), EIdNotConnected);
  EXPECT_THROW(client.CheckForGracefulDisconnect(), EIdException);
  client.CheckForGracefulDisconnect(false);
}

TEST(TCPClientTest, DestinationSplitsAtTheLastColon) {
  TIdIOHandlerStack handler;
  handler.SetDefaultPort(80);
  const struct {
    const char* text;
    const char* host;
    std::int32_t port;
    const char* destination;
  } cases[] = {
      {"server:8080", "server", 8080, "server:8080"},
      {"server:80", "server", 80, "server"},       // the default port is left out
      {"server: 81 ", "server", 81, "server:81"},  // trimmed
      {"server:http", "server", 80, "server"},     // not a number: the default
      {"no-colon", "server", 80, "server"},        // ignored
  };
  for (const auto& c : cases) {
    handler.SetDestination(c.text);
    EXPECT_EQ(handler.Host(), c.host) << c.text;
    EXPECT_EQ(handler.Port(), c.port) << c.text;
    EXPECT_EQ(handler.Destination(), c.destination) << c.text;
  }
}

TEST(TCPClientTest, CommandRepliesAreReadAndChecked) {
  ScriptedServer server({Send("220-Welcome\r\n220-to the test\r\n220 ready\r\n"), Expect::Line(),
                         Send("500 no such command\r\n"), Expect::Close()});
  auto client = test::ConnectedClient(server);
  EXPECT_EQ(client->GetResponse({220}), 220);
  EXPECT_EQ(client->LastCmdResult().Text(),
            (std::vector<std::string>{"Welcome", "to the test", "ready"}));
  try {
    client->SendCmd("FROB", {250});
    FAIL() << "no exception";
  } catch (const EIdReplyRFCError& e) {
    EXPECT_EQ(e.ErrorCode(), 500);
    EXPECT_EQ(e.Message(), "no such command");
  }
  EXPECT_EQ(server.Received(), "FROB\r\n");
}

TEST(TCPClientTest, CommandRepliesCheckedByTheirTextualCode) {
  ScriptedServer server({Send("250 ok\r\n"), Expect::Line(), Send("0250 padded\r\n"),
                         Expect::Line(), Send("354 go on\r\n"), Expect::Close()});
  auto client = test::ConnectedClient(server);
  EXPECT_EQ(client->GetResponseText("250"), "250");
  // Not a three-digit code: no textual code, so any expected one fails and none passes.
  EXPECT_THROW((void)client->SendCmdText("A", "250"), EIdReplyRFCError);
  EXPECT_EQ(client->LastCmdResult().Code(), "");
  EXPECT_EQ(client->SendCmdText("B", ""), "354");
  EXPECT_EQ(server.Received(), "A\r\nB\r\n");
}

}  // namespace
}  // namespace brixa
