// The updater behind the user's proxy: http_proxy with and without credentials, no_proxy and
// a redirect to a host it names, a setting that cannot be used, and on Windows the proxy of
// the Internet Settings.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>

#include "updater_fixture.h"

namespace brixa::e2e {
namespace {

// Lines the proxy logged for the update tree, whatever their method and status.
int ProxiedTreeRequests(const test::PeerProcess& proxy) {
  const std::string tree = " http://" + std::string(kUpdateServer) + "/brixakit/";
  std::istringstream log(proxy.ReadFile("access.log"));
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.find(tree) != std::string::npos) ++count;
  }
  return count;
}

// squid writes its log line once a transaction ends; the updater may be gone by then.
constexpr int kProxyLogTimeoutMs = 10000;

// Checks that the last run's four requests for the update tree went through the proxy, or that
// none did; answers the proxy's count of tree requests for the next run.
int ExpectProxiedRun(const test::PeerProcess& proxy, bool proxied, int before) {
  if (proxied) {
    EXPECT_TRUE(
        WaitFor([&] { return ProxiedTreeRequests(proxy) == before + 4; }, kProxyLogTimeoutMs))
        << proxy.ReadFile("access.log");
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(ProxiedTreeRequests(proxy), before) << proxy.ReadFile("access.log");
  }
  return ProxiedTreeRequests(proxy);
}

#ifndef _WIN32

// Requests for `path` of the update server that `proxy`'s access log shows answered with
// `status` ("200", "302", "407").
int ProxiedRequests(const test::PeerProcess& proxy, const std::string& method,
                    const std::string& path, const std::string& status = "200") {
  const std::string url = " " + method + " http://" + std::string(kUpdateServer) + path + " ";
  std::istringstream log(proxy.ReadFile("access.log"));
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.find(url) != std::string::npos && line.find("/" + status + " ") != std::string::npos)
      ++count;
  }
  return count;
}

TEST_F(UpdaterEndToEnd, UpdatesThroughTheProxyOfHttpProxyWithAndWithoutCredentials) {
  const std::string installer = InstallerBytes();
  const struct {
    const char* what;
    test::PeerKind kind;
    const char* credentials;  // user information of the proxy URL
    bool challenged;
  } cases[] = {
      {"open proxy", test::PeerKind::Squid, "", false},
      {"Basic", test::PeerKind::SquidAuth, "alice:secret@", true},
      // DOMAIN\user, percent-encoded as a URL needs it.
      {"NTLM", test::PeerKind::SquidNTLM, "CORP%5Calice:s%40cret@", true},
      // Digest signs the method and the absolute URL; Samba's NTLM server checks version 2.
      {"Digest", test::PeerKind::SquidDigest, "alice:secret@", true},
      {"NTLMv2", test::PeerKind::SquidNTLMv2, "CORP%5Calice:secret@", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BRIXA_PEER_OR_SKIP(proxy, c.kind);
    SERVER_OR_SKIP(server, UpdateServerOptions{});
    server->Publish("version.ini", VersionFile("2", Sha256Hex(installer)));
    server->Publish("update.exe", installer);
    ProductDir product;
    product.SetLocalStamp("1");
    const ScopedProxyEnvironment environment(
        {{"http_proxy",
          "http://" + std::string(c.credentials) + "127.0.0.1:" + std::to_string(proxy->Port())}});

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_TRUE(product.WaitForMarker()) << run.stdErr;
    EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
    EXPECT_TRUE(WaitFor([&] { return ProxiedRequests(*proxy, "GET", "/brixakit/update.exe") == 1; },
                        kProxyLogTimeoutMs))
        << proxy->ReadFile("access.log");
    EXPECT_EQ(ProxiedRequests(*proxy, "HEAD", "/brixakit/version.ini"), 1);
    EXPECT_EQ(ProxiedRequests(*proxy, "GET", "/brixakit/version.ini"), 1);
    EXPECT_EQ(ProxiedRequests(*proxy, "HEAD", "/brixakit/update.exe"), 1);
    // Each client met the challenge once, on its first request.
    EXPECT_EQ(ProxiedRequests(*proxy, "HEAD", "/brixakit/version.ini", "407") > 0, c.challenged);
    EXPECT_EQ(ProxiedRequests(*proxy, "GET", "/brixakit/update.exe", "407"), 0);
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 1);
    // One record, and no credential in it.
    const std::string log = product.RunLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_NE(log.find("decision=installed"), std::string::npos) << log;
    for (const char* secret : {"alice", "secret", "s%40cret", "s@cret"}) {
      EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in " << log;
    }
  }
}

// no_proxy as curl reads it sends the update server's requests around the proxy; a proxy that
// only upper-case HTTP_PROXY names is no proxy.
TEST_F(UpdaterEndToEnd, HostsInNoProxyAreReachedDirectly) {
  BRIXA_PEER_OR_SKIP(proxy, test::PeerKind::Squid);
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", InstallerBytes());
  const std::string viaSquid = "http://127.0.0.1:" + std::to_string(proxy->Port());
  const std::string nowhere = "http://127.0.0.1:1";  // nothing listens: a use would fail
  const struct {
    const char* noProxyName;
    const char* noProxy;
    std::string httpProxy;
    bool proxied;
  } cases[] = {
      {"no_proxy", "localhost,127.0.0.1", viaSquid, false},
      {"NO_PROXY", "127.0.0.0/8", viaSquid, false},
      {"no_proxy", "*", viaSquid, false},
      {"no_proxy", "127.0.0.1:8472, .example.com", viaSquid, true},
      {"HTTP_PROXY", nowhere.c_str(), "", false},
  };
  int proxiedBefore = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.noProxyName) + "=" + c.noProxy);
    ProductDir product;
    product.SetLocalStamp("1");
    const ScopedProxyEnvironment environment(
        {{c.noProxyName, c.noProxy}, {"http_proxy", c.httpProxy}});
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(product.WaitForMarker()) << run.stdErr;
    proxiedBefore = ExpectProxiedRun(*proxy, c.proxied, proxiedBefore);
  }
}

// The download follows a redirect to a host no_proxy names: that leg goes direct, while the
// first one went through the proxy.
TEST_F(UpdaterEndToEnd, RedirectToABypassedHostGoesDirect) {
  BRIXA_PEER_OR_SKIP(proxy, test::PeerKind::Squid);
  const test::ServerAddress address = test::BuiltInServer();
  UpdateServerOptions options;
  options.extraLocations = "location = /brixakit/update.exe { return 302 http://localhost:" +
                           std::to_string(address.port) + "/brixakit/moved.exe; }";
  SERVER_OR_SKIP(server, options);
  const std::string installer = InstallerBytes();
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("moved.exe", installer);
  ProductDir product;
  product.SetLocalStamp("1");
  const ScopedProxyEnvironment environment(
      {{"http_proxy", "127.0.0.1:" + std::to_string(proxy->Port())}, {"no_proxy", "localhost"}});

  const ProgramResult run = product.Run();
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_TRUE(product.WaitForMarker()) << run.stdErr;
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
  EXPECT_TRUE(
      WaitFor([&] { return ProxiedRequests(*proxy, "GET", "/brixakit/update.exe", "302") == 1; },
              kProxyLogTimeoutMs))
      << proxy->ReadFile("access.log");
  EXPECT_EQ(proxy->ReadFile("access.log").find("moved.exe"), std::string::npos);
  EXPECT_EQ(server->Requests("GET", "/brixakit/moved.exe"), 1);
}

// A proxy setting the updater cannot use is reported and nothing goes around it.
TEST_F(UpdaterEndToEnd, UnusableProxySettingIsReportedAndNothingGoesDirect) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", InstallerBytes());
  for (const char* setting : {"socks5://alice:pw@127.0.0.1:1080", "http://127.0.0.1:99999"}) {
    SCOPED_TRACE(setting);
    ProductDir product;
    product.SetLocalStamp("1");
    const ScopedProxyEnvironment environment({{"http_proxy", setting}});
    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.stdErr.find("unusable proxy setting http_proxy="), std::string::npos)
        << run.stdErr;
    EXPECT_EQ(run.stdErr.find(":pw@"), std::string::npos) << run.stdErr;
    EXPECT_FALSE(product.Has(kTempVersion));
    EXPECT_FALSE(product.Has(kTempExe));
    // The failure is logged with its reason, and without the password.
    const std::string log = product.RunLog();
    EXPECT_NE(log.find("decision=failed"), std::string::npos) << log;
    EXPECT_NE(log.find("proxy"), std::string::npos) << log;
    EXPECT_EQ(log.find("pw"), std::string::npos) << log;
  }
  EXPECT_EQ(server->AccessLog(), "");
}

#else  // _WIN32

TEST_F(UpdaterEndToEnd, UpdatesThroughTheProxyOfTheInternetSettings) {
  BRIXA_PEER_OR_SKIP(proxy, test::PeerKind::Squid);
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes();
  server->Publish("version.ini", VersionFile("2"));
  server->Publish("update.exe", installer);
  const std::string squid = "127.0.0.1:" + std::to_string(proxy->Port());
  const struct {
    std::string proxyServer;
    const char* bypass;
    bool proxied;
  } cases[] = {
      // Loopback goes direct unless the list says "<-loopback>".
      {"http=" + squid + ";https=" + squid, "<-loopback>", true},
      {squid, "<-loopback>;*.example.com", true},
      {squid, "<local>", false},
      {"http=" + squid, "<-loopback>;127.0.0.*", false},
      {"https=" + squid, "<-loopback>", false},  // no proxy for http URLs
  };
  int proxiedBefore = ProxiedTreeRequests(*proxy);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.proxyServer + " / " + c.bypass);
    ProductDir product;
    product.SetLocalStamp("1");
    const ScopedInternetSettings settings(c.proxyServer, c.bypass);
    ASSERT_TRUE(settings.Ok()) << "reg.exe could not set the Internet Settings";
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(product.WaitForMarker()) << run.stdErr;
    EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
    proxiedBefore = ExpectProxiedRun(*proxy, c.proxied, proxiedBefore);
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace brixa::e2e
