// Status handling against the scripted server: redirects and their limit, error statuses and
// their body text, ignored codes, the headers-available veto, and 401/407 challenges.
#include <gtest/gtest.h>

#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;
using test::TestClient;

std::string Redirect(const std::string& location,
                     const std::string& status = "HTTP/1.1 302 Found") {
  return test::Response(status, "moved", "Location: " + location + "\r\n");
}

TEST(StatusHandling, RedirectWithoutFollowingRaisesUnlessIgnored) {
  for (const bool ignored : {false, true}) {
    ScriptedServer server({Expect::LineBlock(), Send(Redirect("/elsewhere"))});
    TestClient http;
    TMemoryStream body;
    body.WriteBuffer("kept", 4);
    try {
      http.Get(test::UrlOf(server, "/"), &body,
               ignored ? TIdIgnoreReplies{302} : TIdIgnoreReplies{});
      EXPECT_TRUE(ignored);
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_FALSE(ignored);
      EXPECT_EQ(e.ReplyCode(), 302);
      EXPECT_EQ(e.Message(), "HTTP/1.1 302 Found");
      EXPECT_EQ(e.BodyText(), "moved");
    }
    EXPECT_EQ(body.DataString(), "kept");
  }
}

TEST(StatusHandling, FollowsRelativeAbsoluteAndLocationOnSuccess) {
  ScriptedServer server({Expect::LineBlock(), Send(Redirect("../index.html")), Expect::LineBlock(),
                         Send(Redirect("/c/d", "HTTP/1.1 301 Moved")), Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "ignored", "Location: /final\r\n")),
                         Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "final"))});
  TestClient http;
  http.SetHandleRedirects(true);
  std::vector<std::string> seen;
  http.OnRedirect = [&](TComponent*, std::string& dest, std::int32_t& n, bool& handled,
                        std::string& method) {
    seen.push_back(std::to_string(n) + " " + method + " " + dest);
    EXPECT_TRUE(handled);
  };
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/a/b/go"), &body);
  EXPECT_EQ(body.DataString(), "final");
  EXPECT_EQ(http.RedirectsSeen(), 3);
  EXPECT_EQ(seen, (std::vector<std::string>{"1 GET ../index.html", "2 GET /c/d", "3 GET /final"}));
  ASSERT_TRUE(server.WaitDone());
  const std::string received = server.Received(0);
  for (const char* line : {"GET /a/b/go ", "GET /a/index.html ", "GET /c/d ", "GET /final "}) {
    EXPECT_NE(received.find(line), std::string::npos) << line;
  }
}

// Redirects the client must not follow: one without a target (going to "" would fetch the
// current directory), and one to a scheme other than http(s), which is never fetched over HTTP.
TEST(StatusHandling, RedirectsWithoutTargetOrToAnotherSchemeAreNotFollowed) {
  {
    ScriptedServer server(
        {Expect::LineBlock(), Send(test::Response("HTTP/1.1 302 Found", "nowhere to go"))});
    TestClient http;
    http.SetHandleRedirects(true);
    TMemoryStream body;
    try {
      http.Get(test::UrlOf(server, "/dir/file"), &body);
      ADD_FAILURE() << "a 302 without Location ended quietly";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), 302);
      EXPECT_EQ(e.BodyText(), "nowhere to go");
    }
    EXPECT_EQ(http.RedirectsSeen(), 0);
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(test::Count(server.Received(0), "GET "), 1);
  }
  for (const char* location : {"ftp://127.0.0.1/x", "file:///etc/passwd", "javascript:alert(1)"}) {
    ScriptedServer server({Expect::LineBlock(), Send(Redirect(location))});
    TestClient http;
    http.SetHandleRedirects(true);
    TMemoryStream body;
    EXPECT_THROW(http.Get(test::UrlOf(server, "/"), &body), EIdUnsupportedProtocol) << location;
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(test::Count(server.Received(0), "GET "), 1) << location;
    EXPECT_EQ(server.Accepted(), 1u) << location;
  }
}

// A Location with blanks, controls or raw UTF-8 and Latin-1 bytes is requested
// percent-encoded, byte for byte; one naming a port that is no port is refused before anything
// is sent.
TEST(StatusHandling, RedirectTargetsAreEncodedOrRefused) {
  ScriptedServer server({Expect::LineBlock(), Send(Redirect("/a b/caf\xC3\xA9\x01?q=x\ty\xE9")),
                         Expect::LineBlock(), Send(Redirect("http://127.0.0.1:99999/"))});
  TestClient http;
  http.SetHandleRedirects(true);
  TMemoryStream body;
  try {
    http.Get(test::UrlOf(server, "/start"), &body);
    ADD_FAILURE() << "port 99999 was accepted";
  } catch (const EIdMalformedURL& e) {
    EXPECT_EQ(e.Message(), "Port must be a decimal number from 1 to 65535");
  }
  ASSERT_TRUE(server.WaitDone());
  EXPECT_NE(server.Received(0).find("GET /a%20b/caf%C3%A9%01?q=x%09y%E9 HTTP/1.1\r\n"),
            std::string::npos)
      << server.Received(0);
}

TEST(StatusHandling, RedirectHandlerMayVetoOrChangeTheTarget) {
  ScriptedServer server({Expect::LineBlock(), Send(Redirect("/from-server")), Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "changed"))});
  TestClient http;
  http.OnRedirect = [](TComponent*, std::string& dest, std::int32_t& n, bool& handled,
                       std::string&) {
    dest = "/from-handler";
    n = 99;  // a copy: the client's count is not changed
    handled = true;
  };
  http.SetHandleRedirects(true);
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), "changed");
  EXPECT_EQ(http.RedirectsSeen(), 1);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_NE(server.Received(0).find("GET /from-handler "), std::string::npos);

  ScriptedServer vetoing({Expect::LineBlock(), Send(Redirect("/no"))});
  http.OnRedirect = [](TComponent*, std::string&, std::int32_t&, bool& handled, std::string&) {
    handled = false;
  };
  EXPECT_THROW(http.Get(test::UrlOf(vetoing, "/"), &body), EIdHTTPProtocolException);
}

// The fifteenth redirect response ends the request: fourteen are followed, no exception, the
// stream is back at its start and the last Location is kept.
TEST(StatusHandling, RedirectMaximumEndsTheRequestQuietly) {
  test::Script script;
  for (int i = 0; i < 15; ++i) {
    script.push_back(Expect::LineBlock());
    script.push_back(Send(Redirect("/loop" + std::to_string(i + 1))));
  }
  ScriptedServer server(script);
  TestClient http;
  http.SetHandleRedirects(true);
  TMemoryStream body;
  body.WriteBuffer("prefix", 6);
  http.Get(test::UrlOf(server, "/loop0"), &body);
  EXPECT_EQ(http.RedirectsSeen(), 15);
  EXPECT_EQ(http.StatusCode(), 302);
  EXPECT_EQ(http.LastResponse().Location(), "/loop15");
  EXPECT_EQ(body.DataString(), "prefix");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(test::Count(server.Received(0), "GET /loop"), 15);
}

TEST(StatusHandling, ErrorBodyTextIsDecodedByItsCharset) {
  const std::string cafe = "caf\xc3\xa9";
  const struct {
    const char* contentType;
    std::string text;
  } cases[] = {
      {"text/html; charset=UTF-8", cafe},
      {"text/html; Charset=\"utf8\"", cafe},
      {"text/html", "caf\xc3\x83\xc2\xa9"},  // one character per byte
  };
  for (const auto& c : cases) {
    ScriptedServer server({Expect::LineBlock(), Send(test::Response("HTTP/1.1 404 Not Found", cafe,
                                                                    std::string("Content-Type: ") +
                                                                        c.contentType + "\r\n"))});
    TestClient http;
    TMemoryStream body;
    try {
      http.Get(test::UrlOf(server, "/missing"), &body);
      ADD_FAILURE() << "404 accepted";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), 404);
      EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
      EXPECT_EQ(e.BodyText(), c.text) << c.contentType;
    }
    EXPECT_EQ(body.Size(), 0);
  }
}

TEST(StatusHandling, IgnoredAndBodylessErrorStatuses) {
  {
    ScriptedServer server(
        {Expect::LineBlock(), Send(test::Response("HTTP/1.1 500 Oops", "trace"))});
    TestClient http;
    TMemoryStream body;
    EXPECT_NO_THROW(http.Get(test::UrlOf(server, "/"), &body, {500}));
    EXPECT_EQ(body.Size(), 0);
    EXPECT_EQ(http.StatusCode(), 500);
  }
  for (const std::string status : {"HTTP/1.1 304 Not Modified", "HTTP/1.1 101 Switching"}) {
    ScriptedServer server({Expect::LineBlock(), Send(status + "\r\n\r\n")});
    TestClient http;
    TMemoryStream body;
    try {
      http.Get(test::UrlOf(server, "/"), &body);
      ADD_FAILURE() << status;
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.Message(), status);
    }
  }
}

TEST(StatusHandling, HeadersAvailableVetoLeavesTheBodyAndCloses) {
  ScriptedServer server({Expect::LineBlock(), Send(test::Response("HTTP/1.1 200 OK", "unread"))});
  TestClient http;
  http.OnHeadersAvailable = [](TComponent*, TIdHeaderList& headers, bool& proceed) {
    EXPECT_EQ(headers.HeaderValue("Content-Length"), "6");
    proceed = false;
  };
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.Size(), 0);
  EXPECT_FALSE(http.IsConnected());
}

std::string Challenge(const std::string& body = "denied") {
  return test::Response("HTTP/1.1 401 Unauthorized", body,
                        "WWW-Authenticate: Basic realm=\"test\"\r\n");
}

TEST(StatusHandling, AcceptedChallengeRetriesInsideTheRequestOnlyWhenAsked) {
  {
    ScriptedServer server({Expect::LineBlock(), Send(Challenge()), Expect::LineBlock(),
                           Send(test::Response("HTTP/1.1 200 OK", "secret"))});
    TestClient http;
    http.SetHTTPOptions({hoInProcessAuth});
    TMemoryStream body;
    http.Get(test::UrlOf(server, "/").replace(7, 0, "alice:secret@"), &body);
    EXPECT_EQ(body.DataString(), "secret");
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(test::Count(server.Received(0), "Authorization: Basic YWxpY2U6c2VjcmV0\r\n"), 1);
  }
  {
    ScriptedServer server({Expect::LineBlock(), Send(Challenge("challenge body"))});
    TestClient http;
    http.Request().SetUsername("alice");
    http.Request().SetPassword("secret");
    TMemoryStream body;
    http.Get(test::UrlOf(server, "/"), &body);
    EXPECT_EQ(body.DataString(), "challenge body");
    EXPECT_EQ(http.StatusCode(), 401);
    ASSERT_NE(http.Request().AuthScheme(), nullptr);  // ready for the caller's next request
  }
}

TEST(StatusHandling, RefusedCredentialsEndAfterMaxAuthRetries) {
  test::Script script;
  for (int i = 0; i < 4; ++i) {
    script.push_back(Expect::LineBlock());
    script.push_back(Send(Challenge()));
  }
  ScriptedServer server(script);
  TestClient http;
  test::AnswerChallengesAs(http, "alice", "wrong");
  TMemoryStream body;
  try {
    http.Get(test::UrlOf(server, "/"), &body);
    ADD_FAILURE() << "refused credentials accepted";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 401);
    EXPECT_EQ(e.BodyText(), "denied");
  }
  EXPECT_EQ(http.ServerAuthAttempts(), 3);
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(test::Count(server.Received(0), "Authorization: Basic"), 3);
}

// A scheme that asks the application for a user name while nobody can answer ends at once.
TEST(StatusHandling, SchemeAskingWithoutHandlerGivesUp) {
  ScriptedServer server({Expect::LineBlock(), Send(Challenge())});
  TestClient http;
  http.SetHTTPOptions({hoInProcessAuth});
  http.Request().SetPassword("secret");  // a password but no user name
  TMemoryStream body;
  EXPECT_THROW(http.Get(test::UrlOf(server, "/"), &body), EIdHTTPProtocolException);
  EXPECT_EQ(http.ServerAuthAttempts(), 1);
}

TEST(StatusHandling, AuthorizationHandlerSuppliesCredentials) {
  ScriptedServer server({Expect::LineBlock(), Send(Challenge()), Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 200 OK", "in"))});
  TestClient http;
  http.SetHTTPOptions({hoInProcessAuth});
  int asked = 0;
  http.OnAuthorization = [&](TComponent*, TIdAuthentication* auth, bool& handled) {
    ++asked;
    auth->StoreUsername("alice");
    auth->StorePassword("secret");
    handled = true;
  };
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/"), &body);
  EXPECT_EQ(body.DataString(), "in");
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(http.Request().Username(), "alice");
}

TEST(StatusHandling, ProxyChallengeWithoutHandlerRaises407) {
  ScriptedServer proxy(
      {Expect::LineBlock(), Send(test::Response("HTTP/1.1 407 Proxy Authentication Required", "no",
                                                "Proxy-Authenticate: Basic realm=\"p\"\r\n"))});
  TestClient http;
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(proxy.Port());
  http.SetHTTPOptions({hoInProcessAuth});
  TMemoryStream body;
  try {
    http.Get("http://origin.invalid:8080/x?y=1", &body);
    ADD_FAILURE() << "407 accepted";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 407);
  }
  ASSERT_TRUE(proxy.WaitDone());
  EXPECT_EQ(proxy.Received(0).rfind("GET http://origin.invalid:8080/x?y=1 HTTP/1.1\r\n", 0), 0u);
  EXPECT_NE(proxy.Received(0).find("Host: origin.invalid:8080\r\n"), std::string::npos);
}

}  // namespace
}  // namespace brixa

namespace brixa {
namespace {

class KeepingStore : public TIdAuthenticationStore {
 public:
  std::vector<std::string> kept;
  void AddAuthentication(const TIdAuthentication& auth, const TIdURI& uri) override {
    kept.push_back(auth.Realm() + " " + uri.Host() + uri.Directory() + uri.Resource());
  }
};

// A challenge accepted without retrying inside the request leaves a prepared Digest exchange;
// when the connection then closes, the finished exchange goes to the store, and stays with the
// request: a Digest challenge does not depend on the connection it came on.
TEST(StatusHandling, FinishedExchangeGoesToTheStoreWhenTheConnectionCloses) {
  ScriptedServer server({Expect::LineBlock(),
                         Send(test::Response("HTTP/1.1 401 Unauthorized", "again",
                                             "Connection: close\r\n"
                                             "WWW-Authenticate: Digest realm=\"vault\", "
                                             "nonce=\"n1\", algorithm=MD5, qop=\"auth\"\r\n")),
                         // The client closes first, as "Connection: close" tells it to.
                         test::Pause(1000)});
  TestClient http;
  KeepingStore store;
  http.SetAuthStore(&store);
  http.Request().SetUsername("bob");
  http.Request().SetPassword("secret");
  int disconnected = 0;
  http.OnDisconnected = [&](TComponent*) { ++disconnected; };
  TMemoryStream body;
  http.Get(test::UrlOf(server, "/dir/file"), &body);
  EXPECT_EQ(body.DataString(), "again");
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(store.kept, std::vector<std::string>{"vault 127.0.0.1/dir/file"});
  ASSERT_NE(http.Request().AuthScheme(), nullptr);
  EXPECT_EQ(http.Request().AuthScheme()->Step(), 1);
}

}  // namespace
}  // namespace brixa
