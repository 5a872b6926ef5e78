// The client's logon schemes: Kerberos against a real realm (Apache with mod_auth_gssapi, squid
// with negotiate_kerberos_auth), and the choice and wire bytes of the logon against scripted
// servers where the outcome depends on the platform's system package.
#include <gtest/gtest.h>

#include <cstdlib>

#include "http/auth/logon/auth_negotiate.h"
#include "http/client/http.h"
#include "http/client/http_protocol_exception.h"
#include "platform/core/stream.h"
#include "runtime/codec/mime_coder.h"
#include "support/peers/kerberos_realm.h"
#include "support/scripted_server.h"

namespace brixa {
namespace {

constexpr std::int32_t kReadTimeoutMs = 10000;

// The challenge of the NTLMv2 example in MS-NLMP (4.2.4.3): target information naming domain
// "Domain" and server "Server", which a system NTLM answers with an NTLMv2 response.
constexpr const char* kType2WithTargetInfo =
    "TlRMTVNTUAACAAAADAAMADgAAAAzgoriASNFZ4mrze8AAAAAAAAAACQAJABEAAAABgBwFwAAAA9TAGUAcgB2AGUAcgAC"
    "AAwARABvAG0AYQBpAG4AAQAMAFMAZQByAHYAZQByAAAAAAA=";

#ifdef _WIN32
constexpr bool kSystemNtlm = true;  // SSPI's NTLM (Wine: backed by Samba's ntlm_auth)
#else
constexpr bool kSystemNtlm = false;  // GSS-API has no NTLM: the library's own answers
#endif

// A client that answers challenges inside the request, as the updater and brixa-http do.
class Client : public TIdHTTP {
 public:
  Client() {
    SetReadTimeout(kReadTimeoutMs);
    TIdHTTPOptions options = HTTPOptions();
    options.Include(hoInProcessAuth);
    SetHTTPOptions(options);
  }
};

std::string Fetch(TIdHTTP& http, const std::string& url) {
  TMemoryStream body;
  http.Get(url, &body);
  return std::string(reinterpret_cast<const char*>(body.Memory()),
                     static_cast<std::size_t>(body.Size()));
}

std::int32_t FailedStatus(TIdHTTP& http, const std::string& url) {
  try {
    (void)Fetch(http, url);
  } catch (const EIdHTTPProtocolException& e) {
    return e.ReplyCode();
  }
  return 0;
}

class KerberosPeers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { realm_ = test::KerberosRealm::Start(whyNot_); }
  static void TearDownTestSuite() { realm_.reset(); }
  void SetUp() override {
    if (!realm_) GTEST_SKIP() << whyNot_;
    realm_->UseTicket();
  }

  static inline std::unique_ptr<test::KerberosRealm> realm_;
  static inline std::string whyNot_;
  Client http_;
};

TEST_F(KerberosPeers, ServerAnswersEveryRequestOnAKeptConnection) {
  http_.SetLogonForServer(true);
  const std::string secret = realm_->ApacheUrl() + "/negotiate/secret.txt";
  EXPECT_EQ(Fetch(http_, secret), "negotiate secret\n");
  EXPECT_EQ(Fetch(http_, secret), "negotiate secret\n");
  EXPECT_EQ(http_.ServerAuthAttempts(), 1);
  const auto* scheme = dynamic_cast<TIdLogonAuthentication*>(http_.Request().AuthScheme());
  ASSERT_NE(scheme, nullptr);
  EXPECT_EQ(scheme->ServiceHost(), "127.0.0.1");
}

TEST_F(KerberosPeers, NoLogonWithoutPermissionOrTicket) {
  const std::string secret = realm_->ApacheUrl() + "/negotiate/secret.txt";
  EXPECT_EQ(FailedStatus(http_, secret), 401);
  EXPECT_EQ(http_.Request().AuthScheme(), nullptr);

  Client withoutTicket;
  withoutTicket.SetLogonForServer(true);
  realm_->UseNoTicket();
  EXPECT_EQ(FailedStatus(withoutTicket, secret), 401);
  EXPECT_EQ(withoutTicket.Request().AuthScheme(), nullptr);
  std::string why;
  EXPECT_FALSE(LogonSchemeUsable("Negotiate", "", "", &why));
  EXPECT_NE(why.find("gss_acquire_cred"), std::string::npos) << why;
}

TEST_F(KerberosPeers, ProxyAnswersOnlyWithPermission) {
  http_.SetLogonForProxy(true);
  http_.ProxyParams().SetProxyServer("127.0.0.1");
  http_.ProxyParams().SetProxyPort(std::stoi(realm_->SquidAddress().substr(10)));
  EXPECT_EQ(Fetch(http_, realm_->ApacheUrl() + "/open.txt"), "open page\n");
  http_.SetLogonForServer(true);
  EXPECT_EQ(Fetch(http_, realm_->ApacheUrl() + "/negotiate/secret.txt"), "negotiate secret\n");

  // Narrowed to Kerberos alone (a proxy that discovery found): the next connection's challenge
  // is answered by a Kerberos-only exchange, not the one begun under Negotiate.
  http_.SetLogonForProxyKerberosOnly(true);
  http_.CloseConnection();
  EXPECT_EQ(Fetch(http_, realm_->ApacheUrl() + "/open.txt"), "open page\n");
  EXPECT_NE(dynamic_cast<TIdKerberosAuthentication*>(http_.ProxyParams().AuthScheme()), nullptr);

  Client refused;
  refused.ProxyParams().SetProxyServer("127.0.0.1");
  refused.ProxyParams().SetProxyPort(http_.ProxyParams().ProxyPort());
  EXPECT_EQ(FailedStatus(refused, realm_->ApacheUrl() + "/open.txt"), 407);
}

// What answers an "NTLM" challenge with the logon allowed and credentials given: the system's
// NTLM where it has one, the library's own NTLM elsewhere; Basic, offered too, is never chosen
// over either.
TEST(LogonSchemes, SystemNtlmAnswersWithGivenCredentials) {
#ifndef _WIN32
  setenv("KRB5CCNAME", "FILE:/nonexistent/brixa-no-ticket", 1);
#endif
  test::ScriptedServer server({
      test::Expect::LineBlock(),
      test::Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"x\"\r\n"
                 "WWW-Authenticate: NTLM\r\nContent-Length: 0\r\n\r\n"),
      test::Expect::Until("Authorization: NTLM TlRMTVNTUAABAAAA"), test::Expect::LineBlock(),
      test::Send(std::string("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: NTLM ") +
                 kType2WithTargetInfo + "\r\nContent-Length: 0\r\n\r\n"),
      test::Expect::Until("Authorization: NTLM TlRMTVNTUAADAAAA"), test::Expect::LineBlock(),
      test::Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nok\n"),
      test::Expect::Close(),  // the exchange stays with the open connection until then
  });
  Client http;
  http.SetLogonForServer(true);
  http.Request().SetUsername("Domain\\User");
  http.Request().SetPassword("Password");
  EXPECT_EQ(Fetch(http, "http://127.0.0.1:" + std::to_string(server.Port()) + "/x"), "ok\n");
  const bool bySystem =
      dynamic_cast<TIdSSPINTLMAuthentication*>(http.Request().AuthScheme()) != nullptr;
  http.CloseConnection();
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Failures(), "");
  EXPECT_EQ(server.Received(0).find("Authorization: Basic"), std::string::npos);
  const std::string received = server.Received(0);
  const std::size_t at = received.find("Authorization: NTLM TlRMTVNTUAADAAAA");
  ASSERT_NE(at, std::string::npos);
  const std::size_t start = at + std::string("Authorization: NTLM ").size();
  const TIdByteArray type3 =
      TIdDecoderMIME::DecodeBytes(received.substr(start, received.find("\r\n", start) - start));
  ASSERT_GT(type3.size(), 22u);
  const std::size_t ntLength = type3[20] | (type3[21] << 8);
  // NTLMv2 (the challenge carries target information) from either: the proof and the client
  // blob, never version 1's 24 bytes.
  EXPECT_GT(ntLength, 24u);
  EXPECT_EQ(bySystem, kSystemNtlm);
}

// Negotiate that falls back to NTLM inside the system (SSPI without a domain controller does):
// two legs on one connection, each token in a "Negotiate" header.
TEST(LogonSchemes, NegotiateContinuesWithThePeersToken) {
  if (!kSystemNtlm) GTEST_SKIP() << "needs the system's NTLM inside Negotiate (SSPI)";
  test::ScriptedServer server({
      test::Expect::LineBlock(),
      test::Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Negotiate\r\n"
                 "Content-Length: 0\r\n\r\n"),
      test::Expect::Until("Authorization: Negotiate "),
      test::Expect::LineBlock(),
      test::Send(std::string("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Negotiate ") +
                 kType2WithTargetInfo + "\r\nContent-Length: 0\r\n\r\n"),
      test::Expect::Until("Authorization: Negotiate "),
      test::Expect::LineBlock(),
      test::Send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nok\n"),
  });
  Client http;
  http.SetLogonForServer(true);
  http.Request().SetUsername("Domain\\User");
  http.Request().SetPassword("Password");
  EXPECT_EQ(Fetch(http, "http://127.0.0.1:" + std::to_string(server.Port()) + "/x"), "ok\n");
  ASSERT_TRUE(server.WaitDone());
  EXPECT_EQ(server.Failures(), "");
  EXPECT_EQ(server.Accepted(), 1u);
  // SSPI's Negotiate without a domain speaks raw NTLMSSP: type 1, then type 3 for the challenge.
  const std::string received = server.Received(0);
  const std::size_t first = received.find("Authorization: Negotiate TlRMTVNTUAABAAAA");
  ASSERT_NE(first, std::string::npos) << received;
  EXPECT_NE(received.find("Authorization: Negotiate TlRMTVNTUAADAAAA", first), std::string::npos)
      << received;
}

// A proxy that asks for NTLM and Negotiate gets NTLM's first leg where the caller allows more
// than Kerberos and the system has NTLM (SSPI), never from Kerberos alone. Given credentials
// stand in for the logon, which Wine's NTLM cannot use.
TEST(LogonSchemes, KerberosOnlyProxyLogonNeverSpeaksNtlm) {
#ifndef _WIN32
  setenv("KRB5CCNAME", "FILE:/nonexistent/brixa-no-ticket", 1);
#endif
  for (const bool kerberosOnly : {false, true}) {
    SCOPED_TRACE(kerberosOnly ? "Kerberos only" : "any logon");
    test::ScriptedServer proxy({
        test::Expect::LineBlock(),
        test::Send("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: NTLM\r\n"
                   "Proxy-Authenticate: Negotiate\r\nContent-Length: 0\r\n\r\n"),
        // The answer's first leg, if any, ends here.
        test::Expect::LineBlock(),
        test::Send("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n"),
    });
    Client http;
    http.SetLogonForProxy(true);
    http.SetLogonForProxyKerberosOnly(kerberosOnly);
    http.ProxyParams().SetProxyServer("127.0.0.1");
    http.ProxyParams().SetProxyPort(proxy.Port());
    http.ProxyParams().SetProxyUsername("Domain\\User");
    http.ProxyParams().SetProxyPassword("Password");
    try {
      (void)Fetch(http, "http://origin.test/x");
    } catch (const std::exception&) {  // refused by the proxy, or the script's end
    }
    http.CloseConnection();
    ASSERT_TRUE(proxy.WaitDone());
    const std::string received = proxy.Received(0);
    // NTLM's first message, in either header (Negotiate may fall back to NTLM).
    EXPECT_EQ(received.find(" TlRMTVNTUAAB") != std::string::npos, kSystemNtlm && !kerberosOnly)
        << received;
  }
}

}  // namespace
}  // namespace brixa
