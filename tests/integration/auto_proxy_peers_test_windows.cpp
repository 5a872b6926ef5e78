// The user's automatic proxy configuration on Windows, end to end: a configuration script served
// by nginx and named in the Internet Settings (written with reg.exe, as an administrator's tool
// would), read through WinHTTP, asked about each URL, and followed by a request through the
// proxy it chose. Under Wine only a list's first entry comes back, so the order of a list is
// tested with the list parser (system_proxy_test.cpp) and the route (proxy_route_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "http/http.h"
#include "platform/stream.h"
#include "platform/system_proxy.h"
#include "support/peer_process.h"
#include "support/temp_dir.h"
#include "update/proxy_route.h"

namespace brixa {
namespace {

constexpr int kRegTimeoutMs = 30000;
constexpr std::int32_t kReadTimeoutMs = 10000;
constexpr const char* kConnectionsKey =
    "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
// The flags of the DefaultConnectionSettings value.
constexpr std::uint32_t kFlagProxy = 2;
constexpr std::uint32_t kFlagScript = 4;

void PutDword(std::string& hex, std::uint32_t value) {
  char text[9];
  for (int i = 0; i < 4; ++i) {
    std::snprintf(text, sizeof text, "%02x", static_cast<unsigned>((value >> (8 * i)) & 0xFF));
    hex += text;
  }
}

void PutText(std::string& hex, const std::string& text) {
  PutDword(hex, static_cast<std::uint32_t>(text.size()));
  char byte[3];
  for (const char ch : text) {
    std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(ch));
    hex += byte;
  }
}

// Writes the binary value WinHTTP reads: version, counter, flags, proxy, bypass, script URL.
void SetInternetSettings(std::uint32_t flags, const std::string& proxy, const std::string& script) {
  std::string hex;
  PutDword(hex, 0x46);
  PutDword(hex, 1);
  PutDword(hex, flags);
  PutText(hex, proxy);
  PutText(hex, "");
  PutText(hex, script);
  for (int i = 0; i < 32; ++i) hex += "00";
  const auto run = test::RunProgram("reg",
                                    {"add", kConnectionsKey, "/v", "DefaultConnectionSettings",
                                     "/t", "REG_BINARY", "/d", hex, "/f"},
                                    kRegTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.stdErr << run.stdOut;
}

std::string Describe(const TAutoProxyAnswer& answer) {
  if (!answer.Answered) return "error: " + answer.Error;
  std::string text;
  for (const TProxyListEntry& entry : answer.Route) {
    text += (text.empty() ? "" : ";") + (entry.Direct ? std::string("DIRECT") : entry.Proxy);
  }
  return text;
}

class AutoProxyPeers : public ::testing::Test {
 protected:
  void TearDown() override { SetInternetSettings(1, "", ""); }
};

TEST_F(AutoProxyPeers, ScriptChoosesBetweenTwoProxiesAndDirectByHost) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  BRIXA_PEER_OR_SKIP(squid, test::PeerKind::Squid);
  BRIXA_PEER_OR_SKIP(tinyproxy, test::PeerKind::Tinyproxy);
  const std::string squidAddress = "127.0.0.1:" + std::to_string(squid->Port());
  const std::string tinyAddress = "127.0.0.1:" + std::to_string(tinyproxy->Port());
  test::WriteFileText(nginx->DocPath("proxy.pac"),
                      "function FindProxyForURL(url, host) {\n"
                      "  if (host == \"127.0.0.1\") return \"PROXY " +
                          squidAddress +
                          "\";\n"
                          "  if (shExpMatch(host, \"*.second.test\")) return \"PROXY " +
                          tinyAddress +
                          "; DIRECT\";\n"
                          "  return \"DIRECT\";\n"
                          "}\n");
  test::WriteFileText(nginx->DocPath("broken.pac"), "function FindProxyForURL(url, host) {\n");
  SetInternetSettings(kFlagProxy | kFlagScript, "manual.invalid:8080",
                      nginx->BaseUrl() + "/proxy.pac");

  const TSystemProxySettings settings = ReadSystemProxySettings();
  EXPECT_EQ(settings.AutoConfigUrl, nginx->BaseUrl() + "/proxy.pac");
  EXPECT_EQ(settings.HttpProxy, "manual.invalid:8080");
  const std::string page = nginx->BaseUrl() + "/index.html";
  EXPECT_EQ(Describe(ResolveAutoProxy(settings, page)), squidAddress);
  EXPECT_EQ(Describe(ResolveAutoProxy(settings, "http://www.second.test/")), tinyAddress);
  EXPECT_EQ(Describe(ResolveAutoProxy(settings, "https://elsewhere.test/")), "DIRECT");

  // The request goes where the script says: squid logs it.
  const TProxyRoute route(
      settings, [&settings](const std::string& url) { return ResolveAutoProxy(settings, url); },
      nullptr);
  TIdHTTP http;
  http.SetReadTimeout(kReadTimeoutMs);
  RouteThroughProxy(http, route, page);
  EXPECT_EQ(http.ProxyParams().ProxyPort(), squid->Port());
  TMemoryStream body;
  http.Get(page, &body);
  EXPECT_EQ(static_cast<std::size_t>(body.Size()),
            test::ReadFileText(nginx->DocPath("index.html")).size());
  EXPECT_NE(squid->ReadFile("access.log").find(page), std::string::npos);

  // A script that cannot be fetched or run is no answer: the manual proxy decides.
  for (const char* script : {"/missing.pac", "/broken.pac"}) {
    TSystemProxySettings failing = settings;
    failing.AutoConfigUrl = nginx->BaseUrl() + script;
    const TAutoProxyAnswer answer = ResolveAutoProxy(failing, page);
    EXPECT_FALSE(answer.Answered) << script;
    EXPECT_NE(answer.Error.find("proxy configuration script: error"), std::string::npos)
        << answer.Error;
    const TProxyRoute fallback(
        failing, [&failing](const std::string& url) { return ResolveAutoProxy(failing, url); },
        nullptr);
    // (Loopback bypasses the manual proxy, so the fall-back is shown for another host.)
    const auto manual = fallback.ProxyFor(std::string("http://example.test/"));
    ASSERT_TRUE(manual.has_value()) << script;
    EXPECT_EQ(manual->Host, "manual.invalid") << script;
  }
}

}  // namespace
}  // namespace brixa
