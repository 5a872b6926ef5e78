// https through the platform's default TLS handler (OpenSSL on Linux, Schannel on Windows)
// against real TLS servers on loopback: nginx (TLS 1.2 and 1.3, certificates that must fail
// verification), openssl s_server (TLS 1.2 only, client certificates), a python server that
// resets or truncates, and squid's CONNECT tunnel. Under Wine the servers are the ones
// scripts/peers.sh started on the Linux side; the same cases hold for both handlers.
#include "support/peers/tls_peers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

#include "app/version_check.h"
#include "http/auth/auth_digest.h"
#include "http/client/http.h"
#include "http/client/http_protocol_exception.h"
#include "support/peers/peer_process.h"
#include "support/scripted_server.h"
#include "transport/socket/stack_exceptions.h"
#include "transport/tls/ssl_backend.h"
#include "transport/tls/ssl_library.h"
#include "transport/tls/ssl_openssl.h"
#include "unit/platform/self_launch.h"
#include "update/net/update_tls.h"

namespace brixa {
namespace {

using test::PeerKind;
using test::PeerProcess;
using test::TlsPeer;

constexpr std::int32_t kReadTimeoutMs = 10000;
constexpr std::size_t kSmallBytes = 1024;
constexpr std::size_t kBigBytes = 50u * 1024 * 1024;
constexpr std::size_t kMediumBytes = 20u * 1024 * 1024;
const bool kOpenSSL = DefaultTlsBackend() == TIdTlsBackend::tbOpenSSL;
// nginx listens once per certificate, in this order (".1.2": only TLS 1.2 offered; "ca": the
// test CA's own, self-signed certificate).
enum Listener { kGood, kGood12, kWrongHost, kUnknownCA, kExpired, kWildcard, kSelfSigned };
const std::vector<std::string> kListeners = {"server",  "server@1.2", "wronghost", "unknownca",
                                             "expired", "wildcard",   "ca"};

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteRandomFile(const std::string& path, std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() & 0xFF);
  std::ofstream(path, std::ios::binary) << bytes;
}

// The certificate check's verdict a TLS failure carries, from either handler; 0 when none.
long VerifyResultOf(const EIdSSLProtocolReplyError& e) {
  if (const auto* openssl = dynamic_cast<const EIdOpenSSLError*>(&e))
    return openssl->VerifyResult();
  if (const auto* system = dynamic_cast<const EIdSchannelError*>(&e)) return system->VerifyResult();
  return 0;
}

// A client with its own TLS handler of the platform's default kind, verifying (as a handler
// does when made) against the test CA, or told explicitly to take any certificate.
struct TlsClient {
  explicit TlsClient(const std::string& pki, bool verify = true) {
    http.SetIOHandler(&tls);
    http.SetReadTimeout(kReadTimeoutMs);
    if (verify) {
      tls.SSLOptions().SetRootCertFile(pki + "/ca.crt");
    } else {
      tls.SSLOptions().SetVerifyMode({});
    }
  }
  std::string Get(const std::string& url) {
    TMemoryStream body;
    http.Get(url, &body);
    return body.DataString();
  }
  std::string Version() const {
    const auto session = tls.Session();
    return session ? session->Version : std::string();
  }
  std::unique_ptr<TIdSSLIOHandlerSocketBase> handler = NewTlsIOHandler(DefaultTlsBackend());
  TIdSSLIOHandlerSocketBase& tls = *handler;
  TIdHTTP http;
};

// One nginx, its documents and the certificates for the whole binary.
class TlsPeers : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (kOpenSSL && !LoadTlsLibrary()) {
      whyNot_ = "OpenSSL cannot be loaded (package libssl3)";
      return;
    }
    const std::string* pki = test::TestPkiDir(whyNot_);
    if (pki == nullptr) return;
    pki_ = *pki;
    docs_ = pki_ + "/docs";
    std::filesystem::create_directories(docs_);
    WriteRandomFile(docs_ + "/small.bin", kSmallBytes);
    WriteRandomFile(docs_ + "/big.bin", kBigBytes);
    WriteRandomFile(docs_ + "/medium.bin", kMediumBytes);
    std::filesystem::create_directories(docs_ + "/brixakit");
    std::ofstream(docs_ + "/brixakit/version.ini") << "[Updater]\nVersion=2031.01.1\n";
    nginx_ = TlsPeer::Nginx(kListeners, docs_, whyNot_).release();
  }
  static void TearDownTestSuite() {
    delete nginx_;
    nginx_ = nullptr;
  }
  void SetUp() override {
    if (nginx_ == nullptr) GTEST_SKIP() << whyNot_;
  }
  static std::string Url(Listener which, const std::string& path,
                         const std::string& host = "localhost") {
    return "https://" + host + ":" + std::to_string(nginx_->Port(which)) + path;
  }
  static std::string LogOf() { return ReadBytes(nginx_->Dir() + "/access.log"); }

  static inline std::string pki_;
  static inline std::string docs_;
  static inline std::string whyNot_;
  static inline TlsPeer* nginx_ = nullptr;
};

// The newest version both sides speak: TLS 1.3 with OpenSSL; the system's TLS may stop at 1.2
// (Wine's does).
TEST_F(TlsPeers, BodiesArriveExactlyOverTls13AndTls12) {
  const std::string small = ReadBytes(docs_ + "/small.bin");
  const std::string big = ReadBytes(docs_ + "/big.bin");
  for (const auto& [listener, version] :
       {std::pair{kGood, kOpenSSL ? "TLSv1.3" : ""}, std::pair{kGood12, "TLSv1.2"}}) {
    SCOPED_TRACE(kListeners[listener]);
    TlsClient client(pki_);
    EXPECT_EQ(client.Get(Url(listener, "/small.bin")), small);
    ASSERT_TRUE(client.tls.Session().has_value());
    if (*version != '\0') {
      EXPECT_EQ(client.Version(), version);
    }
    EXPECT_EQ(client.Version().rfind("TLSv1.", 0), 0u) << client.Version();
    EXPECT_EQ(client.http.Request().ConnectionKind(), ckTLS);
    const std::string got = client.Get(Url(listener, "/big.bin"));
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big) << "50 MiB body differs";
  }
}

TEST_F(TlsPeers, KeepAliveReusesTheTlsConnection) {
  TlsClient client(pki_);
  client.http.Head(Url(kGood, "/small.bin?keep"));
  EXPECT_EQ(client.http.LastResponse().ContentLength(), static_cast<std::int64_t>(kSmallBytes));
  EXPECT_EQ(client.Get(Url(kGood, "/small.bin?keep")).size(), kSmallBytes);
  EXPECT_EQ(client.Get(Url(kGood, "/small.bin?keep")).size(), kSmallBytes);
  std::vector<std::string> ids;
  for (int i = 0; i < 100 && ids.size() < 3; ++i) {
    ids.clear();
    std::istringstream log(LogOf());
    for (std::string line; std::getline(log, line);) {
      if (line.find("/small.bin?keep ") != std::string::npos) {
        ids.push_back(line.substr(0, line.find(' ')));
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(ids.size(), 3u);
  EXPECT_EQ(ids[0], ids[1]);
  EXPECT_EQ(ids[1], ids[2]);
}

// Each bad certificate fails only with verification on, naming the reason; without it the
// body arrives. The good one passes both by name and by address.
TEST_F(TlsPeers, CertificateChecksFailOnlyWithVerificationOn) {
  struct Case {
    Listener listener;
    std::string host;
    std::string reason;  // empty: verification passes
  };
  const Case cases[] = {
      {kGood, "localhost", ""},
      {kGood, "127.0.0.1", ""},
      {kWrongHost, "localhost", "hostname mismatch"},
      {kWrongHost, "127.0.0.1", "IP address mismatch"},
      {kWildcard, "localhost", "hostname mismatch"},  // *.localhost does not cover localhost
      {kUnknownCA, "localhost", "unable to get local issuer certificate"},
      {kExpired, "localhost", "certificate has expired"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kListeners[c.listener] + " as " + c.host);
    {
      TlsClient verifying(pki_);
      if (c.reason.empty()) {
        EXPECT_EQ(verifying.Get(Url(c.listener, "/small.bin", c.host)).size(), kSmallBytes);
      } else {
        try {
          (void)verifying.Get(Url(c.listener, "/small.bin", c.host));
          ADD_FAILURE() << "accepted";
        } catch (const EIdSSLProtocolReplyError& e) {
          EXPECT_NE(VerifyResultOf(e), 0);
          EXPECT_NE(e.Message().find(c.reason), std::string::npos) << e.Message();
          EXPECT_EQ(e.Message().rfind("Error connecting with SSL.\n", 0), 0u) << e.Message();
        }
        EXPECT_FALSE(verifying.http.IsConnected());
      }
    }
    TlsClient trusting(pki_, false);
    EXPECT_EQ(trusting.Get(Url(c.listener, "/small.bin", c.host)).size(), kSmallBytes);
  }
}

// A handler as made checks the chain against the system's trust store and the name against the
// host: the test CA is in no system store, so its server is refused, and so is a self-signed
// one; with the test CA named (and nothing else set) a certificate for another host still is.
TEST_F(TlsPeers, AHandlerAsMadeRefusesUntrustedChainsAndOtherHosts) {
  struct Case {
    Listener listener;
    bool namedCA;
    const char* reason;  // OpenSSL's words; empty: accepted
  };
  const Case cases[] = {
      {kGood, false, "unable to get local issuer certificate"},
      {kSelfSigned, false, "self"},  // "self signed" before OpenSSL 3, "self-signed" since
      {kWrongHost, true, "hostname mismatch"},
      // Trusted as the CA it is, it still does not name the host, nor is it made for a server.
      {kSelfSigned, true, "certificate verify failed"},
      {kGood, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kListeners[c.listener] + (c.namedCA ? " with the test CA" : ""));
    const auto handler = NewTlsIOHandler(DefaultTlsBackend());
    if (c.namedCA) handler->SSLOptions().SetRootCertFile(pki_ + "/ca.crt");
    TIdHTTP http;
    http.SetIOHandler(handler.get());
    http.SetReadTimeout(kReadTimeoutMs);
    TMemoryStream body;
    if (*c.reason == '\0') {
      http.Get(Url(c.listener, "/small.bin"), &body);
      EXPECT_EQ(body.Size(), static_cast<std::int64_t>(kSmallBytes));
      continue;
    }
    try {
      http.Get(Url(c.listener, "/small.bin"), &body);
      ADD_FAILURE() << "accepted";
    } catch (const EIdSSLProtocolReplyError& e) {
      // Wine's Schannel (GnuTLS underneath) refuses a CA's certificate as a server's inside the
      // handshake, before the handler's own check can give its verdict.
      if (kOpenSSL || c.listener != kSelfSigned) {
        EXPECT_NE(VerifyResultOf(e), 0) << e.Message();
      }
      if (kOpenSSL) {
        EXPECT_NE(e.Message().find(c.reason), std::string::npos) << e.Message();
      }
    }
    EXPECT_EQ(body.Size(), 0);
    EXPECT_FALSE(http.IsConnected());
  }
}

// Without system trust only the CAs the options name count: OpenSSL's default paths (pointed at
// the test CA through SSL_CERT_FILE) are then not loaded at all.
TEST_F(TlsPeers, WithoutSystemTrustOnlyTheNamedCAsCount) {
  if (!kOpenSSL) GTEST_SKIP() << "OpenSSL's default-path variable";
  struct Case {
    bool systemTrust;
    bool named;
    bool accepted;
  };
  const Case cases[] = {{true, false, true}, {false, false, false}, {false, true, true}};
  test::SetEnvironmentVariable("SSL_CERT_FILE", pki_ + "/ca.crt");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.systemTrust ? "system trust" : "no system trust") +
                 (c.named ? ", CA file named" : ""));
    TlsClient client(pki_);
    if (!c.named) client.tls.SSLOptions().SetRootCertFile("");
    client.tls.SSLOptions().SetSystemTrust(c.systemTrust);
    try {
      EXPECT_EQ(client.Get(Url(kGood, "/small.bin")).size(), kSmallBytes);
      EXPECT_TRUE(c.accepted);
    } catch (const EIdSSLProtocolReplyError& e) {
      EXPECT_FALSE(c.accepted) << e.Message();
      EXPECT_NE(e.Message().find("unable to get local issuer certificate"), std::string::npos)
          << e.Message();
    }
  }
  test::SetEnvironmentVariable("SSL_CERT_FILE", "");
}

// OnVerifyPeer sees the chain down to the peer's own certificate (depth 0) with the handler's
// verdict, and its answer decides, both ways.
TEST_F(TlsPeers, OnVerifyPeerSeesTheChainAndItsAnswerDecides) {
  struct Case {
    Listener listener;
    bool answer;
    bool accepted;
    bool verdictOk;  // the handler's verdict at depth 0
  };
  const Case cases[] = {
      {kGood, true, true, true},
      {kGood, false, false, true},
      {kUnknownCA, true, true, false},
      {kUnknownCA, false, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(kListeners[c.listener] + (c.answer ? " answered yes" : " answered no"));
    TlsClient client(pki_);
    std::vector<int> depths;
    std::string subject;
    bool verdictOk = true;
    client.tls.OnVerifyPeer = [&](TIdX509& certificate, bool ok, int depth) {
      depths.push_back(depth);
      if (depth == 0) {
        subject = certificate.Subject();
        verdictOk = verdictOk && ok;
      }
      return c.answer;
    };
    bool accepted = false;
    try {
      accepted = client.Get(Url(c.listener, "/small.bin")).size() == kSmallBytes;
    } catch (const EIdSSLProtocolReplyError&) {
      accepted = false;
    }
    EXPECT_EQ(accepted, c.accepted);
    ASSERT_FALSE(depths.empty());
    if (c.answer) {  // a "no" may end the walk before the peer's own certificate
      EXPECT_EQ(depths.back(), 0);
      EXPECT_EQ(subject, "/CN=localhost");
      EXPECT_EQ(verdictOk, c.verdictOk);
    }
  }
}

TEST_F(TlsPeers, StatusInfoReportsStatesAndTheCipher) {
  std::vector<std::string> reports;  // outlives the client, whose close still reports
  TlsClient client(pki_);
  client.tls.OnStatusInfo = [&](const std::string& text) { reports.push_back(text); };
  (void)client.Get(Url(kGood12, "/small.bin"));
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.front().rfind("SSL status: \"", 0), 0u) << reports.front();
  const std::string& cipher = reports.back();
  EXPECT_EQ(cipher.rfind("Cipher: name = ", 0), 0u) << cipher;
  EXPECT_NE(cipher.find("; description = "), std::string::npos);
  EXPECT_NE(cipher.find("; bits = 128; ") == std::string::npos &&
                cipher.find("; bits = 256; ") == std::string::npos,
            true)
      << cipher;
  EXPECT_NE(cipher.find("; version = TLSv1.2; "), std::string::npos) << cipher;
}

TEST_F(TlsPeers, CertificateAndKeyFileErrorsCarryOpenSSLsText) {
  if (!kOpenSSL) GTEST_SKIP() << "OpenSSL's own files and texts";
  const std::string missing = pki_ + "/no-such.pem";
  struct Case {
    std::string root, cert, key, message;
  };
  const Case cases[] = {
      {missing, "", "", "Could not load root certificate."},
      {"", missing, "", "Could not load certificate."},
      {"", pki_ + "/ca.key", "", "Could not load certificate."},  // a key is no certificate
      {"", pki_ + "/client.crt", pki_ + "/server.key", "Could not load key, check password."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    TlsClient client(pki_, false);
    client.tls.SSLOptions().SetRootCertFile(c.root);
    client.tls.SSLOptions().SetCertFile(c.cert);
    client.tls.SSLOptions().SetKeyFile(c.key);
    try {
      (void)client.Get(Url(kGood, "/small.bin"));
      ADD_FAILURE() << "no error";
    } catch (const EIdOpenSSLAPICryptoError& e) {
      const std::string& text = e.Message();
      ASSERT_EQ(text.rfind(c.message + "\n", 0), 0u) << text;
      EXPECT_NE(text.find("error:"), std::string::npos) << text;  // OpenSSL's queued error
    }
  }
}

TEST_F(TlsPeers, RedirectsBetweenHttpsAndPlainHttpSwitchTheHandler) {
  std::string whyNot;
  auto plain = PeerProcess::Start(PeerKind::Nginx, whyNot);
  if (!plain) GTEST_SKIP() << whyNot;
  const std::string plainDoc = ReadBytes(plain->DocPath("index.html"));
  TlsClient client(pki_);
  client.http.SetHandleRedirects(true);
  const std::string toPlain = plain->BaseUrl() + "/index.html";
  EXPECT_EQ(client.Get(Url(kGood, "/redirect-http?to=" + toPlain)), plainDoc);
  EXPECT_FALSE(client.tls.TLSActive());
  EXPECT_EQ(client.http.Request().ConnectionKind(), ckDirect);
  // And back: the same handler runs TLS again, to the origin it now names.
  EXPECT_EQ(client.Get(Url(kGood, "/small.bin")).size(), kSmallBytes);
  EXPECT_TRUE(client.tls.TLSActive());
  EXPECT_EQ(client.http.Request().ConnectionKind(), ckTLS);
}

TEST_F(TlsPeers, SecureCookiesTravelOnlyOverTls) {
  std::string whyNot;
  auto plain = PeerProcess::Start(PeerKind::Nginx, whyNot);
  if (!plain) GTEST_SKIP() << whyNot;
  TlsClient client(pki_);
  (void)client.Get(Url(kGood, "/cookie", "127.0.0.1"));
  (void)client.Get(Url(kGood, "/small.bin?cookies", "127.0.0.1"));
  EXPECT_EQ(client.http.Request().HeaderLines().HeaderValue("Cookie").find("hidden=2") !=
                std::string::npos,
            true);
  TMemoryStream body;
  client.http.Get(plain->BaseUrl() + "/index.html", &body);  // same host, clear text
  const std::string sent = client.http.Request().HeaderLines().HeaderValue("Cookie");
  EXPECT_NE(sent.find("plain=1"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("hidden"), std::string::npos) << sent;
}

// ---- openssl s_server and the misbehaving server -------------------------------------------

TEST_F(TlsPeers, SServerWithTls12OnlyAndWithAClientCertificateRequest) {
  std::string whyNot;
  auto only12 = TlsPeer::SServer({"-tls1_2"}, whyNot);
  if (!only12) GTEST_SKIP() << whyNot;
  {
    TlsClient client(pki_);
    std::string negotiated;
    client.tls.OnStatusInfo = [&](const std::string& text) {
      if (text.rfind("Cipher: ", 0) == 0) negotiated = client.Version();
    };
    const std::string page =
        client.Get("https://localhost:" + std::to_string(only12->Port()) + "/");
    EXPECT_EQ(client.http.StatusCode(), 200);
    EXPECT_NE(page.find("TLSv1.2"), std::string::npos);
    EXPECT_EQ(negotiated, "TLSv1.2");
  }
  auto asking = TlsPeer::SServer({"-Verify", "1", "-CAfile", pki_ + "/ca.crt"}, whyNot);
  if (!asking) GTEST_SKIP() << whyNot;
  const std::string url = "https://localhost:" + std::to_string(asking->Port()) + "/";
  {
    TlsClient anonymous(pki_);
    EXPECT_THROW((void)anonymous.Get(url), EIdException);
  }
  TlsClient identified(pki_);
  identified.tls.SSLOptions().SetCertFile(pki_ + "/client.crt");
  identified.tls.SSLOptions().SetKeyFile(pki_ + "/client.key");
  const std::string page = identified.Get(url);
  EXPECT_EQ(identified.http.StatusCode(), 200);
  EXPECT_NE(page.find("Brixa Client"), std::string::npos);  // s_server shows the peer's name
}

// A reset during the handshake is the socket's reset (10054), also on a thread whose last
// socket failure was another one (a refused connect leaves 10061 behind). Under Wine the
// socket reads a reset as the end of the stream (recv answers 0), which the Schannel handler
// can only report as a TLS stream cut short; nothing else passes.
TEST_F(TlsPeers, AResetMidHandshakeIsTheSocketsResetAndLeavesNoConnection) {
  std::string whyNot;
  auto odd = TlsPeer::OddServer("reset", whyNot);
  if (!odd) GTEST_SKIP() << whyNot;
  for (const bool earlierFailure : {false, true}) {
    SCOPED_TRACE(earlierFailure ? "after a refused connect" : "first failure");
    if (earlierFailure) {
      TlsClient refused(pki_);
      try {
        (void)refused.Get("https://127.0.0.1:1/");  // nothing listens on port 1 of loopback
        ADD_FAILURE() << "port 1 answered";
      } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), Id_WSAECONNREFUSED);
      }
    }
    TlsClient client(pki_);
    try {
      (void)client.Get("https://localhost:" + std::to_string(odd->Port()) + "/");
      ADD_FAILURE() << "no error";
    } catch (const EIdSocketError& e) {
      EXPECT_EQ(e.LastError(), Id_WSAECONNRESET) << e.Message();
    } catch (const EIdSSLProtocolReplyError& e) {
      EXPECT_FALSE(kOpenSSL) << e.Message();
      EXPECT_NE(e.Message().find(RSSSLEOFViolation), std::string::npos) << e.Message();
    }
    EXPECT_FALSE(client.http.IsConnected());
  }
}

TEST_F(TlsPeers, ACloseWithoutCloseNotifyMidBodyIsAnError) {
  std::string whyNot;
  auto odd = TlsPeer::OddServer("truncate", whyNot);
  if (!odd) GTEST_SKIP() << whyNot;
  TlsClient client(pki_);
  TMemoryStream body;
  try {
    client.http.Get("https://localhost:" + std::to_string(odd->Port()) + "/", &body);
    ADD_FAILURE() << "a short body was taken for a whole one";
  } catch (const EIdSSLProtocolReplyError& e) {
    // OpenSSL's words, or the family's own where the backend has none.
    EXPECT_TRUE(e.Message().find("unexpected eof") != std::string::npos ||
                e.Message().find(RSSSLEOFViolation) != std::string::npos)
        << e.Message();
  }
  EXPECT_LT(body.Size(), 1000);
  EXPECT_FALSE(client.http.IsConnected());
}

TEST_F(TlsPeers, APeerStallingInsideAHandshakeOrARecordEndsInAReadTimeout) {
  for (const char* mode : {"stall-handshake", "stall-record"}) {
    SCOPED_TRACE(mode);
    std::string whyNot;
    auto odd = TlsPeer::OddServer(mode, whyNot);
    if (!odd) GTEST_SKIP() << whyNot;
    TlsClient client(pki_);
    client.http.SetReadTimeout(300);
    TMemoryStream body;
    EXPECT_THROW(client.http.Get("https://localhost:" + std::to_string(odd->Port()) + "/", &body),
                 EIdReadTimeout);
    EXPECT_FALSE(client.http.IsConnected());
  }
}

// ---- squid's CONNECT tunnel -----------------------------------------------------------------

// A proxy whose answer to CONNECT is no HTTP/1.x status line gets no handshake over it.
TEST_F(TlsPeers, AConnectAnswerThatIsNoStatusLineStartsNoTls) {
  for (const char* answer :
       {"FOO 200 BAR\r\n\r\n", "ICY 200 OK\r\n\r\n", "HTTP/9.9 200 OK\r\n\r\n"}) {
    SCOPED_TRACE(answer);
    test::ScriptedServer proxy({test::Expect::LineBlock(), test::Send(answer), test::Pause(300)});
    TlsClient client(pki_);
    client.http.ProxyParams().SetProxyServer("127.0.0.1");
    client.http.ProxyParams().SetProxyPort(proxy.Port());
    EXPECT_THROW((void)client.Get(Url(kGood, "/small.bin")), EIdHTTPInvalidStatusLine);
    EXPECT_FALSE(client.http.IsConnected());
    EXPECT_FALSE(client.tls.TLSActive() && client.tls.Session().has_value());
  }
}

TEST_F(TlsPeers, HttpsThroughSquidsConnectTunnelWithAndWithoutProxyCredentials) {
  std::string whyNot;
  auto open = PeerProcess::Start(PeerKind::Squid, whyNot);
  if (!open) GTEST_SKIP() << whyNot;
  const std::string small = ReadBytes(docs_ + "/small.bin");
  {
    TlsClient client(pki_);
    client.http.ProxyParams().SetProxyServer("127.0.0.1");
    client.http.ProxyParams().SetProxyPort(open->Port());
    EXPECT_EQ(client.Get(Url(kGood, "/small.bin?tunnel")), small);
    EXPECT_EQ(client.http.Request().ConnectionKind(), ckTLSProxy);
    // The kept tunnel serves the next request to the same origin.
    EXPECT_EQ(client.Get(Url(kGood, "/small.bin?tunnel")), small);
    // Another origin through the same proxy needs a tunnel of its own: its certificate is
    // the one checked.
    EXPECT_THROW((void)client.Get(Url(kWrongHost, "/small.bin")), EIdSSLProtocolReplyError);
  }
  auto authed = PeerProcess::Start(PeerKind::SquidAuth, whyNot);
  if (!authed) GTEST_SKIP() << whyNot;
  TlsClient client(pki_);
  client.http.ProxyParams().SetProxyServer("127.0.0.1");
  client.http.ProxyParams().SetProxyPort(authed->Port());
  try {
    (void)client.Get(Url(kGood, "/small.bin"));
    ADD_FAILURE() << "no proxy credentials, yet no 407";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ReplyCode(), 407);
  }
  client.http.SetHTTPOptions({hoInProcessAuth});
  client.http.OnProxyAuthorization = [](TComponent*, TIdAuthentication* auth, bool& handled) {
    auth->StoreUsername("alice");
    auth->StorePassword("secret");
    handled = true;
  };
  EXPECT_EQ(client.Get(Url(kGood, "/small.bin?authed-tunnel")), small);
  // The proxy's credentials went with the CONNECT only, never through the tunnel to the origin.
  std::string logged;
  for (int i = 0; i < 100 && logged.empty(); ++i) {
    std::istringstream log(LogOf());
    for (std::string line; std::getline(log, line);) {
      if (line.find("/small.bin?authed-tunnel ") != std::string::npos) logged = line;
    }
    if (logged.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_NE(logged.find(" pa=-"), std::string::npos) << logged;
}

// A proxy that asks for Digest on CONNECT: the answer signs "CONNECT" and the tunnel's
// "host:port", which squid checks against its own request line. Through the library and through
// brixa-http, with the right password and a wrong one.
TEST_F(TlsPeers, HttpsThroughSquidsConnectTunnelWithDigestProxyCredentials) {
  std::string whyNot;
  auto digest = PeerProcess::Start(PeerKind::SquidDigest, whyNot);
  if (!digest) GTEST_SKIP() << whyNot;
  const std::string small = ReadBytes(docs_ + "/small.bin");
  for (const char* password : {"secret", "wrong"}) {
    SCOPED_TRACE(password);
    TlsClient client(pki_);
    client.http.ProxyParams().SetProxyServer("127.0.0.1");
    client.http.ProxyParams().SetProxyPort(digest->Port());
    client.http.SetHTTPOptions({hoInProcessAuth});
    std::string scheme;
    client.http.OnProxyAuthorization = [&](TComponent*, TIdAuthentication* auth, bool& handled) {
      scheme = dynamic_cast<TIdDigestAuthentication*>(auth) != nullptr ? "Digest" : "other";
      auth->StoreUsername("alice");
      auth->StorePassword(password);
      handled = true;
    };
    if (std::string(password) == "secret") {
      EXPECT_EQ(client.Get(Url(kGood, "/small.bin?digest-tunnel")), small);
      // The kept tunnel carries the next request without asking the proxy again.
      EXPECT_EQ(client.Get(Url(kGood, "/small.bin?digest-tunnel")), small);
    } else {
      try {
        (void)client.Get(Url(kGood, "/small.bin"));
        ADD_FAILURE() << "a wrong proxy password passed";
      } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.ReplyCode(), 407);
      }
    }
    EXPECT_EQ(scheme, "Digest");
  }
  const std::string tool =
      test::BuildTreePath("tools/brixa_http/brixa-http" + test::ExecutableSuffix());
  const std::string proxy = "127.0.0.1:" + std::to_string(digest->Port());
  for (const auto& [user, exitCode] :
       {std::pair{"alice:secret", 0}, std::pair{"alice:wrong", 56}}) {  // 56: tunnel refused
    const test::ProgramResult run =
        test::RunProgram(tool,
                         {"--cacert", pki_ + "/ca.crt", "-x", proxy, "-U", user, "-o",
                          pki_ + "/digest.bin", Url(kGood, "/small.bin?digest-cli")},
                         60000);
    EXPECT_EQ(run.exitCode, exitCode) << user << ": " << run.stdErr;
    if (exitCode == 0) {
      EXPECT_EQ(ReadBytes(pki_ + "/digest.bin"), small);
    }
  }
}

// ---- brixa-http over https -----------------------------------------------------------------

// One table for both handlers: brixa-http runs with the platform's default backend (OpenSSL
// on Linux, Schannel under Wine) and must give the same exit codes, curl's, and exact bodies.
TEST_F(TlsPeers, BrixaHttpVerifiesByDefaultAndExitsWithCurlsTlsCodes) {
  std::string whyNot;
  auto plain = PeerProcess::Start(PeerKind::Nginx, whyNot);
  if (!plain) GTEST_SKIP() << whyNot;
  const std::string tool =
      test::BuildTreePath("tools/brixa_http/brixa-http" + test::ExecutableSuffix());
  const std::string ca = pki_ + "/ca.crt";
  const std::string notTls = "https://127.0.0.1:" + std::to_string(plain->Port()) + "/";
  auto truncating = TlsPeer::OddServer("truncate", whyNot);
  auto resetting = TlsPeer::OddServer("reset", whyNot);
  struct Case {
    std::vector<std::string> args;
    std::vector<int> exitCodes;  // any of them
    std::string stdErr;          // a part of standard error
    std::string document;        // the documents the output must equal after success
  };
  std::vector<Case> cases = {
      {{Url(kGood, "/small.bin")}, {60}, "unable to get local issuer certificate", ""},
      {{"--cacert", ca, Url(kGood, "/small.bin")}, {0}, "", "small.bin"},
      {{"--cacert", ca, Url(kGood12, "/medium.bin")}, {0}, "", "medium.bin"},
      {{"--cacert", ca, Url(kGood, "/small.bin", "127.0.0.1")}, {0}, "", "small.bin"},
      {{"--capath", pki_ + "/capath", Url(kGood, "/small.bin")}, {0}, "", "small.bin"},
      {{"--cacert", ca, Url(kWrongHost, "/small.bin")}, {60}, "hostname mismatch", ""},
      {{"--cacert", ca, Url(kUnknownCA, "/small.bin")}, {60}, "unable to get local issuer", ""},
      {{"-k", Url(kWrongHost, "/small.bin")}, {0}, "", "small.bin"},
      {{"-k", Url(kUnknownCA, "/small.bin")}, {0}, "", "small.bin"},
      {{"--insecure", Url(kExpired, "/small.bin")}, {0}, "", "small.bin"},
      {{"--cacert", pki_ + "/no-such.pem", Url(kGood, "/small.bin")},
       {77},
       "Could not load root certificate.",
       ""},
      {{"-k", notTls}, {35}, "Error connecting with SSL.", ""},
      {{"-v", "--cacert", ca, Url(kGood12, "/small.bin")},
       {0},
       "* TLS connection using TLSv1.2",
       "small.bin"},
      {{"-v", "--cacert", ca, Url(kGood, "/small.bin")}, {0}, "*  subject: /CN=localhost", ""},
      {{"--tls-backend", "nonsense", Url(kGood, "/small.bin")}, {2}, "openssl or system", ""},
  };
  // Two requests over one connection: the second body follows the first in the output.
  cases.push_back({{"--cacert", ca, Url(kGood, "/small.bin?a"), Url(kGood, "/small.bin?b")},
                   {0},
                   "",
                   "small.bin small.bin"});
  if (truncating) {
    // A close without close_notify in the middle of a counted body is never a success.
    cases.push_back({{"-k", "https://localhost:" + std::to_string(truncating->Port()) + "/"},
                     {18, 56},
                     "",
                     ""});
  }
  if (resetting) {
    // A reset in the handshake fails the handshake (as with curl), named by the socket's error.
    cases.push_back({{"-k", "https://localhost:" + std::to_string(resetting->Port()) + "/"},
                     {35},
                     kOpenSSL ? "Socket Error # 10054" : "",
                     ""});
  }
  for (const Case& c : cases) {
    std::string line;
    for (const auto& a : c.args) line += a + " ";
    SCOPED_TRACE(line);
    const std::string out = pki_ + "/out.bin";
    std::filesystem::remove(out);
    std::vector<std::string> args = {"-o", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const test::ProgramResult run = test::RunProgram(tool, args, 60000);
    EXPECT_NE(std::find(c.exitCodes.begin(), c.exitCodes.end(), run.exitCode), c.exitCodes.end())
        << "exit " << run.exitCode << ": " << run.stdErr;
    EXPECT_NE(run.stdErr.find(c.stdErr), std::string::npos) << run.stdErr;
    if (!c.document.empty()) {
      std::string expected;
      std::istringstream names(c.document);
      for (std::string name; names >> name;) expected += ReadBytes(docs_ + "/" + name);
      const std::string got = ReadBytes(out);
      EXPECT_EQ(got.size(), expected.size());
      EXPECT_TRUE(got == expected) << "the body differs";
    }
  }
}

// ---- the updater's version check over https ------------------------------------------------

// The check trusts the compiled-in CA alone when there is one, else the system's CAs: the test
// CA is in neither, so without the pin the check must find nothing.
TEST_F(TlsPeers, TheUpdatersVersionCheckTrustsOnlyItsPinnedCA) {
  const std::string saved = UpdateCaPem();
  const TVersionCheckFiles files{pki_ + "/local-version.ini", pki_ + "/state/"};
  std::ofstream(files.LocalVersionFile) << "[Updater]\nVersion=2030.01.1\n";
  struct Case {
    std::string pem;
    bool updates;
  };
  const Case cases[] = {
      {ReadBytes(pki_ + "/ca.crt"), true},
      {ReadBytes(pki_ + "/otherca.crt"), false},
      {"", false},  // the system's trusted CAs
  };
  for (const Case& c : cases) {
    SetUpdateCaPem(c.pem);
    const TUpdateCheck check = CheckForUpdate(Url(kGood, "/brixakit/version.ini"), files);
    EXPECT_EQ(check.UpdateAvailable, c.updates) << check.Record.Reason;
  }
  SetUpdateCaPem(saved);
  // A bare host:port stays plain http; a server given with https keeps it.
  EXPECT_EQ(UpdateServerUrl("127.0.0.1:8471", "/v"), "http://127.0.0.1:8471/v");
  EXPECT_EQ(UpdateServerUrl("https://updates.example:8443", "/v"),
            "https://updates.example:8443/v");
}

}  // namespace
}  // namespace brixa
