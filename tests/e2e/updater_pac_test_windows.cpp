// The updater under Wine behind the proxy that the user's configuration script chooses: the
// script is served by nginx and named in the Internet Settings (written with reg.exe), WinHTTP
// runs it for each URL, and the signed manifest and installer come through the squid it names.
// A script that cannot be fetched or run is no answer, and the manual proxy beside it decides.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>

#include "support/peers/internet_settings_windows.h"
#include "support/peers/peer_process.h"
#include "support/temp_dir.h"
#include "update_server.h"

namespace brixa {
namespace {

namespace fs = std::filesystem;

constexpr int kRunTimeoutMs = 60000;
// The installer is started detached; squid writes a log line once its transaction ends.
constexpr int kSettleTimeoutMs = 15000;
constexpr const char* kMarker = "installer_ran.txt";

std::string Release(const std::string& name) {
  return test::ReadFileText(test::BuildTreePath("test-releases/v2/" + name));
}

bool WaitFor(const std::function<bool()>& condition) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kSettleTimeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(test::kPollStep);
  }
  return true;
}

// Lines of an access log naming `tree`.
int CountLines(const std::string& text, const std::string& tree) {
  std::istringstream log(text);
  int count = 0;
  for (std::string line; std::getline(log, line);) {
    if (line.find(tree) != std::string::npos) ++count;
  }
  return count;
}

// Requests for the update tree in the update server's log.
int TreeRequests(const std::string& serverLog) {
  return CountLines(serverLog, " /brixakit/");
}

// Requests for the update tree that squid forwarded (it logs the absolute URL).
int ProxiedTreeRequests(const test::PeerProcess& proxy) {
  return CountLines(proxy.ReadFile("access.log"),
                    " http://" + std::string(kUpdateServer) + "/brixakit/");
}

class UpdaterBehindAutoProxy : public ::testing::Test {
 protected:
  // Other tests of the Wine run share this registry: leave it "direct", as a fresh prefix has it.
  void TearDown() override {
    (void)test::SetConnectionSettings(test::kConnectionDirect, "", "", "");
  }
};

TEST_F(UpdaterBehindAutoProxy, FetchesThroughTheProxyTheScriptChoosesOrTheManualOneWithoutIt) {
  const std::string updater = test::BuildTreePath("app/BrixaUpdaterSigned.exe");
  if (!fs::exists(updater) || Release("version.ini.sig").empty()) {
    GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  }
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  BRIXA_PEER_OR_SKIP(squid, test::PeerKind::Squid);
  std::string whyNot;
  const auto server = test::UpdateServer::Start({}, whyNot);
  if (!server) GTEST_SKIP() << whyNot;
  for (const char* name : {"version.ini", "version.ini.sig", "update.exe"}) {
    server->Publish(name, Release(name));
  }
  const std::string squidAddress = "127.0.0.1:" + std::to_string(squid->Port());
  const std::string updateHost = test::BuiltInServer().host;
  // Only the update host goes through squid.
  test::WriteFileText(nginx->DocPath("updater.pac"),
                      "function FindProxyForURL(url, host) {\n"
                      "  if (host == \"" +
                          updateHost + "\") return \"PROXY " + squidAddress +
                          "\";\n"
                          "  return \"DIRECT\";\n"
                          "}\n");
  test::WriteFileText(nginx->DocPath("direct.pac"),
                      "function FindProxyForURL(url, host) { return \"DIRECT\"; }\n");
  test::WriteFileText(nginx->DocPath("broken.pac"), "function FindProxyForURL(url, host) {\n");

  const struct {
    const char* script;
    bool proxied;
  } cases[] = {
      {"/updater.pac", true},
      // The script's answer wins over the manual proxy beside it.
      {"/direct.pac", false},
      // No answer from the script: the manual proxy decides.
      {"/missing.pac", true},
      {"/broken.pac", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    // Loopback would bypass the manual proxy unless the list says "<-loopback>".
    ASSERT_TRUE(test::SetConnectionSettings(test::kConnectionProxy | test::kConnectionScript,
                                            squidAddress, "<-loopback>",
                                            nginx->BaseUrl() + c.script));
    const int proxiedBefore = ProxiedTreeRequests(*squid);
    const int downloadsBefore = server->Requests("GET", "/brixakit/update.exe");
    const int servedBefore = TreeRequests(server->AccessLog());
    test::TempDir product;
    const std::string copy = product.Path("BrixaUpdater.exe");
    fs::copy_file(updater, copy);
    test::WriteFileText(product.Path("version.ini"), "[Updater]\r\nVersion=1\r\n");
    ::SetEnvironmentVariableA("LOCALAPPDATA", product.Path("state").c_str());
    fs::create_directories(product.Path("state"));

    const test::ProgramResult run = test::RunProgram(copy, {}, kRunTimeoutMs);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0) << run.stdErr;
    EXPECT_TRUE(WaitFor([&] { return fs::exists(product.Path(kMarker)); })) << run.stdErr;
    EXPECT_EQ(test::ReadFileText(product.Path("brixaupdatetemp.exe")), Release("update.exe"));
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), downloadsBefore + 1);
    // Every request of the run for the update tree went through squid, or none did.
    const int served = TreeRequests(server->AccessLog()) - servedBefore;
    EXPECT_GE(served, 3);  // the manifest, its signature and the installer at least
    if (c.proxied) {
      EXPECT_TRUE(WaitFor([&] { return ProxiedTreeRequests(*squid) - proxiedBefore == served; }))
          << squid->ReadFile("access.log");
      EXPECT_NE(squid->ReadFile("access.log")
                    .find("GET http://" + std::string(kUpdateServer) + "/brixakit/update.exe"),
                std::string::npos);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      EXPECT_EQ(ProxiedTreeRequests(*squid), proxiedBefore) << squid->ReadFile("access.log");
    }
  }
}

}  // namespace
}  // namespace brixa
