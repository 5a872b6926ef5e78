// The user's automatic proxy configuration on Windows, end to end: a configuration script served
// by nginx and named in the Internet Settings (written with reg.exe, as an administrator's tool
// would), read through WinHTTP, asked about each URL, and followed by a request through the
// proxy it chose. Under Wine only a list's first entry comes back, so the order of a list is
// tested with the list parser (system_proxy_test.cpp) and the route (proxy_route_test.cpp).
#include <gtest/gtest.h>
#include <windows.h>

#include "http/client/http.h"
#include "platform/core/stream.h"
#include "platform/system/system_proxy.h"
#include "support/peers/internet_settings_windows.h"
#include "support/peers/peer_process.h"
#include "support/temp_dir.h"
#include "update/net/proxy_route.h"

namespace brixa {
namespace {

constexpr std::int32_t kReadTimeoutMs = 10000;

// Sets the user's settings or fails the test.
void SetInternetSettings(std::uint32_t flags, const std::string& proxy, const std::string& script) {
  ASSERT_TRUE(test::SetConnectionSettings(flags, proxy, "", script))
      << "reg.exe could not set the Internet Settings";
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
  void TearDown() override { SetInternetSettings(test::kConnectionDirect, "", ""); }
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
  SetInternetSettings(test::kConnectionProxy | test::kConnectionScript, "manual.invalid:8080",
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
