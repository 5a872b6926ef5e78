// The updater's everyday runs end to end: differing and equal stamps, a failed check, an
// installer that must not be started, the single running copy, and the overall deadline no
// server or proxy can hold it past.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/process/single_instance.h"
#include "updater_fixture.h"

namespace brixa::e2e {
namespace {

TEST_F(UpdaterEndToEnd, DifferingStampsDownloadAndStartTheInstaller) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes();
  const struct {
    const char* local;  // nullptr: no local version file
    const char* remote;
    bool announceHash;
  } cases[] = {
      {"1.0.0", "1.0.1", false},
      {"2.0", "1.9", true},              // a lower server stamp is an update too
      {"release-A", "release-a", true},  // letter case counts
      {nullptr, "1.0", false},           // no local file: "0000000000"
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remote);
    ProductDir product;
    if (c.local != nullptr) product.SetLocalStamp(c.local);
    server->Publish("version.ini",
                    VersionFile(c.remote, c.announceHash ? Sha256Hex(installer) : ""));
    server->Publish("update.exe", installer);
    const int downloadsBefore = server->Requests("GET", "/brixakit/update.exe");

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_TRUE(product.WaitForMarker()) << run.stdErr;
    const std::string marker = test::ReadFileText(product.Path(kMarker));
    EXPECT_NE(marker.find(kTempExe), std::string::npos) << marker;
    EXPECT_NE(marker.find("arguments=0"), std::string::npos) << marker;
    EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
    EXPECT_FALSE(product.Has(kTempVersion));
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), downloadsBefore + 1);
    if (!OnWindows()) {
      EXPECT_NE(run.stdErr.find("100%"), std::string::npos) << run.stdErr;
      EXPECT_EQ(run.stdErr.find("Error"), std::string::npos) << run.stdErr;
    }
  }
}

TEST_F(UpdaterEndToEnd, EqualStampsEndWithoutWindowOrDownload) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("update.exe", InstallerBytes());
  const struct {
    const char* local;  // nullptr: no local version file
    const char* remote;
  } cases[] = {
      {"2024.06.01", "2024.06.01"},
      // Only 19 bytes of each stamp take part.
      {"1234567890123456789-local", "1234567890123456789-server"},
      {nullptr, "0000000000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remote);
    ProductDir product;
    if (c.local != nullptr) product.SetLocalStamp(c.local);
    server->Publish("version.ini", VersionFile(c.remote));

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdErr, "");  // no window, no message
    EXPECT_FALSE(product.Has(kTempExe));
    EXPECT_FALSE(product.Has(kTempVersion));
  }
  EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), 3);
  EXPECT_EQ(server->Requests("HEAD", "/brixakit/update.exe"), 0);
  EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
}

// No version file to be had: the program ends silently, whatever the local stamp.
TEST_F(UpdaterEndToEnd, FailedVersionCheckEndsSilently) {
  ProductDir product;
  product.SetLocalStamp("1.0");
  {
    SERVER_OR_SKIP(server, UpdateServerOptions{});
    server->Publish("update.exe", InstallerBytes());  // there, but never asked for
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdErr, "");
    EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), 1);  // a 404 ends the check
    EXPECT_EQ(server->Requests("GET", "/brixakit/version.ini"), 0);
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
  }
  if (OnWindows()) return;  // the Linux side keeps its server running for the whole Wine run
  ASSERT_FALSE(test::Listening(test::BuiltInServer().port));
  const ProgramResult down = product.Run();
  EXPECT_FALSE(down.timedOut);
  EXPECT_EQ(down.exitCode, 0);
  EXPECT_EQ(down.stdErr, "");
  EXPECT_FALSE(product.Has(kTempExe));
  EXPECT_FALSE(product.Has(kMarker));
}

TEST_F(UpdaterEndToEnd, IncompleteOrForgedInstallerIsNeverStarted) {
  const std::string installer = InstallerBytes();
  const auto upstream = ShortInstallerUpstream();
  const struct {
    const char* name;
    bool publish;
    std::string sha256;
    std::string locations;
  } cases[] = {
      {"missing installer", false, "", ""},
      {"forged installer", true, Sha256Hex(installer + "tampered"), ""},
      {"hash that is no hash", true, "not-a-sha256", ""},
      {"short installer", false, "",
       "location = /brixakit/update.exe { proxy_pass http://127.0.0.1:" +
           std::to_string(upstream->Port()) + "; proxy_buffering off; }"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The Windows test has only the plain server that was started beside it.
    if (OnWindows() && !c.locations.empty()) continue;
    UpdateServerOptions options;
    options.extraLocations = c.locations;
    SERVER_OR_SKIP(server, options);
    ProductDir product;
    product.SetLocalStamp("1");
    server->Publish("version.ini", VersionFile("2", c.sha256));
    if (c.publish) server->Publish("update.exe", installer);

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
    EXPECT_FALSE(product.Has(kTempExe));
    EXPECT_FALSE(product.Has(kTempVersion));
    // Started installers write their marker at once; give one that slipped through a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(product.Has(kMarker));
  }
  if (!OnWindows()) {
    EXPECT_TRUE(upstream->WaitDone(5000)) << upstream->Failures();
  }
}

// The lock taken by the test itself, as a first copy would hold it: runs on both platforms.
TEST_F(UpdaterEndToEnd, CopyStartedWhileTheLockIsHeldExitsWithoutNetworkAccess) {
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  server->Publish("version.ini", VersionFile("new"));
  server->Publish("update.exe", InstallerBytes());
  ProductDir product;
  product.SetLocalStamp("old");
  {
    TNamedMutex first("BrixaUpdater");
    ASSERT_TRUE(first.Valid());
    ASSERT_FALSE(first.AlreadyExists()) << "another updater runs on this machine";
    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdErr, "");
  }
  EXPECT_EQ(server->Requests("HEAD", "/brixakit/version.ini"), 0);
  EXPECT_FALSE(product.Has(kTempVersion));
  // Once the lock is free the same copy updates.
  const ProgramResult run = product.Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_TRUE(product.WaitForMarker()) << run.stdErr;
}

TEST_F(UpdaterEndToEnd, SecondCopyExitsAtOnceWhileTheFirstDownloads) {
  const std::string installer = InstallerBytes(512 * 1024);
  UpdateServerOptions slow;
  // About three seconds for the whole installer.
  slow.rateBytesPerSecond = static_cast<std::int64_t>(installer.size() / 3);
  SERVER_OR_SKIP(server, slow);
  server->Publish("version.ini", VersionFile("new"));
  server->Publish("update.exe", installer);
  ProductDir first;
  ProductDir second;
  first.SetLocalStamp("old");
  second.SetLocalStamp("old");

  std::atomic<bool> firstEnded{false};
  ProgramResult firstRun;
  std::thread runner([&] {
    firstRun = first.Run();
    firstEnded = true;
  });
  // nginx logs a request when it ends: the file growing shows the download under way.
  const bool downloading = WaitFor(
      [&] {
        std::error_code ec;
        const auto size = fs::file_size(first.Path(kTempExe), ec);
        return (!ec && size > 0) || firstEnded;
      },
      kDownloadStartTimeoutMs);
  const ProgramResult secondRun = second.Run();
  const bool firstStillRunning = !firstEnded;
  runner.join();

  ASSERT_TRUE(downloading);
  EXPECT_TRUE(firstStillRunning) << "the first copy ended before the second one did: "
                                 << firstRun.stdErr;
  EXPECT_EQ(secondRun.exitCode, 0);
  EXPECT_EQ(secondRun.stdErr, "");
  EXPECT_FALSE(second.Has(kTempVersion));
  EXPECT_FALSE(second.Has(kTempExe));
  // The first copy asked once for each file; the second one asked for nothing.
  EXPECT_EQ(server->Requests("GET", "/brixakit/version.ini"), 1);
  EXPECT_EQ(firstRun.exitCode, 0);
  EXPECT_TRUE(first.WaitForMarker()) << firstRun.stdErr;
}

// --- The overall deadline --------------------------------------------------------------------

// The user's proxy setting naming a proxy on 127.0.0.1:`port`, for one scope, loopback
// included.
class ScopedLoopbackProxy {
 public:
#ifdef _WIN32
  explicit ScopedLoopbackProxy(std::uint16_t port)
      : settings_("127.0.0.1:" + std::to_string(port), "<-loopback>") {}
  [[nodiscard]] bool Ok() const {
    return settings_.Ok();
  }

 private:
  ScopedInternetSettings settings_;
#else
  explicit ScopedLoopbackProxy(std::uint16_t port)
      : environment_({{"http_proxy", "http://127.0.0.1:" + std::to_string(port)}}) {}
  [[nodiscard]] bool Ok() const {
    return true;
  }

 private:
  ScopedProxyEnvironment environment_;
#endif
};

// What BrixaUpdaterShortDeadline allows a whole run, and how much longer a run may take before
// the test calls it held: starting the program (under Wine too) and its clean-up, generously.
constexpr int kShortDeadlineMs = 4000;
constexpr int kDeadlineMarginMs = 26000;

// Bytes that keep a transfer above the low-speed limit of 1024 bytes a second (1500 a second)
// for as long as the hostile peer below wants, which is always far past the deadline and its
// margin.
constexpr std::size_t kDripPiece = 300;
constexpr int kDripGapMs = 200;
constexpr std::size_t kDrippedInstallerBytes = 150000;  // 100 s
constexpr int kInterimResponses = 70;                   // above the client's limit, ~1 s each
constexpr int kRedirectLegs = 20;                       // above the client's limit, 4 s each

// Sends `bytes` kDripPiece at a time, kDripGapMs apart.
void Drip(test::Script& script, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size(); at += kDripPiece) {
    script.push_back(test::Pause(kDripGapMs));
    script.push_back(test::Send(bytes.substr(at, kDripPiece)));
  }
}

// `count` header lines of padding, kDripPiece bytes each.
std::string PadLines(int count) {
  std::string lines;
  for (int i = 0; i < count; ++i) lines += "X-Pad: " + std::string(kDripPiece - 9, 'p') + "\r\n";
  return lines;
}

std::string ClosingHead(const std::string& status, std::size_t length) {
  return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(length) +
         "\r\nConnection: close\r\n\r\n";
}

test::Script Answer(const std::string& head, const std::string& body = {}) {
  return {test::Expect::LineBlock(), test::Send(head + body), test::Close()};
}

enum class Hold { drip, interim, redirects };

// One connection per request (every answer closes), as a server or as a proxy would play them:
// the request line is never looked at. `drip` and `redirects` let the version check find an
// update and hold the installer's download; `interim` holds the version check.
std::vector<test::Script> HoldingScripts(Hold hold) {
  const std::string version = VersionFile("2");
  const std::string versionHead = ClosingHead("200 OK", version.size());
  std::vector<test::Script> scripts{Answer(versionHead), Answer(versionHead, version)};
  switch (hold) {
    case Hold::drip: {
      const std::string head = ClosingHead("200 OK", kDrippedInstallerBytes);
      scripts.push_back(Answer(head));
      test::Script get{test::Expect::LineBlock(), test::Send(head)};
      Drip(get, std::string(kDrippedInstallerBytes, 'x'));
      scripts.push_back(std::move(get));
      break;
    }
    case Hold::interim: {
      std::string interims;
      for (int i = 0; i < kInterimResponses; ++i) {
        interims += "HTTP/1.1 102 Processing\r\n" + PadLines(4) + "\r\n";
      }
      scripts.assign(1, test::Script{test::Expect::LineBlock()});
      Drip(scripts[0], interims);
      break;
    }
    case Hold::redirects:
      for (int leg = 0; leg < kRedirectLegs; ++leg) {
        test::Script redirect{test::Expect::LineBlock()};
        Drip(redirect, "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:" +
                           std::to_string(test::BuiltInServer().port) +
                           "/brixakit/update.exe?leg=" + std::to_string(leg) + "\r\n" +
                           PadLines(20) + "Content-Length: 0\r\nConnection: close\r\n\r\n");
        scripts.push_back(std::move(redirect));
      }
      break;
  }
  return scripts;
}

// A server or a proxy that keeps sending, fast enough for the low-speed rule and within every
// count limit of the client, holds the updater no longer than its overall deadline: the run ends
// like any failure and the single-instance lock is free again.
TEST_F(UpdaterEndToEnd, NoServerOrProxyHoldsTheUpdaterPastItsDeadline) {
  const std::string program = "BrixaUpdaterShortDeadline";
  if (!fs::exists(test::BuildTreePath("app/" + program + test::ExecutableSuffix()))) {
    GTEST_SKIP() << "no short-deadline updater in this build";
  }
  const struct {
    const char* name;
    Hold hold;
    bool asProxy;
  } cases[] = {
      {"server drips the installer", Hold::drip, false},
      {"server sends interim responses", Hold::interim, false},
      {"server redirects", Hold::redirects, false},
      {"proxy drips the installer", Hold::drip, true},
      {"proxy sends interim responses", Hold::interim, true},
      {"proxy redirects", Hold::redirects, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // Under Wine the update server's port belongs to the server started beside the tests.
    if (OnWindows() && !c.asProxy) continue;
    test::ScriptedServerOptions where;
    if (!c.asProxy) where.port = static_cast<std::uint16_t>(test::BuiltInServer().port);
    test::ScriptedServer peer(HoldingScripts(c.hold), where);
    ASSERT_EQ(peer.Failures(), "") << "port " << where.port;
    std::optional<ScopedLoopbackProxy> proxy;
    if (c.asProxy) proxy.emplace(peer.Port());
    ASSERT_TRUE(!proxy || proxy->Ok()) << "the proxy setting could not be made";
    ProductDir product(program);
    product.SetLocalStamp("1");

    const ProgramResult run = product.Run(kShortDeadlineMs + kDeadlineMarginMs);
    EXPECT_FALSE(run.timedOut) << "held past the deadline";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_GE(peer.Accepted(), c.hold == Hold::interim ? 1u : 3u);
    EXPECT_NE(product.RunLog().find("took longer than allowed"), std::string::npos)
        << product.RunLog();
    EXPECT_FALSE(product.Has(kTempExe));
    EXPECT_FALSE(product.Has(kMarker));
    const TNamedMutex next("BrixaUpdater");
    EXPECT_TRUE(next.Valid());
    EXPECT_FALSE(next.AlreadyExists()) << "the lock outlived the run";
  }
}

}  // namespace
}  // namespace brixa::e2e
