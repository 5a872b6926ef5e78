// SOCKS 4, 4a and 5 conversations played byte for byte by a scripted proxy: what the client
// sends, and how it takes apart every reply a proxy can give.

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "platform/core/exception.h"
#include "support/scripted_server.h"
#include "transport/io/io_handler_stack.h"
#include "transport/io/tcp_client.h"
#include "transport/socks/socks_info.h"

namespace brixa {
namespace {

using test::Close;
using test::Expect;
using test::Pause;
using test::Script;
using test::ScriptedServer;
using test::ScriptedServerOptions;
using test::Send;

// Bytes written as numbers, for the binary parts of a conversation.
std::string B(std::initializer_list<int> bytes) {
  std::string out;
  for (const int b : bytes) out += static_cast<char>(b);
  return out;
}

// A client whose handler goes through `proxy`, aimed at host:port behind it.
struct ProxiedClient {
  TIdIOHandlerStack handler;
  TIdTCPClient client;

  ProxiedClient(TIdCustomTransparentProxy& proxy, const std::string& host, std::uint16_t port) {
    handler.SetTransparentProxy(&proxy);
    client.SetIOHandler(&handler);
    client.SetHost(host);
    client.SetPort(port);
    client.SetReadTimeout(5000);  // a scripted peer that stalls must not hang the test
  }
};

void AimAt(TIdSocksInfo& proxy, const ScriptedServer& server, TSocksVersion version) {
  proxy.SetHost(server.Host());
  proxy.SetPort(server.Port());
  proxy.SetVersion(version);
}

// The exception class and message a connect raised; "" when it succeeded.
std::string ConnectFailure(TIdTCPClient& client) {
  try {
    client.ConnectToHost();
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return {};
}

const std::string kNoAuth = B({5, 1, 0});
const std::string kGranted5IPv4 = B({5, 0, 0, 1, 127, 0, 0, 1, 0x1F, 0x90});

TEST(SocksTest, Socks4aSendsTheNameAfterTheUserIdAndTunnels) {
  ScriptedServer server(
      {Expect::Bytes(12), Send(B({0, 90, 0, 0, 0, 0, 0, 0}) + "from h\n"), Expect::Close()});
  TIdSocksInfo proxy;
  AimAt(proxy, server, svSocks4A);
  proxy.SetUsername("u");
  ProxiedClient c(proxy, "h", 80);
  c.client.ConnectToHost();
  EXPECT_EQ(c.handler.ReadLine(), "from h");
  EXPECT_EQ(server.Received(), B({4, 1, 0, 80, 0, 0, 0, 1, 'u', 0, 'h', 0}));
}

TEST(SocksTest, Socks4SendsTheResolvedAddressAndMapsEachResultCode) {
  struct Case {
    int code;
    std::string failure;
  };
  const Case cases[] = {
      {90, ""},
      {91, "EIdSocksRequestFailed: Request rejected or failed."},
      {92, "EIdSocksRequestServerFailed: Request rejected because SOCKS server cannot connect."},
      {93,
       "EIdSocksRequestIdentFailed: Request rejected because the client program and identd "
       "report different user-ids."},
      {0, "EIdSocksUnknownError: Unknown socks error."},
      {255, "EIdSocksUnknownError: Unknown socks error."},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.code);
    ScriptedServer server({Expect::Bytes(9), Send(B({0, tc.code, 0, 0, 0, 0, 0, 0})), Close()});
    TIdSocksInfo proxy;
    AimAt(proxy, server, svSocks4);
    ProxiedClient c(proxy, "localhost", 0x1234);
    EXPECT_EQ(ConnectFailure(c.client), tc.failure);
    // "localhost" is resolved here, so the proxy sees an address and an empty user id.
    EXPECT_EQ(server.Received(), B({4, 1, 0x12, 0x34, 127, 0, 0, 1, 0}));
    if (!tc.failure.empty()) {
      EXPECT_FALSE(c.handler.IsOpen());
    }
  }
}

TEST(SocksTest, Socks5ConnectToANameReadsTheReplyInTwoPartsAndNoFurther) {
  // The bound address is a name of length 10: 4 + 1 + 10 + 2 bytes, then the target speaks.
  // The reply comes in two pieces, the first cut right after the length byte.
  const std::string request = B({5, 1, 0, 3, 11}) + "example.org" + B({0, 80});
  ScriptedServer server({Expect::Bytes(3), Send(B({5, 0})), Expect::Bytes(request.size()),
                         Send(B({5, 0, 0, 3, 10})), Pause(50),
                         Send("abcdefghij" + B({0x12, 0x34}) + "target line\n"), Expect::Close()});
  TIdSocksInfo proxy;
  AimAt(proxy, server, svSocks5);
  ProxiedClient c(proxy, "example.org", 80);
  c.client.ConnectToHost();
  EXPECT_EQ(c.handler.ReadLine(), "target line");
  EXPECT_EQ(server.Received(), kNoAuth + request);
}

TEST(SocksTest, Socks5RequestsCarryLiteralsByAddressType) {
  struct Case {
    std::string host;
    std::string request;
  };
  const Case cases[] = {
      {"10.1.2.3", B({5, 1, 0, 1, 10, 1, 2, 3, 0, 80})},
      // 4 header bytes, 16 address bytes, 2 port bytes.
      {"::1", B({5, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 80})},
      {"2001:db8::ff",
       B({5, 1, 0, 4, 0x20, 1, 0x0D, 0xB8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 80})},
      {"10.1.2.256", B({5, 1, 0, 3, 10}) + "10.1.2.256" + B({0, 80})},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.host);
    ScriptedServer server({Expect::Bytes(3), Send(B({5, 0})), Expect::Bytes(tc.request.size()),
                           Send(kGranted5IPv4), Expect::Close()});
    TIdSocksInfo proxy;
    AimAt(proxy, server, svSocks5);
    ProxiedClient c(proxy, tc.host, 80);
    c.client.ConnectToHost();
    c.client.CloseConnection();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Received(), kNoAuth + tc.request);
  }
  EXPECT_EQ(B({5, 1, 0, 4}).size() + 16 + 2, cases[1].request.size());
}

TEST(SocksTest, Socks5MapsEveryReplyCodeAndRefusesBrokenReplies) {
  struct Case {
    std::string reply;
    std::string failure;
  };
  const Case cases[] = {
      {B({5, 1, 0, 1, 0, 0, 0, 0, 0, 0}),
       "EIdSocksServerGeneralError: General SOCKS server failure."},
      {B({5, 2, 0, 1, 0, 0, 0, 0, 0, 0}),
       "EIdSocksServerPermissionError: Connection not allowed by ruleset."},
      {B({5, 3, 0, 1, 0, 0, 0, 0, 0, 0}),
       "EIdSocksServerNetUnreachableError: Network unreachable."},
      {B({5, 4, 0, 1, 0, 0, 0, 0, 0, 0}), "EIdSocksServerHostUnreachableError: Host unreachable."},
      {B({5, 5, 0, 1, 0, 0, 0, 0, 0, 0}),
       "EIdSocksServerConnectionRefusedError: Connection refused."},
      {B({5, 6, 0, 1, 0, 0, 0, 0, 0, 0}), "EIdSocksServerTTLExpiredError: TTL expired."},
      {B({5, 7, 0, 1, 0, 0, 0, 0, 0, 0}), "EIdSocksServerCommandError: Command not supported."},
      {B({5, 8, 0, 1, 0, 0, 0, 0, 0, 0}),
       "EIdSocksServerAddressError: Address type not supported."},
      {B({5, 9, 0, 1, 0, 0, 0, 0, 0, 0}), "EIdSocksUnknownError: Unknown socks error."},
      // An address type with no known length: nothing further is read.
      {B({5, 0, 0, 9, 0, 0, 0, 0, 0, 0}),
       "EIdSocksServerRespondError: Socks server did not respond."},
      // A reply that stops short.
      {B({5, 0, 0, 4, 0, 0, 0}), "EIdSocksServerRespondError: Socks server did not respond."},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(testing::PrintToString(tc.reply));
    ScriptedServer server(
        {Expect::Bytes(3), Send(B({5, 0})), Expect::Bytes(10), Send(tc.reply), Close()});
    TIdSocksInfo proxy;
    AimAt(proxy, server, svSocks5);
    ProxiedClient c(proxy, "10.0.0.1", 80);
    EXPECT_EQ(ConnectFailure(c.client), tc.failure);
    EXPECT_FALSE(c.handler.IsOpen());
  }
}

TEST(SocksTest, Socks5ReplyCutAtEveryOffsetIsNoResponse) {
  const std::string reply = B({5, 0, 0, 3, 4}) + "name" + B({0, 1});
  for (std::size_t cut = 0; cut < reply.size(); ++cut) {
    SCOPED_TRACE(cut);
    ScriptedServer server(
        {Expect::Bytes(3), Send(B({5, 0})), Expect::Bytes(10), Send(reply.substr(0, cut))});
    TIdSocksInfo proxy;
    AimAt(proxy, server, svSocks5);
    ProxiedClient c(proxy, "10.0.0.1", 80);
    EXPECT_EQ(ConnectFailure(c.client),
              "EIdSocksServerRespondError: Socks server did not respond.");
  }
}

TEST(SocksTest, Socks5MethodSelectionAndUserPasswordSubnegotiation) {
  struct Case {
    TSocksAuthentication auth;
    std::string username;
    Script script;
    std::string failure;
    std::string sent;
  };
  const std::string userPass = B({1, 5}) + "alice" + B({6}) + "secret";
  const std::string tooLong(256, 'x');
  const Case cases[] = {
      {saNoAuthentication,
       "",
       {Expect::Bytes(3), Send(B({5, 255})), Close()},
       "EIdSocksAuthMethodError: Invalid socks authentication method.",
       kNoAuth},
      {saNoAuthentication,
       "",
       {Expect::Bytes(3), Send(B({5, 2})), Close()},
       "EIdSocksAuthMethodError: Invalid socks authentication method.",
       kNoAuth},
      {saUsernamePassword,
       "alice",
       {Expect::Bytes(3), Send(B({5, 255})), Close()},
       "EIdSocksAuthMethodError: Invalid socks authentication method.",
       B({5, 1, 2})},
      {saUsernamePassword,
       "alice",
       {Expect::Bytes(3), Send(B({5, 2})), Expect::Bytes(userPass.size()), Send(B({1, 1})),
        Close()},
       "EIdSocksAuthError: Authentication error to socks server.",
       B({5, 1, 2}) + userPass},
      {saUsernamePassword,
       "alice",
       {Expect::Bytes(3), Send(B({5, 2})), Expect::Bytes(userPass.size()), Send(B({1, 0})),
        Expect::Bytes(10), Send(kGranted5IPv4), Expect::Close()},
       "",
       B({5, 1, 2}) + userPass + B({5, 1, 0, 1, 10, 0, 0, 1, 0, 80})},
      // A user name the length byte cannot count is refused before it is sent.
      {saUsernamePassword,
       tooLong,
       {Expect::Bytes(3), Send(B({5, 2})), Close()},
       "ERangeError: Range check error",
       B({5, 1, 2})},
      {saNoAuthentication,
       "",
       {Expect::Bytes(3), Close()},
       "EIdSocksServerRespondError: Socks server did not respond.",
       kNoAuth},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.failure);
    ScriptedServer server(tc.script);
    TIdSocksInfo proxy;
    AimAt(proxy, server, svSocks5);
    proxy.SetAuthentication(tc.auth);
    proxy.SetUsername(tc.username);
    proxy.SetPassword("secret");
    ProxiedClient c(proxy, "10.0.0.1", 80);
    EXPECT_EQ(ConnectFailure(c.client), tc.failure);
    c.client.CloseConnection();
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Received(), tc.sent);
  }
}

TEST(SocksTest, IPv6ProxyReachesAnIPv4Target) {
  // The socket is opened in the proxy's family, not in the one the target is named in.
  ScriptedServerOptions onIPv6;
  onIPv6.ipv6 = true;
  ScriptedServer server({Expect::Bytes(3), Send(B({5, 0})), Expect::Bytes(10),
                         Send(kGranted5IPv4 + "via v6\n"), Expect::Close()},
                        onIPv6);
  TIdSocksInfo proxy;
  AimAt(proxy, server, svSocks5);
  proxy.SetIPVersion(Id_IPv6);
  ProxiedClient c(proxy, "127.0.0.1", 80);
  c.client.SetIPVersion(Id_IPv4);
  c.client.ConnectToHost();
  EXPECT_EQ(c.handler.ReadLine(), "via v6");
  EXPECT_EQ(c.handler.Binding()->IPVersion(), Id_IPv6);
}

TEST(SocksTest, ChainAsksTheFirstProxyForTheSecondThenTheSecondForTheTarget) {
  // One scripted peer plays both proxies: A (SOCKS 5) is asked for B at 10.9.9.9:1081, then B
  // (SOCKS 4a) speaks over the same stream and is asked for the target.
  const std::string toB = B({5, 1, 0, 3, 8}) + "proxy.b." + B({0x04, 0x39});
  const std::string toTarget = B({4, 1, 0, 80, 0, 0, 0, 1, 0}) + "target" + B({0});
  ScriptedServer server({Expect::Bytes(3), Send(B({5, 0})), Expect::Bytes(toB.size()),
                         Send(kGranted5IPv4), Expect::Bytes(toTarget.size()),
                         Send(B({0, 90, 0, 0, 0, 0, 0, 0}) + "end\n"), Expect::Close()});
  TIdSocksInfo a;
  AimAt(a, server, svSocks5);
  TIdSocksInfo b;
  b.SetHost("proxy.b.");
  b.SetPort(1081);
  b.SetVersion(svSocks4A);
  a.SetChainedProxy(&b);
  ProxiedClient c(a, "target", 80);
  c.client.ConnectToHost();
  EXPECT_EQ(c.handler.ReadLine(), "end");
  EXPECT_EQ(server.Received(), kNoAuth + toB + toTarget);
}

TEST(SocksTest, ChainRefusesLoopsAndForgetsAFreedLink) {
  TIdSocksInfo a;
  TIdSocksInfo b;
  TIdSocksInfo c;
  a.SetChainedProxy(&b);
  b.SetChainedProxy(&c);
  const auto message = [](auto&& set) {
    try {
      set();
    } catch (const EIdTransparentProxyCircularLink& e) {
      return e.Message();
    }
    return std::string("no exception");
  };
  EXPECT_EQ(message([&] { c.SetChainedProxy(&a); }),
            "TIdSocksInfo: Circular links are not allowed");
  EXPECT_EQ(message([&] { a.SetChainedProxy(&a); }),
            "TIdSocksInfo: Circular links are not allowed");
  EXPECT_EQ(c.ChainedProxy(), nullptr);
  EXPECT_EQ(a.ChainedProxy(), &b);
  {
    TIdSocksInfo shortLived;
    c.SetChainedProxy(&shortLived);
    EXPECT_EQ(c.ChainedProxy(), &shortLived);
  }
  EXPECT_EQ(c.ChainedProxy(), nullptr);
}

TEST(SocksTest, AssignCopiesSettingsButNotTheChain) {
  TIdSocksInfo next;
  TIdSocksInfo source;
  source.SetHost("p");
  source.SetPort(9050);
  source.SetIPVersion(Id_IPv6);
  source.SetUsername("u");
  source.SetPassword("pw");
  source.SetAuthentication(saUsernamePassword);
  source.SetVersion(svSocks5);
  source.SetChainedProxy(&next);
  TIdSocksInfo copy;
  EXPECT_EQ(copy.Port(), 1080);
  EXPECT_FALSE(copy.IsEnabled());
  copy.Assign(source);
  EXPECT_EQ(copy.Host(), "p");
  EXPECT_EQ(copy.Port(), 9050);
  EXPECT_EQ(copy.IPVersion(), Id_IPv6);
  EXPECT_EQ(copy.Username(), "u");
  EXPECT_EQ(copy.Password(), "pw");
  EXPECT_EQ(copy.Authentication(), saUsernamePassword);
  EXPECT_EQ(copy.Version(), svSocks5);
  EXPECT_TRUE(copy.IsEnabled());
  EXPECT_EQ(copy.ChainedProxy(), nullptr);
}

// A proxy that can tunnel but offers nothing else.
class TunnelOnlyProxy : public TIdCustomTransparentProxy {
 public:
  bool IsEnabled() const override { return true; }

 protected:
  void MakeConnection(TIdIOHandler&, const std::string&, std::uint16_t, TIdIPVersion) override {}
};

TEST(SocksTest, BindAndUdpRefusalsOfTheBaseAndOfSocks4) {
  TIdIOHandlerStack handler;
  TIdSocketHandle binding;
  std::uint8_t buffer[8];
  const auto failure = [](auto&& call) {
    try {
      call();
    } catch (const Exception& e) {
      return std::string(e.ClassName()) + ": " + e.Message();
    }
    return std::string();
  };
  TunnelOnlyProxy base;
  const std::string cantBind = "EIdTransparentProxyCantBind: Transparent proxy cannot bind.";
  const std::string noUdp = "EIdTransparentProxyUDPNotSupported: UDP Not supported by this proxy.";
  EXPECT_EQ(failure([&] { base.BindThrough(handler, "h", 1, Id_IPv4); }), cantBind);
  EXPECT_EQ(failure([&] { (void)base.ListenThrough(handler, 0); }), cantBind);
  EXPECT_EQ(failure([&] { base.OpenUdpRelay(binding, "h", 1, Id_IPv4); }), noUdp);
  EXPECT_EQ(failure([&] { base.CloseUdpRelay(binding); }), noUdp);
  EXPECT_EQ(failure([&] { (void)base.ReceiveUdp(binding, buffer, 0); }), noUdp);
  EXPECT_EQ(failure([&] { base.SendUdp(binding, "h", 1, Id_IPv4, buffer); }), noUdp);

  for (const TSocksVersion version : {svSocks4, svSocks4A}) {
    TIdSocksInfo socks4;
    socks4.SetVersion(version);
    const std::string refusal =
        "EIdSocksUDPNotSupportedBySOCKSVersion: UDP is not support in this SOCKS version.";
    EXPECT_EQ(failure([&] { socks4.OpenUdpRelay(binding, "h", 1, Id_IPv4); }), refusal);
    EXPECT_EQ(failure([&] { socks4.CloseUdpRelay(binding); }), refusal);
    EXPECT_EQ(failure([&] { (void)socks4.ReceiveUdp(binding, buffer, 0); }), refusal);
    EXPECT_EQ(failure([&] { socks4.SendUdp(binding, "h", 1, Id_IPv4, buffer); }), refusal);
  }
}

TEST(SocksTest, Socks5BindSetsThePeerToWhereTheProxyListensThenToWhoConnected) {
  // First reply: the proxy listens on any address (meaning its own) port 0x2000; second: the
  // host 10.0.0.7 port 0x3000 connected.
  const std::string request = B({5, 2, 0, 1, 10, 0, 0, 7, 0, 21});
  ScriptedServer server({Expect::Bytes(3), Send(B({5, 0})), Expect::Bytes(request.size()),
                         Send(B({5, 0, 0, 1, 0, 0, 0, 0, 0x20, 0})), Pause(200),
                         Send(B({5, 0, 0, 1, 10, 0, 0, 7, 0x30, 0}) + "inbound\n"),
                         Expect::Close()});
  TIdSocksInfo proxy;
  AimAt(proxy, server, svSocks5);
  TIdIOHandlerStack handler;
  handler.SetReadTimeout(5000);
  proxy.BindThrough(handler, "10.0.0.7", 21, Id_IPv4);
  EXPECT_EQ(handler.Binding()->RemoteIP(), "127.0.0.1");
  EXPECT_EQ(handler.Binding()->RemotePort(), 0x2000);
  EXPECT_FALSE(proxy.ListenThrough(handler, 0));
  EXPECT_TRUE(proxy.ListenThrough(handler, 5000));
  EXPECT_EQ(handler.Binding()->RemoteIP(), "10.0.0.7");
  EXPECT_EQ(handler.Binding()->RemotePort(), 0x3000);
  EXPECT_EQ(handler.ReadLine(), "inbound");
  EXPECT_EQ(server.Received(), kNoAuth + request);
}

TEST(SocksTest, Socks4BindReadsTwoThenSixBytesAndAFailedBindClosesTheHandler) {
  ScriptedServer server({Expect::Bytes(9), Send(B({0, 90, 0x20, 1, 192, 0, 2, 1})),
                         Send(B({0, 90, 0x30, 2, 192, 0, 2, 9})), Expect::Close()});
  TIdSocksInfo proxy;
  AimAt(proxy, server, svSocks4);
  TIdIOHandlerStack handler;
  proxy.BindThrough(handler, "192.0.2.9", 20, Id_IPv4);
  EXPECT_EQ(handler.Binding()->RemoteIP(), "192.0.2.1");
  EXPECT_EQ(handler.Binding()->RemotePort(), 0x2001);
  EXPECT_TRUE(proxy.ListenThrough(handler, 5000));
  EXPECT_EQ(handler.Binding()->RemoteIP(), "192.0.2.9");
  EXPECT_EQ(handler.Binding()->RemotePort(), 0x3002);
  EXPECT_EQ(server.Received(), B({4, 2, 0, 20, 192, 0, 2, 9, 0}));

  ScriptedServer refusing({Expect::Bytes(9), Send(B({0, 91})), Close()});
  AimAt(proxy, refusing, svSocks4);
  EXPECT_THROW(proxy.BindThrough(handler, "192.0.2.9", 20, Id_IPv4), EIdSocksRequestFailed);
  EXPECT_FALSE(handler.IsOpen());
}

}  // namespace
}  // namespace brixa
