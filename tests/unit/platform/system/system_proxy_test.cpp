// How each convention's raw values become the proxies for http and https URLs.
#include "platform/system/system_proxy.h"

#include <gtest/gtest.h>

#include <map>

namespace brixa {
namespace {

TEST(SystemProxyTest, EnvironmentIsReadAsCurlReadsIt) {
  using Env = std::map<std::string, std::string>;
  const struct {
    const char* what;
    Env env;
    const char* http;
    const char* https;
    const char* bypass;
  } cases[] = {
      {"nothing set", {}, "", "", ""},
      {"lower case",
       {{"http_proxy", "a:1"}, {"https_proxy", "b:2"}, {"no_proxy", "x"}},
       "a:1",
       "b:2",
       "x"},
      // A CGI program gets the request's "Proxy:" header as HTTP_PROXY: never a proxy.
      {"upper-case HTTP_PROXY is ignored", {{"HTTP_PROXY", "evil:1"}}, "", "", ""},
      {"upper-case HTTPS_PROXY and NO_PROXY count",
       {{"HTTPS_PROXY", "b:2"}, {"NO_PROXY", "y"}},
       "",
       "b:2",
       "y"},
      {"lower case wins",
       {{"https_proxy", "low:1"}, {"HTTPS_PROXY", "up:1"}, {"no_proxy", "l"}, {"NO_PROXY", "u"}},
       "",
       "low:1",
       "l"},
      {"all_proxy serves a scheme without its own",
       {{"all_proxy", "c:3"}, {"http_proxy", "a:1"}},
       "a:1",
       "c:3",
       ""},
      {"ALL_PROXY after all_proxy", {{"ALL_PROXY", "C:3"}, {"all_proxy", "c:3"}}, "c:3", "c:3", ""},
      // Set but empty means direct, and stops the search.
      {"empty https_proxy",
       {{"https_proxy", ""}, {"HTTPS_PROXY", "b:2"}, {"all_proxy", "c:3"}},
       "c:3",
       "",
       ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const TSystemProxySettings settings = ProxySettingsFromEnvironment([&](const char* name) {
      const auto found = c.env.find(name);
      return found == c.env.end() ? nullptr : found->second.c_str();
    });
    EXPECT_EQ(settings.Convention, pcEnvironment);
    EXPECT_EQ(settings.HttpProxy, c.http);
    EXPECT_EQ(settings.HttpsProxy, c.https);
    EXPECT_EQ(settings.Bypass, c.bypass);
  }
  const TSystemProxySettings named = ProxySettingsFromEnvironment([](const char* name) {
    return std::string(name) == "HTTPS_PROXY" || std::string(name) == "http_proxy" ? "p:1"
                                                                                   : nullptr;
  });
  EXPECT_EQ(named.HttpProxySource, "http_proxy");
  EXPECT_EQ(named.HttpsProxySource, "HTTPS_PROXY");
}

TEST(SystemProxyTest, InternetSettingsProxyServerIsSplitByProtocol) {
  const struct {
    const char* proxyServer;
    const char* http;
    const char* https;
  } cases[] = {
      {"", "", ""},
      {"proxy:8080", "proxy:8080", "proxy:8080"},
      {"http://proxy:8080", "http://proxy:8080", "http://proxy:8080"},
      {"http=h:1;https=s:2", "h:1", "s:2"},
      {"HTTP=h:1 HTTPS=s:2", "h:1", "s:2"},
      {" ;http=h:1;; ", "h:1", ""},
      // SOCKS and FTP entries are for other clients.
      {"socks=s:1080;ftp=f:21", "", ""},
      {"https=s:2;socks=k:1080", "", "s:2"},
      {"http=http://h:1;https=s:2", "http://h:1", "s:2"},
      // An entry without a protocol serves those without one of their own.
      {"http=h:1;all:3", "h:1", "all:3"},
      {"http=h:1;http=second:2", "h:1", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.proxyServer);
    const TSystemProxySettings settings =
        ProxySettingsFromInternetSettings(c.proxyServer, "<local>");
    EXPECT_EQ(settings.Convention, pcInternetSettings);
    EXPECT_EQ(settings.HttpProxy, c.http);
    EXPECT_EQ(settings.HttpsProxy, c.https);
    EXPECT_EQ(settings.Bypass, "<local>");
    EXPECT_EQ(settings.HttpProxySource.empty(), std::string(c.http).empty());
  }
}

// Proxy lists as configuration scripts write them and as WinHTTP hands them over.
TEST(SystemProxyTest, ProxyListsKeepTheirOrderAndDropWhatCannotBeUsed) {
  const TProxyListEntry direct{true, {}};
  const auto proxy = [](const char* address) { return TProxyListEntry{false, address}; };
  const struct {
    const char* list;
    std::vector<TProxyListEntry> expected;
  } cases[] = {
      {"DIRECT", {direct}},
      {"PROXY a:8080", {proxy("a:8080")}},
      {"PROXY a:1; PROXY b:2; DIRECT", {proxy("a:1"), proxy("b:2"), direct}},
      {"proxy a:1;direct", {proxy("a:1"), direct}},
      {"HTTP a:1", {proxy("a:1")}},
      {"a:1;b:2", {proxy("a:1"), proxy("b:2")}},  // WinHTTP's form
      {" a:1 ; ; b:2 ", {proxy("a:1"), proxy("b:2")}},
      {"SOCKS s:1080; PROXY a:1", {proxy("a:1")}},
      {"HTTPS h:443; SOCKS5 s:1; DIRECT", {direct}},
      {"PROXY a:1 b:2", {}},  // two addresses in one entry
      {"", {}},
      {";;;", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseProxyList(c.list), c.expected) << c.list;

  std::string many;
  for (std::size_t i = 0; i < kMaxProxyListEntries + 5; ++i) many += "PROXY p:1;";
  EXPECT_EQ(ParseProxyList(many).size(), kMaxProxyListEntries);
}

}  // namespace
}  // namespace brixa
