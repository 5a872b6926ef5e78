// Credentials stay with the origin they were given for: two scripted servers on two ports of
// loopback are two origins, and what the second one receives after a redirect from the first
// shows what leaked.
#include <gtest/gtest.h>

#include "http/auth/auth_basic.h"
#include "unit/http/http_test_support.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;
using test::TestClient;

constexpr const char* kAliceBasic = "Authorization: Basic YWxpY2U6c2VjcmV0\r\n";

std::string RedirectTo(const std::string& location) {
  return test::Response("HTTP/1.1 302 Found", "moved", "Location: " + location + "\r\n");
}

std::string BasicChallenge() {
  return test::Response("HTTP/1.1 401 Unauthorized", "who?",
                        "WWW-Authenticate: Basic realm=\"b\"\r\n");
}

std::string Ok(const std::string& body) {
  return test::Response("HTTP/1.1 200 OK", body);
}

// Every way a caller hands over credentials, for the target the caller names.
struct CredentialSource {
  const char* what;
  std::function<void(TestClient&)> setUp;
  bool userInUrl;
};

const CredentialSource kSources[] = {
    {"request fields, preemptive Basic",
     [](TestClient& h) {
       h.Request().SetUsername("alice");
       h.Request().SetPassword("secret");
       h.Request().SetBasicAuthentication(true);
     },
     false},
    {"URL user information", nullptr, true},
    {"a scheme object of the caller's",
     [](TestClient& h) {
       auto basic = std::make_unique<TIdBasicAuthentication>();
       basic->StoreUsername("alice");
       basic->StorePassword("secret");
       h.Request().SetAuthScheme(std::move(basic));
     },
     false},
    {"own Authorization and Cookie lines",
     [](TestClient& h) {
       h.Request().CustomHeaders().SetHeaderValue("Authorization", "Bearer token-for-a");
       h.Request().CustomHeaders().SetHeaderValue("Cookie", "session=for-a");
     },
     false},
};

std::string UrlWithUser(const ScriptedServer& server, const std::string& path, bool user) {
  std::string url = test::UrlOf(server, path);
  if (user) url.insert(7, "alice:secret@");
  return url;
}

// The origin the caller named gets its credentials; a redirect to another origin arrives
// without any of them, and that origin's 401 ends the request instead of being answered.
TEST(CredentialOrigin, RedirectToAnotherOriginDropsEveryKindOfCredential) {
  for (const CredentialSource& source : kSources) {
    SCOPED_TRACE(source.what);
    ScriptedServer b({Expect::LineBlock(), Send(BasicChallenge())});
    ScriptedServer a({Expect::LineBlock(), Send(RedirectTo(test::UrlOf(b, "/landing")))});
    TestClient http;
    http.SetHandleRedirects(true);
    http.SetHTTPOptions({hoInProcessAuth});
    if (source.setUp) source.setUp(http);
    TMemoryStream body;
    try {
      http.Get(UrlWithUser(a, "/start", source.userInUrl), &body);
      ADD_FAILURE() << "the other origin's 401 was answered";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), 401);
    }
    ASSERT_TRUE(a.WaitDone());
    ASSERT_TRUE(b.WaitDone());
    const std::string toA = a.Received(0);
    const std::string toB = b.Received(0);
    EXPECT_EQ(test::Count(toB, "GET /landing "), 1) << toB;
    EXPECT_EQ(b.Accepted(), 1u);
    EXPECT_EQ(toB.find("Authorization:"), std::string::npos) << toB;
    EXPECT_EQ(toB.find("Cookie:"), std::string::npos) << toB;
    // The first origin had them (a URL's user information goes out once a 401 asks).
    if (!source.userInUrl) {
      EXPECT_NE(toA.find("Authorization: "), std::string::npos) << toA;
    }
    // The caller's settings are as the caller left them.
    if (source.setUp && http.Request().CustomHeaders().Count() > 0) {
      EXPECT_EQ(http.Request().CustomHeaders().HeaderValue("Cookie"), "session=for-a");
    }
  }
}

// LocationTrusted lets the same credentials follow the redirect, and the other origin's 401
// is answered with them.
TEST(CredentialOrigin, LocationTrustedLetsThemFollow) {
  ScriptedServer b(
      {Expect::LineBlock(), Send(BasicChallenge()), Expect::LineBlock(), Send(Ok("welcome"))});
  ScriptedServer a({Expect::LineBlock(), Send(RedirectTo(test::UrlOf(b, "/landing")))});
  TestClient http;
  http.SetHandleRedirects(true);
  http.SetHTTPOptions({hoInProcessAuth});
  http.SetLocationTrusted(true);
  http.Request().CustomHeaders().SetHeaderValue("Cookie", "session=shared");
  TMemoryStream body;
  http.Get(UrlWithUser(a, "/start", true), &body);
  EXPECT_EQ(body.DataString(), "welcome");
  ASSERT_TRUE(b.WaitDone());
  EXPECT_EQ(test::Count(b.Received(0), "Cookie: session=shared\r\n"), 2);
  EXPECT_EQ(test::Count(b.Received(0), kAliceBasic), 1);
}

// A redirect within the origin keeps the credentials; a retry after a 401 goes to the target
// that asked, not back to the URL the caller gave.
TEST(CredentialOrigin, SameOriginRedirectKeepsThemAndRetriesTheChallengedTarget) {
  ScriptedServer a({Expect::LineBlock(), Send(RedirectTo("/inner")), Expect::LineBlock(),
                    Send(BasicChallenge()), Expect::LineBlock(), Send(Ok("inside"))});
  TestClient http;
  http.SetHandleRedirects(true);
  http.SetHTTPOptions({hoInProcessAuth});
  TMemoryStream body;
  http.Get(UrlWithUser(a, "/outer", true), &body);
  EXPECT_EQ(body.DataString(), "inside");
  ASSERT_TRUE(a.WaitDone());
  const std::string received = a.Received(0);
  EXPECT_EQ(test::Count(received, "GET /outer "), 1) << received;
  EXPECT_EQ(test::Count(received, "GET /inner "), 2) << received;
  EXPECT_EQ(test::Count(received, kAliceBasic), 1) << received;
}

// An answered challenge is kept for later requests to its origin only: the caller's next URL
// on another origin starts without it.
TEST(CredentialOrigin, AStoredSchemeGoesOnlyToItsOwnOrigin) {
  ScriptedServer a(
      {Expect::LineBlock(), Send(BasicChallenge()), Expect::LineBlock(), Send(Ok("first"))});
  ScriptedServer other({Expect::LineBlock(), Send(Ok("plain"))});
  TestClient http;
  http.SetHTTPOptions({hoInProcessAuth});
  TMemoryStream body;
  http.Get(UrlWithUser(a, "/one", true), &body);
  EXPECT_EQ(body.DataString(), "first");
  ASSERT_NE(http.Request().AuthScheme(), nullptr);
  // The caller's next URL is on another origin (with no credentials of its own in the URL, but
  // Request still holds alice's): the scheme made for the first origin stays home.
  http.Get(test::UrlOf(other, "/elsewhere"), &body);
  ASSERT_TRUE(other.WaitDone());
  EXPECT_EQ(other.Received(0).find("Authorization:"), std::string::npos) << other.Received(0);
}

}  // namespace
}  // namespace brixa
