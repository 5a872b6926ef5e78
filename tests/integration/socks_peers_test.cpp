// SOCKS against dante on loopback: CONNECT over SOCKS 4 and 5 (with and without a password),
// whole HTTP downloads through the tunnel, refusals, a chain of two proxies, BIND and a UDP
// echo through the relay.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "http/client/http.h"
#include "support/peers/peer_suite.h"
#include "support/scripted_server.h"
#include "support/scripted_server_socket.h"
#include "transport/io/io_handler_stack.h"
#include "transport/socket/socket_handle.h"
#include "transport/socks/socks_info.h"

namespace brixa {
namespace {

using test::PeerKind;
using test::PeerProcess;

constexpr std::int32_t kReadTimeoutMs = 20000;
constexpr std::int64_t kBigBodyBytes = 50LL * 1024 * 1024;
constexpr const char* kBigBodyName = "socks-50m.bin";

// The same bytes every run, so a mismatch points at the tunnel rather than at the file.
std::string BigBody() {
  std::string bytes(static_cast<std::size_t>(kBigBodyBytes), '\0');
  std::mt19937 generator(20261207);
  for (std::size_t i = 0; i < bytes.size(); i += 4) {
    const std::uint32_t word = generator();
    std::memcpy(&bytes[i], &word, 4);
  }
  return bytes;
}

class SocksPeers : public test::PeerSuite {
 protected:
  // nginx serving the big body; written once per run.
  static PeerProcess* NginxWithBigBody(std::string& whyNot) {
    PeerProcess* nginx = Peer(PeerKind::Nginx, whyNot);
    if (nginx != nullptr && !bigBodyWritten_) {
      std::ofstream out(nginx->DocPath(kBigBodyName), std::ios::binary);
      const std::string body = BigBody();
      out.write(body.data(), static_cast<std::streamsize>(body.size()));
      bigBodyWritten_ = static_cast<bool>(out);
    }
    return nginx;
  }

 private:
  static inline bool bigBodyWritten_ = false;
};

#define NGINX_OR_SKIP(var)                          \
  std::string var##WhyNot;                          \
  PeerProcess* var = NginxWithBigBody(var##WhyNot); \
  if (var == nullptr) GTEST_SKIP() << var##WhyNot

void AimAt(TIdSocksInfo& proxy, const PeerProcess& dante, TSocksVersion version) {
  proxy.SetHost("127.0.0.1");
  proxy.SetPort(static_cast<std::uint16_t>(dante.Port()));
  proxy.SetVersion(version);
}

// An HTTP client whose connections go through `proxy`.
class ProxiedHttp {
 public:
  explicit ProxiedHttp(TIdCustomTransparentProxy& proxy) {
    handler_.SetTransparentProxy(&proxy);
    http_.SetIOHandler(&handler_);
    http_.SetReadTimeout(kReadTimeoutMs);
  }
  TIdHTTP& http() { return http_; }

 private:
  TIdIOHandlerStack handler_;
  TIdHTTP http_;
};

std::string Download(TIdCustomTransparentProxy& proxy, const std::string& url) {
  ProxiedHttp client(proxy);
  TMemoryStream body;
  client.http().Get(url, &body);
  return std::string(reinterpret_cast<const char*>(body.Memory()),
                     static_cast<std::size_t>(body.Size()));
}

std::string ConnectFailure(TIdCustomTransparentProxy& proxy, const std::string& url) {
  try {
    (void)Download(proxy, url);
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return {};
}

TEST_F(SocksPeers, HttpDownloadOf50MiBThroughSocks4And5IsByteExact) {
  NGINX_OR_SKIP(nginx);
  BRIXA_SUITE_PEER_OR_SKIP(dante, PeerKind::Dante);
  BRIXA_SUITE_PEER_OR_SKIP(danteAuth, PeerKind::DanteAuth);
  const std::string expected = BigBody();
  const std::string url = nginx->BaseUrl() + "/" + kBigBodyName;
  struct Case {
    const char* name;
    TSocksVersion version;
    PeerProcess* peer;
    bool password;
  };
  const Case cases[] = {
      {"socks4", svSocks4, dante, false},
      {"socks5", svSocks5, dante, false},
      {"socks5 user/password", svSocks5, danteAuth, true},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
#ifdef _WIN32
    // Under Wine on a loaded machine the three 50 MiB downloads took minutes: there the plain
    // SOCKS 5 one stands for all.
    if (tc.version != svSocks5 || tc.password) continue;
#endif
    TIdSocksInfo proxy;
    AimAt(proxy, *tc.peer, tc.version);
    if (tc.password) {
      proxy.SetAuthentication(saUsernamePassword);
      proxy.SetUsername("alice");
      proxy.SetPassword("secret");
    }
    const std::string body = Download(proxy, url);
    ASSERT_EQ(body.size(), expected.size());
    EXPECT_TRUE(body == expected);
  }
}

TEST_F(SocksPeers, RefusalsMapToTheirMessages) {
  BRIXA_SUITE_PEER_OR_SKIP(dante, PeerKind::Dante);
  BRIXA_SUITE_PEER_OR_SKIP(danteAuth, PeerKind::DanteAuth);
  const test::RefusingPort closed;
  const std::string closedUrl = "http://127.0.0.1:" + std::to_string(closed.Port()) + "/";

  TIdSocksInfo socks5;
  AimAt(socks5, *dante, svSocks5);
  EXPECT_EQ(ConnectFailure(socks5, closedUrl),
            "EIdSocksServerConnectionRefusedError: Connection refused.");
  TIdSocksInfo socks4;
  AimAt(socks4, *dante, svSocks4);
  EXPECT_EQ(ConnectFailure(socks4, closedUrl),
            "EIdSocksRequestFailed: Request rejected or failed.");

  TIdSocksInfo wrongPassword;
  AimAt(wrongPassword, *danteAuth, svSocks5);
  wrongPassword.SetAuthentication(saUsernamePassword);
  wrongPassword.SetUsername("alice");
  wrongPassword.SetPassword("wrong");
  EXPECT_EQ(ConnectFailure(wrongPassword, closedUrl),
            "EIdSocksAuthError: Authentication error to socks server.");
  TIdSocksInfo noPassword;
  AimAt(noPassword, *danteAuth, svSocks5);
  EXPECT_EQ(ConnectFailure(noPassword, closedUrl),
            "EIdSocksAuthMethodError: Invalid socks authentication method.");
}

TEST_F(SocksPeers, ChainOfTwoProxiesReachesTheTarget) {
  NGINX_OR_SKIP(nginx);
  BRIXA_SUITE_PEER_OR_SKIP(first, PeerKind::Dante);
  BRIXA_SUITE_PEER_OR_SKIP(second, PeerKind::DanteAuth);
  TIdSocksInfo a;
  AimAt(a, *first, svSocks4);
  TIdSocksInfo b;
  AimAt(b, *second, svSocks5);
  b.SetAuthentication(saUsernamePassword);
  b.SetUsername("alice");
  b.SetPassword("secret");
  a.SetChainedProxy(&b);
  EXPECT_EQ(Download(a, nginx->BaseUrl() + "/index.html"),
            "<html><body>brixa index page</body></html>\n");
  // Both proxies carried it: each logged a connection.
  EXPECT_NE(first->ReadFile("danted.log").find("127.0.0.1." + std::to_string(second->Port())),
            std::string::npos);
}

TEST_F(SocksPeers, BindAcceptsAnInboundConnectionThroughTheProxy) {
  BRIXA_SUITE_PEER_OR_SKIP(dante, PeerKind::Dante);
  for (const TSocksVersion version : {svSocks4, svSocks5}) {
    SCOPED_TRACE(version);
    TIdSocksInfo proxy;
    AimAt(proxy, *dante, version);
    TIdIOHandlerStack handler;
    handler.SetReadTimeout(kReadTimeoutMs);
    proxy.BindThrough(handler, "127.0.0.1", 0, Id_IPv4);
    const std::uint16_t listening = handler.Binding()->RemotePort();
    ASSERT_NE(listening, 0);
    EXPECT_EQ(handler.Binding()->RemoteIP(), "127.0.0.1");
    EXPECT_FALSE(proxy.ListenThrough(handler, 0));

    const test::net::Socket inbound = test::net::StartConnect(false, listening);
    ASSERT_TRUE(test::net::ConnectFinished(inbound, 5000));
    ASSERT_TRUE(proxy.ListenThrough(handler, 5000));
    EXPECT_EQ(handler.Binding()->RemoteIP(), "127.0.0.1");
    ASSERT_TRUE(test::net::SendAll(inbound, "hello through bind\n", 19));
    EXPECT_EQ(handler.ReadLine(), "hello through bind");
    handler.WriteLine("and back");
    char reply[16] = {};
    EXPECT_EQ(test::net::Receive(inbound, reply, 10, 5000), 10);
    EXPECT_EQ(std::string(reply, 10), "and back\r\n");
    test::net::Close(inbound);
    handler.CloseHandler();
  }
}

TEST_F(SocksPeers, UdpDatagramsEchoThroughTheRelay) {
  BRIXA_SUITE_PEER_OR_SKIP(dante, PeerKind::Dante);
  std::uint16_t echoPort = 0;
  const test::net::Socket echo = test::net::UdpBind(echoPort);
  ASSERT_NE(echo, test::net::kNoSocket);
  std::atomic<int> echoed{0};
  std::thread echoer([&] {
    for (int i = 0; i < 2; ++i) echoed += test::net::EchoOneDatagram(echo, 10000) > 0 ? 1 : 0;
  });

  TIdSocksInfo proxy;
  AimAt(proxy, *dante, svSocks5);
  TIdSocketHandle udp;
  proxy.OpenUdpRelay(udp, "127.0.0.1", echoPort, Id_IPv4);
  std::uint8_t buffer[64];
  for (const std::string text : {"first datagram", "second"}) {
    const std::span<const std::uint8_t> data(reinterpret_cast<const std::uint8_t*>(text.data()),
                                             text.size());
    proxy.SendUdp(udp, "127.0.0.1", echoPort, Id_IPv4, data);
    const TIdUdpDatagramInfo got = proxy.ReceiveUdp(udp, buffer, 10000);
    ASSERT_EQ(got.Length, static_cast<std::int32_t>(text.size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), text.size()), text);
    EXPECT_EQ(got.PeerIP, "127.0.0.1");
    EXPECT_EQ(got.PeerPort, echoPort);
  }
  // Nothing more comes: an empty answer, not a wait without end.
  EXPECT_EQ(proxy.ReceiveUdp(udp, buffer, 100).Length, 0);
  proxy.CloseUdpRelay(udp);
  echoer.join();
  test::net::Close(echo);
  EXPECT_EQ(echoed.load(), 2);
}

}  // namespace
}  // namespace brixa
