// The HTTP client against real servers on loopback: nginx (keep-alive, chunked, big bodies,
// redirects, error pages), Apache httpd (Basic and Digest), squid (forward proxy with and
// without proxy authentication).
#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <typeinfo>

#include "http/auth/ntlm/auth_ntlm.h"
#include "http/client/http.h"
#include "support/peers/ntlm_answer.h"
#include "support/peers/peer_suite.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "transport/io/io_handler_exceptions.h"

namespace brixa {
namespace {

using test::PeerKind;
using test::PeerProcess;

constexpr std::int32_t kReadTimeoutMs = 10000;

class Client : public TIdHTTP {
 public:
  Client() { SetReadTimeout(kReadTimeoutMs); }
};

// The connection ids nginx logged for each request line containing `path`.
std::vector<std::string> ConnectionsOf(const PeerProcess& nginx, const std::string& path) {
  std::vector<std::string> ids;
  std::istringstream log(nginx.ReadFile("access.log"));
  for (std::string line; std::getline(log, line);) {
    if (line.find(" " + path + " ") != std::string::npos)
      ids.push_back(line.substr(0, line.find(' ')));
  }
  return ids;
}

// nginx logs a request after its last byte went out, so the client may be faster than the
// log: wait (bounded) until `count` lines for `path` are there.
std::vector<std::string> LoggedConnections(const PeerProcess& nginx, const std::string& path,
                                           std::size_t count) {
  std::vector<std::string> ids = ConnectionsOf(nginx, path);
  for (int i = 0; i < 150 && ids.size() < count; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ids = ConnectionsOf(nginx, path);
  }
  return ids;
}

using HttpPeers = test::PeerSuite;

TEST_F(HttpPeers, NginxHeadThenGetShareOneConnectionAndCloseMakesANewOne) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  const std::string expected = test::ReadFileText(nginx->DocPath("index.html"));
  // A target of this test's own: under Wine one nginx serves every test of the binary.
  const std::string target = "/index.html?head-then-get";
  Client http;
  http.Head(nginx->BaseUrl() + target);
  EXPECT_EQ(http.LastResponse().ContentLength(), static_cast<std::int64_t>(expected.size()));
  TMemoryStream body;
  http.Get(nginx->BaseUrl() + target, &body);
  EXPECT_EQ(body.DataString(), expected);
  const auto kept = LoggedConnections(*nginx, target, 2);
  ASSERT_EQ(kept.size(), 2u);
  EXPECT_EQ(kept[0], kept[1]);

  Client closing;
  closing.Head(nginx->BaseUrl() + "/close/index.html");
  EXPECT_EQ(closing.LastResponse().Connection(), "close");
  TMemoryStream again;
  closing.Get(nginx->BaseUrl() + "/close/index.html", &again);
  EXPECT_EQ(again.DataString(), expected);
  const auto fresh = LoggedConnections(*nginx, "/close/index.html", 2);
  ASSERT_EQ(fresh.size(), 2u);
  EXPECT_NE(fresh[0], fresh[1]);
}

TEST_F(HttpPeers, NginxAcceptsLongRequestHeadersSentOnOneLine) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  Client http;
  http.Request().CustomHeaders().SetHeaderValue("X-Long", std::string(400, 'x'));
  http.Request().SetReferer(nginx->BaseUrl() + "/" + std::string(1500, 'p'));
  TMemoryStream body;
  http.Get(nginx->BaseUrl() + "/index.html", &body);  // a folded line would be a 400
  EXPECT_EQ(http.StatusCode(), 200);
  EXPECT_EQ(body.DataString(), test::ReadFileText(nginx->DocPath("index.html")));
}

TEST_F(HttpPeers, NginxBigBodyArrivesExactlyWithMatchingWorkTotals) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  const std::string expected = test::ReadFileText(nginx->DocPath("big.bin"));
  ASSERT_FALSE(expected.empty());
  Client http;
  std::int64_t announced = -1;
  std::int64_t last = -1;
  int spans = 0;
  http.OnWorkBegin = [&](TComponent*, TWorkMode m, std::int64_t max) {
    if (m == wmRead) announced = max, ++spans;
  };
  http.OnWork = [&](TComponent*, TWorkMode m, std::int64_t n) {
    if (m == wmRead) last = n;
  };
  TMemoryStream body;
  http.Get(nginx->BaseUrl() + "/big.bin", &body);
  EXPECT_TRUE(body.DataString() == expected) << "body differs from the served file";
  EXPECT_EQ(announced, static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(last, static_cast<std::int64_t>(expected.size()));
  EXPECT_EQ(spans, 1);
}

TEST_F(HttpPeers, NginxChunkedBodiesAndKeepAlive) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  Client http;
  for (const char* name : {"index.html", "k1.bin", "big.bin"}) {
    TMemoryStream body;
    http.Get(nginx->BaseUrl() + "/chunked/" + name, &body);
    EXPECT_EQ(http.LastResponse().HeaderLines().HeaderValue("Transfer-Encoding"), "chunked");
    EXPECT_TRUE(body.DataString() == test::ReadFileText(nginx->DocPath(name))) << name;
  }
  const auto ids = LoggedConnections(*nginx, "/chunked/big.bin", 1);
  ASSERT_EQ(ids.size(), 1u);
  EXPECT_EQ(ConnectionsOf(*nginx, "/chunked/index.html").at(0), ids[0]);
}

TEST_F(HttpPeers, NginxRedirectsRelativeAndAbsolute) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  Client http;
  http.SetHandleRedirects(true);
  const struct {
    const char* path;
    const char* document;
  } cases[] = {
      {"/redirect", "index.html"}, {"/redirect-abs", "index.html"}, {"/a/b/go", "a/index.html"}};
  for (const auto& c : cases) {
    TMemoryStream body;
    http.Get(nginx->BaseUrl() + c.path, &body);
    EXPECT_EQ(body.DataString(), test::ReadFileText(nginx->DocPath(c.document))) << c.path;
    EXPECT_EQ(http.RedirectsSeen(), 1) << c.path;
    EXPECT_EQ(http.StatusCode(), 200);
  }
  TMemoryStream loop;
  http.Get(nginx->BaseUrl() + "/loop", &loop);
  EXPECT_EQ(http.StatusCode(), 302);
  EXPECT_EQ(http.RedirectsSeen(), 15);
  EXPECT_EQ(loop.Size(), 0);
}

TEST_F(HttpPeers, Nginx404CarriesItsPageAndOtherStatuses) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  Client http;
  TMemoryStream body;
  try {
    http.Get(nginx->BaseUrl() + "/no-such-file", &body);
    ADD_FAILURE() << "404 accepted";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 404);
    EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
    EXPECT_NE(e.BodyText().find("404 Not Found"), std::string::npos);
  }
  http.Get(nginx->BaseUrl() + "/created", &body);
  EXPECT_EQ(http.StatusCode(), 201);
  EXPECT_EQ(body.DataString(), "created body\n");
  TMemoryStream none;
  http.Get(nginx->BaseUrl() + "/nocontent", &none);
  EXPECT_EQ(http.StatusCode(), 204);
  EXPECT_EQ(none.Size(), 0);
  http.SetProtocolVersion(pv1_0);
  TMemoryStream old;
  http.Get(nginx->BaseUrl() + "/index.html", &old);
  EXPECT_EQ(old.DataString(), test::ReadFileText(nginx->DocPath("index.html")));
}

TEST_F(HttpPeers, ApacheBasicAndDigestWithRetriesInsideTheRequest) {
  BRIXA_SUITE_PEER_OR_SKIP(apache, PeerKind::Apache);
  const struct {
    const char* path;
    const char* user;
  } cases[] = {{"/basic/secret.txt", "alice"}, {"/digest/secret.txt", "bob"}};
  for (const auto& c : cases) {
    Client http;
    http.SetHTTPOptions({hoInProcessAuth});
    http.Request().SetUsername(c.user);
    http.Request().SetPassword("secret");
    TMemoryStream body;
    http.Get(apache->BaseUrl() + c.path, &body);
    EXPECT_EQ(body.DataString(), test::ReadFileText(apache->DocPath(std::string(c.path).substr(1))))
        << c.path;
    EXPECT_EQ(http.ServerAuthAttempts(), 1) << c.path;

    Client wrong;
    wrong.SetHTTPOptions({hoInProcessAuth});
    wrong.Request().SetUsername(c.user);
    wrong.Request().SetPassword("not-the-password");
    try {
      wrong.Get(apache->BaseUrl() + c.path, &body);
      ADD_FAILURE() << c.path << ": wrong password accepted";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), 401) << c.path;
    }
    EXPECT_EQ(wrong.ServerAuthAttempts(), 3) << c.path;
  }
}

// Credentials given for one origin (a scripted server that only redirects) are not given to
// Apache, another origin, unless the caller trusts redirects: Apache's 401 then ends the
// request, for Basic and Digest alike.
TEST_F(HttpPeers, ApacheGetsNoCredentialsMeantForTheOriginThatRedirected) {
  BRIXA_SUITE_PEER_OR_SKIP(apache, PeerKind::Apache);
  const struct {
    const char* path;
    const char* user;
  } cases[] = {{"/basic/secret.txt", "alice"}, {"/digest/secret.txt", "bob"}};
  for (const auto& c : cases) {
    for (const bool trusted : {false, true}) {
      SCOPED_TRACE(std::string(c.path) + (trusted ? " trusted" : " untrusted"));
      const std::string target = apache->BaseUrl() + c.path;
      test::ScriptedServer origin(
          {test::Expect::LineBlock(), test::Send("HTTP/1.1 302 Found\r\nLocation: " + target +
                                                 "\r\nContent-Length: 0\r\n\r\n")});
      Client http;
      http.SetHandleRedirects(true);
      http.SetHTTPOptions({hoInProcessAuth});
      http.SetLocationTrusted(trusted);
      TMemoryStream body;
      const std::string url = "http://" + std::string(c.user) +
                              ":secret@127.0.0.1:" + std::to_string(origin.Port()) + "/start";
      try {
        http.Get(url, &body);
        EXPECT_TRUE(trusted) << "credentials followed the redirect";
        EXPECT_EQ(body.DataString(),
                  test::ReadFileText(apache->DocPath(std::string(c.path).substr(1))));
      } catch (const EIdHTTPProtocolException& e) {
        EXPECT_FALSE(trusted) << e.Message();
        EXPECT_EQ(e.ReplyCode(), 401);
      }
      EXPECT_EQ(http.ServerAuthAttempts(), 1);
    }
  }
}

// After one answered Digest challenge the next request reuses Apache's nonce with the next
// count and needs no new challenge.
TEST_F(HttpPeers, ApacheDigestNonceIsReusedByTheNextRequest) {
  BRIXA_SUITE_PEER_OR_SKIP(apache, PeerKind::Apache);
  Client http;
  http.SetHTTPOptions({hoInProcessAuth});
  http.Request().SetUsername("bob");
  http.Request().SetPassword("secret");
  const std::string expected = test::ReadFileText(apache->DocPath("digest/secret.txt"));
  for (int round = 0; round < 3; ++round) {
    TMemoryStream body;
    http.Get(apache->BaseUrl() + "/digest/secret.txt", &body);
    EXPECT_EQ(body.DataString(), expected) << round;
    EXPECT_EQ(http.ServerAuthAttempts(), round == 0 ? 1 : 0) << round;
  }
}

TEST_F(HttpPeers, SquidForwardsAbsoluteTargetsAndAnswersProxyChallenges) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  BRIXA_SUITE_PEER_OR_SKIP(squid, PeerKind::Squid);
  BRIXA_SUITE_PEER_OR_SKIP(authed, PeerKind::SquidAuth);
  const std::string expected = test::ReadFileText(nginx->DocPath("index.html"));
  {
    Client http;
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(squid->Port());
    TMemoryStream body;
    http.Get(nginx->BaseUrl() + "/index.html?via=squid", &body);
    EXPECT_EQ(body.DataString(), expected);
    EXPECT_EQ(http.Request().ConnectionKind(), ckProxy);
    // A forward proxy serves only absolute-form targets, so arriving proves the form.
    EXPECT_EQ(LoggedConnections(*nginx, "/index.html?via=squid", 1).size(), 1u);
  }
  // Basic, then Digest: the Digest answer signs the method and the absolute URL the request
  // line carries, which squid checks against its own.
  BRIXA_SUITE_PEER_OR_SKIP(digest, PeerKind::SquidDigest);
  for (const test::PeerProcess* proxy : {authed, digest}) {
    SCOPED_TRACE(proxy->Port());
    Client http;
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(proxy->Port());
    TMemoryStream body;
    try {
      http.Get(nginx->BaseUrl() + "/index.html", &body);
      ADD_FAILURE() << "no proxy credentials, yet no 407";
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_EQ(e.ReplyCode(), 407);
    }
    http.SetHTTPOptions({hoInProcessAuth});
    int asked = 0;
    http.OnProxyAuthorization = [&](TComponent*, TIdAuthentication* auth, bool& handled) {
      ++asked;
      auth->StoreUsername("alice");
      auth->StorePassword("secret");
      handled = true;
    };
    for (int round = 0; round < 2; ++round) {
      TMemoryStream page;
      http.Get(nginx->BaseUrl() + "/index.html?proxy-auth=" + std::to_string(round), &page);
      EXPECT_EQ(page.DataString(), expected) << round;
    }
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(http.ProxyParams().ProxyUsername(), "alice");
    EXPECT_NE(proxy->ReadFile("access.log").find("alice"), std::string::npos);
  }
}

// squid with its NTLM helper runs the real three legs: 407 with "NTLM", 407 with the type-2
// challenge, then the page; the type-2 and type-3 legs must share one connection. The second
// squid closes the connection after its first 407, so the exchange goes on over a new one.
TEST_F(HttpPeers, SquidAnswersNTLMProxyAuthenticationAlsoWhenItClosesBetweenLegs) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  if (!NTLMDesAvailable()) GTEST_SKIP() << "no DES here: install libssl3 (OpenSSL)";
  const std::string expected = test::ReadFileText(nginx->DocPath("index.html"));
  for (const PeerKind kind : {PeerKind::SquidNTLM, PeerKind::SquidNTLMClose}) {
    SCOPED_TRACE(test::PeerKindName(kind));
    BRIXA_SUITE_PEER_OR_SKIP(ntlm, kind);
    Client http;
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(ntlm->Port());
    http.SetHTTPOptions({hoInProcessAuth});
    int asked = 0;
    std::string scheme;
    http.OnProxyAuthorization = [&](TComponent*, TIdAuthentication* auth, bool& handled) {
      ++asked;
      scheme = std::string(typeid(*auth) == typeid(TIdNTLMAuthentication) ? "NTLM" : "other");
      auth->StoreUsername("CORP\\alice");
      auth->StorePassword("secret");
      handled = true;
    };
    for (int round = 0; round < 2; ++round) {
      TMemoryStream body;
      http.Get(nginx->BaseUrl() + "/index.html?ntlm=" + std::to_string(round), &body);
      EXPECT_EQ(body.DataString(), expected) << round;
      EXPECT_EQ(http.StatusCode(), 200) << round;
    }
    EXPECT_EQ(scheme, "NTLM");
    EXPECT_GE(asked, 1);
    // squid logs the user its helper accepted on the authenticated requests.
    EXPECT_NE(ntlm->ReadFile("access.log").find("alice"), std::string::npos);
  }
}

// Samba's own NTLM server (ntlm_auth behind squid) checks the answers independently: its
// challenge carries target information, so the answer is version 2, which passes with the right
// password and not with a wrong one. ntlm_auth checking a single password accepts version 1
// too (that mode ignores "ntlm auth"): UseNTLMv1 is shown to reach it, not to be refused.
TEST_F(HttpPeers, SambasNTLMServerChecksVersion2Answers) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  BRIXA_SUITE_PEER_OR_SKIP(samba, PeerKind::SquidNTLMv2);
  const std::string expected = test::ReadFileText(nginx->DocPath("index.html"));
  const struct {
    const char* password;
    bool v1;
    bool passes;
  } cases[] = {{"secret", false, true},
               {"wrong", false, false},
               {"secret", true, true},
               {"wrong", true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.password) + (c.v1 ? " v1" : " v2"));
    Client http;
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(samba->Port());
    http.SetHTTPOptions({hoInProcessAuth});
    http.OnProxyAuthorization = test::AnswerAs("CORP\\alice", c.password, c.v1);
    TMemoryStream body;
    try {
      http.Get(nginx->BaseUrl() + "/index.html?samba", &body);
      EXPECT_TRUE(c.passes);
      EXPECT_EQ(body.DataString(), expected);
    } catch (const EIdHTTPProtocolException& e) {
      EXPECT_FALSE(c.passes);
      EXPECT_EQ(e.ReplyCode(), 407);
    }
  }
  const std::string tool =
      test::BuildTreePath("tools/brixa_http/brixa-http" + test::ExecutableSuffix());
  const std::string proxy = "127.0.0.1:" + std::to_string(samba->Port());
  for (const auto& [user, exitCode] :
       {std::pair{"CORP\\alice:secret", 0}, std::pair{"CORP\\alice:wrong", 22}}) {
    const test::ProgramResult run =
        test::RunProgram(tool, {"-x", proxy, "-U", user, nginx->BaseUrl() + "/index.html"}, 60000);
    EXPECT_EQ(run.exitCode, exitCode) << user << ": " << run.stdErr;
    if (exitCode == 0) {
      EXPECT_EQ(run.stdOut, expected);
    }
  }
}

}  // namespace
}  // namespace brixa
