// The request cycle against the scripted server: the exact request head, connection reuse and
// the keep-alive rule, interim responses, and the checks made before anything is sent.
#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <type_traits>
#include <variant>

#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;
using test::TestClient;

std::string ExpectedHead(const std::string& method, const std::string& target,
                         const std::string& host, const std::string& extra = {}) {
  return method + " " + target + " HTTP/1.1\r\nHost: " + host +
         "\r\nAccept: text/html, */*\r\nAccept-Encoding: identity\r\n"
         "User-Agent: Mozilla/3.0 (compatible; Brixa Library)\r\n" +
         extra + "\r\n";
}

TEST(RequestCycle, HeadThenGetSendExactHeadsOnOneConnection) {
  ScriptedServer server({Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "", "")),
                         Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "new installer"))});
  TestClient http;
  http.Head(test::UrlOf(server, "/brixakit/update.exe"));
  EXPECT_EQ(http.LastResponse().ContentLength(), 0);
  EXPECT_TRUE(http.IsConnected());
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/brixakit/update.exe"), &body);
  EXPECT_EQ(body.DataString(), "new installer");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Accepted(), 1u);
  const std::string host = test::HostOf(server);
  EXPECT_EQ(server.Received(0), ExpectedHead("HEAD", "/brixakit/update.exe", host) +
                                    ExpectedHead("GET", "/brixakit/update.exe", host));
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(http.StatusLine(), "HTTP/1.1 200 OK");
}

TEST(RequestCycle, ContentLengthOfHeadAnswerIsReported) {
  const struct {
    const char* headers;
    std::int64_t length;
  } cases[] = {{"Content-Length: 1234\r\n", 1234}, {"", -1}, {"Content-Length: 0\r\n", 0}};
  for (const auto& c : cases) {
    ScriptedServer server(
        {Expect::LineBlock(), Send(std::string("HTTP/1.1 200 OK\r\n") + c.headers + "\r\n")});
    TestClient http;
    http.Head(test::UrlOf(server, "/"));
    EXPECT_EQ(http.LastResponse().ContentLength(), c.length) << c.headers;
  }
}

TEST(RequestCycle, ConnectionCloseAndHttp10DecideOnReuse) {
  const struct {
    TIdHTTPProtocolVersion version;
    const char* first;  // the first response's status line and headers
    bool reused;
  } cases[] = {
      {pv1_1, "HTTP/1.1 200 OK\r\nConnection: close", false},
      {pv1_1, "HTTP/1.1 200 OK\r\nConnection: Keep-Alive", true},
      {pv1_1, "HTTP/1.1 200 OK\r\nConnection: Upgrade, Close", false},
      // A 1.0 answer keeps the connection only when it says so, whatever the client speaks.
      {pv1_1, "HTTP/1.0 200 OK", false},
      {pv1_1, "HTTP/1.0 200 OK\r\nConnection: keep-alive", true},
      {pv1_0, "HTTP/1.0 200 OK", false},
      {pv1_0, "HTTP/1.0 200 OK\r\nConnection: keep-alive", true},
      {pv1_0, "HTTP/1.1 200 OK\r\nProxy-Connection: keep-alive", true},
  };
  for (const auto& c : cases) {
    const std::string second = test::Response("HTTP/1.1 200 OK", "two");
    std::vector<test::Script> scripts;
    if (c.reused) {
      scripts.push_back({Expect::LineBlock(), Send(test::Response(c.first, "one")),
                         Expect::LineBlock(), Send(second)});
    } else {
      scripts.push_back({Expect::LineBlock(), Send(test::Response(c.first, "one"))});
      scripts.push_back({Expect::LineBlock(), Send(second)});
    }
    ScriptedServer server(scripts);
    TestClient http;
    http.SetProtocolVersion(c.version);
    TMemoryStream one;
    TMemoryStream two;
    http.Get(test::UrlOf(server, "/1"), &one);
    http.Get(test::UrlOf(server, "/2"), &two);
    EXPECT_EQ(one.DataString() + two.DataString(), "onetwo") << c.first;
    ASSERT_TRUE(server.WaitDone()) << c.first;
    EXPECT_EQ(server.Accepted(), c.reused ? 1u : 2u) << c.first;
    const bool asksKeepAlive =
        server.Received(0).find("Connection: keep-alive\r\n") != std::string::npos;
    EXPECT_EQ(asksKeepAlive, c.version == pv1_0) << c.first;
    EXPECT_NE(server.Received(0).find(c.version == pv1_0 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n"),
              std::string::npos);
  }
}

TEST(RequestCycle, InterimContinueIsSkippedAndItsHeadersReplaced) {
  ScriptedServer server(
      {Expect::LineBlock(), Send("HTTP/1.1 100 Continue\r\nX-Interim: yes\r\n\r\n"
                                 "HTTP/1.1 100 Continue\r\n\r\n" +
                                 test::Response("HTTP/1.1 200 OK", "done", "X-Final: yes\r\n"))});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), "done");
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("X-Interim"), "");
  EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("X-Final"), "yes");
}

// A server may send many interim answers, but not without end: past the limit the request
// fails at once, without waiting for another line, and the connection is given up.
TEST(RequestCycle, InterimResponsesAreBounded) {
  std::string interims;
  for (int i = 0; i < TIdHTTP::MaxInterimResponses; ++i)
    interims += "HTTP/1.1 100 Continue\r\n\r\n";
  {
    ScriptedServer server(
        {Expect::LineBlock(), Send(interims + test::Response("HTTP/1.1 200 OK", "final"))});
    TestClient http;
    TMemoryStream body;
    http.Get(test::UrlOf(server, "/"), &body);
    EXPECT_EQ(body.DataString(), "final");
  }
  ScriptedServer server({Expect::LineBlock(), Send(interims + "HTTP/1.1 100 Continue\r\n\r\n"),
                         // The client must hang up by itself: no final status ever comes.
                         Expect::Close()});
  TestClient http;
  TMemoryStream body;
  try {
    http.Get(test::UrlOf(server, "/"), &body);
    ADD_FAILURE() << "endless interim answers accepted";
  } catch (const EIdHTTPTooManyInterimResponses& e) {
    EXPECT_EQ(e.Message(), "Too many interim responses");
  }
  EXPECT_FALSE(http.IsConnected());
  EXPECT_EQ(body.Size(), 0);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Failures(), "");
}

TEST(RequestCycle, RefusesBadTargetsBeforeConnecting) {
  ScriptedServer server(test::Script{});
  const std::string port = std::to_string(server.Port());
  TestClient http;
  TMemoryStream body;
  // Only http and https are fetched; any other scheme, with or without "//", is refused.
  for (const std::string& url :
       std::vector<std::string>{"ftp://127.0.0.1/file", "FTP://127.0.0.1:" + port + "/file",
                                "gopher://127.0.0.1:" + port + "/", "mailto:a@127.0.0.1"}) {
    try {
      http.Get(url, &body);
      FAIL() << url << " was accepted";
    } catch (const EIdUnsupportedProtocol& e) {
      EXPECT_EQ(e.Message(), "Protocol not supported") << url;
    }
  }
  try {
    http.Get("update.exe", &body);  // relative, and nothing to resolve it against
    FAIL() << "a relative URL on a fresh client was accepted";
  } catch (const EIdUnknownProtocol& e) {
    EXPECT_EQ(e.Message(), "Unknown Protocol");
  }
  for (const char* bad : {"abc", "0", "65536", "-1", "+80", " 80", "99999999999"}) {
    try {
      http.Get(std::string("http://127.0.0.1:") + bad + "/", &body);
      FAIL() << "port " << bad << " was accepted";
    } catch (const EIdMalformedURL& e) {
      EXPECT_EQ(e.Message(), "Port must be a decimal number from 1 to 65535") << bad;
    }
  }
  EXPECT_THROW(http.Get("http://bad\thost:" + port + "/", &body), EIdMalformedURL);
  try {
    http.Get("https://127.0.0.1:" + port + "/", &body);
    FAIL() << "https without a TLS handler was accepted";
  } catch (const EIdIOHandlerPropInvalid& e) {
    EXPECT_EQ(e.Message(), "IOHandler value is not valid");
  }
  http.SetProtocolVersion(pv1_0);
  for (const char* method : {"PUT", "delete", "TRACE", "OPTIONS"}) {
    try {
      http.PerformRequest(method, test::UrlOf(server, "/"), nullptr, nullptr, {});
      FAIL() << method << " went out as HTTP/1.0";
    } catch (const EIdHTTPInvalidRequestText&) {
      FAIL() << method;
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Request method requires HTTP version 1.1") << method;
    }
  }
  EXPECT_EQ(server.Accepted(), 0u);
  EXPECT_FALSE(http.IsConnected());
}

// Caller text with CR, LF or NUL would let the caller end the request line or a header line
// and add lines of its own; it is refused before a byte goes out.
TEST(RequestCycle, LineBreaksInCallerTextAreRefusedBeforeSending) {
  ScriptedServer server(test::Script{});
  const std::string base = test::UrlOf(server, "/");
  const struct {
    const char* what;
    std::function<void(TestClient&)> setUp;
    std::string method;
    std::string url;
  } cases[] = {
      {"url", nullptr, "GET", base + "x HTTP/1.1\r\nX-Injected: 1\r\n\r\n"},
      {"url lf", nullptr, "GET", base + "x\nX: 1"},
      {"url nul", nullptr, "GET", base + std::string("x\0y", 3)},
      {"method", nullptr, "GET / HTTP/1.1\r\nX: 1\r\n\r\nGET", base},
      {"user agent", [](TestClient& h) { h.Request().SetUserAgent("a\r\nX-Injected: 1"); }, "GET",
       base},
      {"custom header",
       [](TestClient& h) { h.Request().CustomHeaders().SetHeaderValue("X-Note", "a\rb"); }, "GET",
       base},
  };
  for (const auto& c : cases) {
    TestClient http;
    if (c.setUp) c.setUp(http);
    TMemoryStream body;
    EXPECT_THROW(http.PerformRequest(c.method, c.url, nullptr, &body, {}),
                 EIdHTTPInvalidRequestText)
        << c.what;
  }
  // Every text field that must stay on one line, whichever record holds it; the cycle writes
  // its own values into the fields it fills in for every request.
  const std::set<std::string_view> filledByTheCycle = {"Connection", "Host", "Proxy-Connection",
                                                       "Accept-Encoding"};
  const auto refuseEach = [&](auto fields) {
    for (const auto& row : fields) {
      if (!row.Takes(hfOneLine) || filledByTheCycle.contains(row.name)) continue;
      // A server of its own: a refused request leaves its connection in the listen queue.
      ScriptedServer rowServer(test::Script{});
      TestClient http;
      std::visit(
          [&](auto member) {
            if constexpr (std::is_same_v<decltype(http.Request().*member), std::string&>) {
              http.Request().*member = "a\r\nX-Injected: 1";
            }
          },
          row.member);
      TMemoryStream body;
      EXPECT_THROW(http.PerformRequest("GET", test::UrlOf(rowServer, "/"), nullptr, &body, {}),
                   EIdHTTPInvalidRequestText)
          << row.name << " " << (&row - fields.data());
      EXPECT_TRUE(rowServer.Received(0).empty()) << row.name;
    }
  };
  refuseEach(TIdEntityHeaderInfo::Fields());
  refuseEach(TIdRequestHeaderInfo::Fields());
  EXPECT_TRUE(server.Received(0).empty());
}

// What the caller's URL names is what is requested: "=" is part of a file name, a fragment
// stays home, blanks and bytes beyond ASCII go percent-encoded, and user information with "@"
// or "=" in the password still finds the host.
TEST(RequestCycle, TargetsGoOutAsNamedAndEncoded) {
  ScriptedServer server({Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "1")),
                         Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "2"))});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/dl/file=1.txt#part"), &body);
  http.Get(test::UrlOf(server, "/my files/r\xC3\xA9sum\xC3\xA9.pdf?a b").replace(7, 0, "u:p@s=w@"),
           &body);
  ASSERT_TRUE(server.WaitDone());
  const std::string received = server.Received(0);
  EXPECT_NE(received.find("GET /dl/file=1.txt HTTP/1.1\r\n"), std::string::npos) << received;
  EXPECT_NE(received.find("GET /my%20files/r%C3%A9sum%C3%A9.pdf?a%20b HTTP/1.1\r\n"),
            std::string::npos)
      << received;
  EXPECT_EQ(http.Request().Username(), "u");
  EXPECT_EQ(http.Request().Password(), "p@s=w");
}

TEST(RequestCycle, RelativeUrlsResolveAgainstTheLastTarget) {
  ScriptedServer server({Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "1")),
                         Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "2")),
                         Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "3"))});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/a/b/first.txt?x=1"), &body);
  http.Get("../second.txt", &body);
  http.Get("/third.txt?y=2", &body);
  EXPECT_EQ(body.DataString(), "123");
  ASSERT_TRUE(server.WaitDone());
  const std::string received = server.Received(0);
  EXPECT_NE(received.find("GET /a/b/first.txt?x=1 HTTP/1.1\r\n"), std::string::npos);
  EXPECT_NE(received.find("GET /a/second.txt HTTP/1.1\r\n"), std::string::npos);
  EXPECT_NE(received.find("GET /third.txt?y=2 HTTP/1.1\r\n"), std::string::npos);
  EXPECT_EQ(test::Count(received, "Host: " + test::HostOf(server) + "\r\n"), 3);
}

}  // namespace
}  // namespace brixa

namespace brixa {
namespace {

TEST(RequestCycle, CookiesSetByOneResponseGoOutWithTheNextRequest) {
  ScriptedServer server({Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "1",
                                             "Set-Cookie: session=abc; Path=/\r\n"
                                             "set-cookie: theme=dark; Path=/app\r\n")),
                         Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "2")),
                         Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "3"))});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/app/one"), &body);
  ASSERT_NE(http.CookieManager(), nullptr);
  EXPECT_TRUE(http.OwnsCookieManager());
  http.Get(test::UrlOf(server, "/app/two"), &body);
  http.Get(test::UrlOf(server, "/other"), &body);
  ASSERT_TRUE(server.WaitDone());
  const std::string received = server.Received(0);
  const auto second = received.find("GET /app/two");
  const auto third = received.find("GET /other");
  ASSERT_NE(second, std::string::npos);
  ASSERT_NE(third, std::string::npos);
  const std::string secondHead = received.substr(second, third - second);
  const std::string thirdHead = received.substr(third);
  // The cookie line comes last in the head.
  EXPECT_NE(secondHead.find("\r\nCookie: "), std::string::npos);
  EXPECT_NE(secondHead.find("session=abc"), std::string::npos);
  EXPECT_NE(secondHead.find("theme=dark"), std::string::npos);
  EXPECT_EQ(
      secondHead.substr(secondHead.rfind("\r\n", secondHead.size() - 5) + 2).rfind("Cookie: ", 0),
      0u);
  EXPECT_NE(thirdHead.find("session=abc"), std::string::npos);
  EXPECT_EQ(thirdHead.find("theme=dark"), std::string::npos);
  EXPECT_EQ(received.find("Cookie:"), received.find("\r\nCookie:", second) + 2);

  TestClient noCookies;
  noCookies.SetAllowCookies(false);
  ScriptedServer other(
      {Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "1", "Set-Cookie: a=b\r\n"))});
  noCookies.Get(test::UrlOf(other, "/"), &body);
  EXPECT_EQ(noCookies.CookieManager(), nullptr);
}

TEST(RequestCycle, OwnCookieManagerMakesWayForAnAssignedOne) {
  ScriptedServer server(
      {Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "1", "Set-Cookie: a=b\r\n"))});
  TestClient http;
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  ASSERT_TRUE(http.OwnsCookieManager());
  {
    TIdCookieManager assigned;
    http.SetCookieManager(&assigned);
    EXPECT_EQ(http.CookieManager(), &assigned);
    EXPECT_FALSE(http.OwnsCookieManager());
  }
  EXPECT_EQ(http.CookieManager(), nullptr);  // told when the manager went away
}

// Records what the decompressor base hands to the inflating step.
class RecordingCompressor : public TIdZLibCompressorBase {
 public:
  std::string handed;

 protected:
  void DecompressStream(TStream& input, TStream& output) override {
    handed.resize(static_cast<std::size_t>(input.Size() - input.Position()));
    input.ReadBuffer(handed.data(), static_cast<std::int64_t>(handed.size()));
    output.WriteBuffer("inflated", 8);
  }
};

TEST(RequestCycle, CompressorIsOfferedAndGivenCompressedBodies) {
  const std::string member =
      std::string("\x1f\x8b\x08\x00\0\0\0\0\0\x03", 10) + "DEFLATED" + "CRC4SIZE";
  ScriptedServer server(
      {Expect::LineBlock(),
       Send(test::Response("HTTP/1.1 200 OK", member, "Content-Encoding: GZIP\r\n")),
       Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "plain"))});
  TestClient http;
  RecordingCompressor compressor;
  http.SetCompressor(&compressor);
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), "inflated");
  EXPECT_EQ(compressor.handed, std::string("\x78\x9c", 2) + "DEFLATED");
  TMemoryStream plain;
  http.Get(test::UrlOf(server, "/plain"), &plain);
  EXPECT_EQ(plain.DataString(), "plain");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(test::Count(server.Received(0), "Accept-Encoding: deflate, gzip, identity\r\n"), 2);
}

// A proxy on an IPv6 address is reached over IPv6 whatever the target's family, with or
// without URL brackets around the address.
TEST(RequestCycle, AProxyOnAnIPv6AddressIsReachedOverIPv6) {
  for (const char* address : {"::1", "[::1]"}) {
    SCOPED_TRACE(address);
    test::ScriptedServerOptions onIPv6;
    onIPv6.ipv6 = true;
    ScriptedServer proxy({Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "v6"))},
                         onIPv6);
    TestClient http;
    http.ProxyParams().SetProxyServer(address);
    http.ProxyParams().SetProxyPort(proxy.Port());
    TMemoryStream body;
    http.Get("http://127.0.0.1:9/page", &body);
    EXPECT_EQ(body.DataString(), "v6");
    ASSERT_TRUE(proxy.WaitDone());
    EXPECT_EQ(proxy.Received(0).rfind("GET http://127.0.0.1:9/page HTTP/1.1\r\n", 0), 0u);
  }
}

TEST(RequestCycle, Http10ThroughAProxyAsksForProxyKeepAlive) {
  ScriptedServer proxy(
      {Expect::LineBlock(),
       Send(test::Response("HTTP/1.0 200 OK", "via proxy", "Proxy-Connection: keep-alive\r\n")),
       Expect::LineBlock(), Send(test::Response("HTTP/1.0 200 OK", "again"))});
  TestClient http;
  http.SetProtocolVersion(pv1_0);
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  TMemoryStream body;
  http.Get("http://origin.invalid/page", &body);
  http.Get("http://origin.invalid/page2", &body);
  EXPECT_EQ(body.DataString(), "via proxyagain");
  ASSERT_TRUE(proxy.WaitDone());
  EXPECT_EQ(proxy.Accepted(), 1u);
  const std::string received = proxy.Received(0);
  EXPECT_EQ(received.rfind("GET http://origin.invalid/page HTTP/1.0\r\n", 0), 0u);
  EXPECT_EQ(test::Count(received, "Proxy-Connection: keep-alive\r\n"), 2);
  EXPECT_EQ(received.find("\r\nConnection:"), std::string::npos);
  EXPECT_EQ(test::Count(received, "Host: origin.invalid\r\n"), 2);
}

}  // namespace
}  // namespace brixa

namespace brixa {
namespace {

TEST(RequestCycle, BodiesGoOutAfterTheHeadAndUnwantedAnswersAreDrained) {
  ScriptedServer server({Expect::Until("payload"),
                         Send(test::Response("HTTP/1.1 201 Created", "made")), Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "gone")), Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "", "Allow: GET\r\n")),
                         Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "last"))});
  TestClient http;
  TMemoryStream source;
  source.WriteBuffer("payload", 7);
  source.SetPosition(3);  // the whole stream is sent, wherever it stands
  TMemoryStream answer;
  http.PerformRequest("PUT", test::UrlOf(server, "/item"), &source, &answer, {});
  EXPECT_EQ(answer.DataString(), "made");
  // No stream for the answer: its body still has to leave the connection.
  http.PerformRequest("DELETE", test::UrlOf(server, "/item"), nullptr, nullptr, {});
  http.PerformRequest("OPTIONS", test::UrlOf(server, "/*"), nullptr, nullptr, {});
  TMemoryStream last;
  http.Get(test::UrlOf(server, "/after"), &last);
  EXPECT_EQ(last.DataString(), "last");
  ASSERT_TRUE(server.WaitDone());
  const std::string received = server.Received(0);
  EXPECT_EQ(received.rfind("PUT /item HTTP/1.1\r\nContent-Length: 7\r\n", 0), 0u);
  EXPECT_NE(received.find("\r\n\r\npayloadDELETE /item HTTP/1.1\r\n"), std::string::npos);
  EXPECT_NE(received.find("OPTIONS * HTTP/1.1\r\n"), std::string::npos);
  EXPECT_EQ(server.Accepted(), 1u);
}

// A HEAD's redirect carries no body whatever its length says, so the client waits for none
// (not the 5 s it gives the body of a GET's redirect).
TEST(RequestCycle, HeadFollowingARedirectDoesNotWaitForABody) {
  ScriptedServer server(
      {Expect::LineBlock(),
       Send("HTTP/1.1 302 Found\r\nLocation: /there\r\nContent-Length: 9\r\n\r\n"),
       Expect::LineBlock(), Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n")});
  TestClient http;
  http.SetHandleRedirects(true);
  const auto start = std::chrono::steady_clock::now();
  http.Head(test::UrlOf(server, "/here"));
  const auto elapsed = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(http.LastResponse().ContentLength(), 3);
  EXPECT_LT(elapsed, std::chrono::milliseconds(2500));
}

}  // namespace
}  // namespace brixa
