// A proxy's answer to CONNECT ends the tunnel's set-up at once: a 2xx opens the tunnel (TLS
// starts over it), a 407 is answered at most MaxAuthRetries times, and every other answer
// ends the request with its status, the proxy's connection closed and no redirect followed.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "transport/tls/ssl_backend.h"
#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;

constexpr char kTarget[] = "https://origin.example:8443/brixakit/version.ini";

// An https client through `proxy` that would follow every redirect it was allowed to.
struct ProxiedClient {
  explicit ProxiedClient(const ScriptedServer& proxy) : tls(NewTlsIOHandler(DefaultTlsBackend())) {
    http.SetIOHandler(tls.get());
    http.SetHandleRedirects(true);
    http.ProxyParams().SetProxyServer(proxy.Host());
    http.ProxyParams().SetProxyPort(proxy.Port());
  }
  ~ProxiedClient() { http.SetIOHandler(nullptr); }
  // What the tunnel carries, once open, to ask what it must not: nothing ever arrives.
  void Get() { http.Get(kTarget, &body); }
  std::unique_ptr<TIdSSLIOHandlerSocketBase> tls;
  test::TestClient http;
  TMemoryStream body;
};

// Every CONNECT the proxy saw, over all its connections.
int ConnectsSeen(const ScriptedServer& proxy) {
  int seen = 0;
  for (std::size_t i = 0; i < proxy.Accepted(); ++i) {
    seen += test::Count(proxy.Received(i), "CONNECT ");
  }
  return seen;
}

TEST(ConnectTunnel, EachAnswerEndsTheSetUpAfterOneConnect) {
  const struct {
    const char* answer;
    int refusedWith;  // 0: the tunnel opens and TLS starts over it
  } cases[] = {
      {"HTTP/1.1 200 Connection established\r\n\r\n", 0},
      {"HTTP/1.1 201 Created\r\n\r\n", 0},
      {"HTTP/1.0 204 No Content\r\n\r\n", 0},
      {"HTTP/1.1 301 Moved\r\nLocation: http://127.0.0.1:9/\r\nContent-Length: 0\r\n\r\n", 301},
      {"HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 0\r\n\r\n", 302},
      {"HTTP/1.1 403 Forbidden\r\nContent-Length: 6\r\n\r\ndenied", 403},
      {"HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n\r\n", 500},
      // Without credentials a challenge is the answer.
      {"HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic realm=\"p\"\r\nContent-Length: 0\r\n\r\n",
       407},
      // An interim answer is no answer to CONNECT; a stream of them would never end.
      {"HTTP/1.1 100 Continue\r\n\r\n", 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    // The answer again after it: a client that sent another CONNECT would get it.
    ScriptedServer proxy(
        {Expect::LineBlock(), Send(c.answer), Expect::Bytes(3), Send(c.answer), Expect::Bytes(3)},
        {.stepTimeoutMs = 1000});
    ProxiedClient client(proxy);
    if (c.refusedWith == 0) {
      // The tunnel is open: the client's TLS hello went to the proxy, which then closes.
      EXPECT_THROW(client.Get(), EIdException);
      const std::string received = proxy.Received(0);
      const auto head = received.find("\r\n\r\n");
      ASSERT_NE(head, std::string::npos);
      EXPECT_EQ(received.substr(head + 4, 1), "\x16");
    } else {
      try {
        client.Get();
        ADD_FAILURE() << "the tunnel was taken as open";
      } catch (const EIdHTTPTunnelRefused& refused) {
        EXPECT_EQ(refused.ReplyCode(), c.refusedWith);
      }
    }
    EXPECT_FALSE(client.http.IsConnected());
    EXPECT_TRUE(proxy.WaitDone(3000));
    EXPECT_EQ(proxy.Accepted(), 1u);
    EXPECT_EQ(ConnectsSeen(proxy), 1);
    EXPECT_EQ(proxy.Received(0).rfind("CONNECT origin.example:8443 HTTP/1.1\r\n", 0), 0u);
  }
}

// A proxy that keeps challenging gets MaxAuthRetries answers and then the refusal, also when
// its challenge carries a Location.
TEST(ConnectTunnel, AProxyThatKeepsChallengingGetsMaxAuthRetriesAnswers) {
  for (const char* extra : {"", "Location: http://127.0.0.1:9/\r\n"}) {
    SCOPED_TRACE(extra);
    const std::string challenge =
        std::string("HTTP/1.1 407 Auth\r\nProxy-Authenticate: Basic realm=\"p\"\r\n") + extra +
        "Content-Length: 4\r\n\r\nauth";
    test::Script script;
    for (int i = 0; i < TIdHTTP::DefaultMaxAuthRetries + 3; ++i) {
      script.push_back(Expect::LineBlock());
      script.push_back(Send(challenge));
    }
    ScriptedServer proxy(script, {.stepTimeoutMs = 1000});
    ProxiedClient client(proxy);
    client.http.ProxyParams().SetProxyUsername("alice");
    client.http.ProxyParams().SetProxyPassword("wrong");
    client.http.OnProxyAuthorization = [](TComponent*, TIdAuthentication*, bool& handled) {
      handled = true;
    };
    try {
      client.Get();
      ADD_FAILURE() << "the tunnel was taken as open";
    } catch (const EIdHTTPTunnelRefused& refused) {
      EXPECT_EQ(refused.ReplyCode(), 407);
      EXPECT_EQ(refused.BodyText(), "auth");
    }
    EXPECT_FALSE(client.http.IsConnected());
    EXPECT_TRUE(proxy.WaitDone(3000));
    EXPECT_EQ(ConnectsSeen(proxy), client.http.MaxAuthRetries() + 1);
    EXPECT_EQ(test::Count(proxy.Received(0), "Proxy-Authorization: Basic "),
              client.http.MaxAuthRetries());
  }
}

}  // namespace
}  // namespace brixa
