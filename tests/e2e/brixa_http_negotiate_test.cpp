// brixa-http's --negotiate and --proxy-negotiate against a real Kerberos realm: Apache with
// mod_auth_gssapi as the server, squid with negotiate_kerberos_auth as the proxy (a plain request
// and a CONNECT tunnel), with the user's ticket and without one.
#include <gtest/gtest.h>

#include <cstdlib>

#include "e2e/brixa_http_program.h"
#include "support/peers/kerberos_realm.h"
#include "support/scripted_server.h"

namespace brixa {
namespace {

using test::BrixaHttp;

// The challenge of the NTLMv2 example in MS-NLMP (4.2.4.3), with target information.
constexpr const char* kType2WithTargetInfo =
    "TlRMTVNTUAACAAAADAAMADgAAAAzgoriASNFZ4mrze8AAAAAAAAAACQAJABEAAAABgBwFwAAAA9TAGUAcgB2AGUAcgAC"
    "AAwARABvAG0AYQBpAG4AAQAMAFMAZQByAHYAZQByAAAAAAA=";

class BrixaHttpNegotiate : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { realm_ = test::KerberosRealm::Start(whyNot_); }
  static void TearDownTestSuite() { realm_.reset(); }
  void SetUp() override {
    if (!realm_) GTEST_SKIP() << whyNot_;
  }

  static inline std::unique_ptr<test::KerberosRealm> realm_;
  static inline std::string whyNot_;
};

struct Case {
  const char* what;
  bool ticket;
  std::vector<std::string> args;
  int exitCode;
  std::string out;
  std::string errorText;  // a part of standard error, for the failures
};

TEST_F(BrixaHttpNegotiate, ServerProxyAndTunnelWithAndWithoutATicket) {
  const std::string secret = realm_->ApacheUrl() + "/negotiate/secret.txt";
  const std::string open = realm_->ApacheUrl() + "/open.txt";
  const std::string tunnelled = realm_->ApacheTlsUrl() + "/negotiate/secret.txt";
  const std::string proxy = realm_->SquidAddress();
  const std::string ca = realm_->CaFile();
  const Case cases[] = {
      {"server", true, {"--negotiate", secret}, 0, "negotiate secret\n", ""},
      // -u : is curl's way of naming the logon; two URLs are two exchanges on one connection.
      {"server twice",
       true,
       {"--negotiate", "-u", ":", secret, secret},
       0,
       "negotiate secret\nnegotiate secret\n",
       ""},
      {"no --negotiate", true, {secret}, 22, "", "401"},
      {"no ticket", false, {"--negotiate", secret}, 22, "", "401"},
      {"proxy",
       true,
       {"--proxy-negotiate", "-x", proxy, open, open},
       0,
       "open page\nopen page\n",
       ""},
      {"proxy and server",
       true,
       {"--proxy-negotiate", "--negotiate", "-x", proxy, secret},
       0,
       "negotiate secret\n",
       ""},
      {"tunnel",
       true,
       {"--proxy-negotiate", "--negotiate", "--cacert", ca, "-x", proxy, tunnelled},
       0,
       "negotiate secret\n",
       ""},
      {"proxy without --proxy-negotiate", true, {"--negotiate", "-x", proxy, open}, 22, "", "407"},
      {"proxy without a ticket", false, {"--proxy-negotiate", "-x", proxy, open}, 22, "", "407"},
      // A proxy that refuses the tunnel is a failed connection, as with curl.
      {"tunnel without a ticket",
       false,
       {"--proxy-negotiate", "--negotiate", "--cacert", ca, "-x", proxy, tunnelled},
       56,
       "",
       "407"},
  };
  for (const Case& c : cases) {
    if (c.ticket) {
      realm_->UseTicket();
    } else {
      realm_->UseNoTicket();
    }
    const auto run = BrixaHttp(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.what << ": " << run.stdErr;
    EXPECT_EQ(run.stdOut, c.out) << c.what;
    EXPECT_NE(run.stdErr.find(c.errorText), std::string::npos) << c.what << ": " << run.stdErr;
  }
  realm_->UseTicket();
}

// The logon for an NTLM server: on Windows the system's NTLM makes the first message and then,
// for the logged-on user, either answers or says why it cannot (under Wine it cannot: no
// winbindd); elsewhere there is no system NTLM and, without -u, nothing is sent.
TEST(BrixaHttpLogon, NtlmServerWithoutCredentialsEndsWithTheSystemsReason) {
  test::ScriptedServer server({
      test::Expect::LineBlock(),
      test::Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: NTLM\r\n"
                 "Content-Length: 0\r\n\r\n"),
      test::Expect::Until("Authorization: NTLM "),
      test::Expect::LineBlock(),
      test::Send(std::string("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: NTLM ") +
                 kType2WithTargetInfo + "\r\nContent-Length: 0\r\n\r\n"),
  });
#ifndef _WIN32
  setenv("KRB5CCNAME", "FILE:/nonexistent/brixa-no-ticket", 1);  // nor a Kerberos ticket
#endif
  const auto run =
      BrixaHttp({"--negotiate", "http://127.0.0.1:" + std::to_string(server.Port()) + "/x"});
  EXPECT_EQ(run.exitCode, 22) << run.stdErr;
  EXPECT_NE(run.stdErr.find("401"), std::string::npos) << run.stdErr;
  EXPECT_NE(run.stdErr.find("brixa-http: the logon did not answer: "), std::string::npos)
      << run.stdErr;
#ifdef _WIN32
  // Wine's NTLM for the logon fails at its second call (0x80090308) without winbindd.
  EXPECT_NE(run.stdErr.find("InitializeSecurityContext failed with 0x"), std::string::npos)
      << run.stdErr;
  EXPECT_NE(server.Received(0).find("Authorization: NTLM TlRMTVNTUAABAAAA"), std::string::npos);
#else
  EXPECT_NE(run.stdErr.find("NTLM: NTLM through the system is available on Windows only"),
            std::string::npos)
      << run.stdErr;
#endif
}

}  // namespace
}  // namespace brixa
