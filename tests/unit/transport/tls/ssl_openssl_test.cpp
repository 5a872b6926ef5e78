// Loading OpenSSL, the handler without it, and contexts refusing what OpenSSL no longer offers.

#include "transport/tls/ssl_openssl.h"

#include <gtest/gtest.h>

#include <string>

#include "http/client/http.h"
#include "platform/library/dynamic_library.h"
#include "platform/library/openssl_library.h"
#include "support/scripted_server.h"
#include "transport/tls/ssl_library.h"

namespace brixa {
namespace {

using test::Expect;
using test::ScriptedServer;
using test::Send;

constexpr const char* kPlainAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nplain";

TEST(OpenSSLLoaderTest, TriesTheCurrentReleaseFirstAndTakesLibcryptoWithItsOwnLibssl) {
  const auto names = OpenSSLLibraryNames();
  ASSERT_GE(names.size(), 2u);
  EXPECT_NE(names.front().first.find("crypto"), std::string::npos);
  EXPECT_NE(names.front().second.find("ssl"), std::string::npos);
  EXPECT_NE(names.front().first.find('3'), std::string::npos);
  EXPECT_NE(names.back().first.find("1"), std::string::npos);  // the 1.1 names come last
  // Never a name a search could find in the current folder or on PATH: on Windows only the
  // program's own folder by full path, elsewhere the system's sonames.
  for (const auto& [crypto, ssl] : names) {
    for (const std::string& file : {crypto, ssl}) {
#ifdef _WIN32
      EXPECT_EQ(file.rfind(ProgramDirectory(), 0), 0u) << file;
#else
      EXPECT_TRUE(IsBareLibraryName(file)) << file;
#endif
    }
  }
}

// Other units ask the one loader for libcrypto by name (NTLM's DES, signature checks).
TEST(OpenSSLLoaderTest, HandsOutLibcryptoEntryPointsByName) {
  if (!LoadOpenSSL()) GTEST_SKIP() << "no OpenSSL here: " << OpenSSLLoadFailure();
  for (const char* name : {"DES_set_odd_parity", "DES_set_key", "DES_ecb_encrypt",
                           "EVP_DigestVerifyInit", "PEM_read_bio_PUBKEY"}) {
    EXPECT_NE(OpenSSLEntryPoint(TOpenSSLModule::omCrypto, name), nullptr) << name;
  }
  EXPECT_EQ(OpenSSLEntryPoint(TOpenSSLModule::omCrypto, "brixa_not_in_openssl"), nullptr);
  EXPECT_FALSE(OpenSSLFileName(TOpenSSLModule::omSSL).empty());
  EXPECT_TRUE(LoadTlsLibrary());
  EXPECT_TRUE(LoadTlsLibrary());  // once loaded, stays loaded
}

// Where OpenSSL is missing (Windows without its DLLs beside the program), clear text through a
// TLS handler still works and asking for TLS names the missing library.
TEST(OpenSSLHandlerTest, WithoutTheLibraryPlainBytesFlowAndTlsIsRefused) {
  ScriptedServer server(std::vector<test::Script>{{Expect::LineBlock(), Send(kPlainAnswer)},
                                                  {test::Expect::Close()}});
  TIdSSLIOHandlerSocketOpenSSL tls;
  TIdHTTP http;
  http.SetIOHandler(&tls);
  TMemoryStream body;
  http.Get("http://127.0.0.1:" + std::to_string(server.Port()) + "/", &body);
  EXPECT_EQ(body.DataString(), "plain");
  EXPECT_FALSE(tls.TLSActive());
  EXPECT_EQ(server.Received(0).rfind("GET / HTTP/1.1\r\n", 0), 0u);
  if (LoadTlsLibrary()) return;  // OpenSSL present: the refusal cannot be shown here
  try {
    http.Get("https://127.0.0.1:" + std::to_string(server.Port()) + "/", &body);
    ADD_FAILURE() << "TLS without a library";
  } catch (const EIdOSSLCouldNotLoadSSLLibrary& e) {
    EXPECT_EQ(e.Message(), "Could not load SSL library.");
  }
  EXPECT_FALSE(http.IsConnected());
  EXPECT_EQ(server.Received(1), "");  // not one byte of the request in clear text
}

TEST(OpenSSLHandlerTest, HttpsWithoutATlsHandlerIsRefusedBeforeAnythingIsSent) {
  ScriptedServer server({Expect::Close()});
  TIdHTTP http;
  TMemoryStream body;
  EXPECT_THROW(http.Get("https://127.0.0.1:" + std::to_string(server.Port()) + "/", &body),
               EIdIOHandlerPropInvalid);
  http.ProxyParams().SetProxyServer("127.0.0.1");
  http.ProxyParams().SetProxyPort(server.Port());
  EXPECT_THROW(http.Get("https://example.invalid/", &body), EIdIOHandlerPropInvalid);
  EXPECT_EQ(server.Accepted(), 0u);
}

TEST(OpenSSLContextTest, MethodsAndModesOpenSSLNoLongerOffersAreRefused) {
  if (!LoadTlsLibrary()) GTEST_SKIP() << "no OpenSSL here";
  struct Case {
    TIdSSLVersion method;
    TIdSSLMode role;
    const char* error;  // nullptr: a context is made
  };
  const Case cases[] = {
      {sslvTLSv1, sslmClient, nullptr},
      {sslvSSLv23, sslmClient, nullptr},
      {sslvTLSv1, sslmServer, nullptr},
      {sslvSSLv2, sslmClient, "Error geting SSL method."},
      {sslvSSLv3, sslmClient, "Error geting SSL method."},
      {sslvTLSv1, sslmUnassigned, "Mode has not been set."},
  };
  for (const Case& c : cases) {
    TIdSSLContext context;
    context.Options.SetMethod(c.method);
    if (c.error == nullptr) {
      EXPECT_NO_THROW(context.PrepareContext(c.role, nullptr));
      EXPECT_NE(context.Context(), nullptr);
      EXPECT_EQ(context.Options.Mode(), c.role);  // an unassigned mode takes the role
      continue;
    }
    try {
      context.PrepareContext(c.role, nullptr);
      ADD_FAILURE() << c.error;
    } catch (const EIdOpenSSLError& e) {
      EXPECT_EQ(e.Message(), c.error);
    }
  }
}

TEST(OpenSSLContextTest, ABadCipherListFailsWithOpenSSLsReason) {
  if (!LoadTlsLibrary()) GTEST_SKIP() << "no OpenSSL here";
  TIdSSLContext context;
  context.Options.SetCipherList("NO-SUCH-CIPHER");
  try {
    context.PrepareContext(sslmClient, nullptr);
    ADD_FAILURE() << "accepted";
  } catch (const EIdOSSLLoadingKeyError& e) {
    EXPECT_EQ(e.Message().rfind("SetCipher failed.\n", 0), 0u) << e.Message();
    EXPECT_GT(e.Message().size(), std::string("SetCipher failed.\n").size());
  }
}

}  // namespace
}  // namespace brixa
