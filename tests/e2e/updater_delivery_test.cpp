// How a release reaches the user: mirrors held to the signed manifest, a second update server
// when the first fails or asks to wait, downloads continued where an earlier run stopped, the
// rollout kill switch, and Retry-After on the version check.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "http/client/http.h"
#include "tools/brixa_release/release_tool.h"
#include "update/delivery/byte_range.h"
#include "update/state/partial_identity.h"
#include "update/state/state_file.h"
#include "updater_fixture.h"

namespace brixa::e2e {
namespace {

// The test's own requests to the update server wait this long for an answer.
constexpr std::int32_t kProbeReadTimeoutMs = 10000;
// How long a test waits for nginx to log an answer the updater has already read.
constexpr int kLogTimeoutMs = 3000;

// The last line of the run log.
std::string LastRecord(const ProductDir& product) {
  const std::string log = product.RunLog();
  return log.size() < 2 ? log : log.substr(log.rfind('\n', log.size() - 2) + 1);
}

// The primary serves a tampered installer; of the mirrors one refuses connections, one has no
// such file and the last serves the right one: that one is installed, and the log names it.
TEST_F(UpdaterEndToEnd, MirrorsDeliverWhenThePrimaryFailsAndAreHeldToTheManifest) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes(64 * 1024);
  test::RefusingPort down;
  const std::string base = "http://127.0.0.1:" + std::to_string(test::BuiltInServer().port);
  const std::string good = base + "/brixakit/mirror-update.exe";
  PublishSigned(*server, installer, "100",
                {"--mirror", "http://127.0.0.1:" + std::to_string(down.Port()) + "/u.exe",
                 "--mirror", base + "/brixakit/missing.exe", "--mirror", good});
  std::string tampered = installer;
  tampered[tampered.size() - 1] ^= 1;
  server->Publish("update.exe", tampered);
  server->Publish("mirror-update.exe", installer);
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  const ProgramResult run = product.Run();
  EXPECT_EQ(run.exitCode, 0);
  ASSERT_TRUE(product.WaitForMarker()) << run.stdErr << product.RunLog();
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
  const std::string record = LastRecord(product);
  EXPECT_NE(record.find("installed"), std::string::npos) << record;
  EXPECT_NE(record.find("served by " + good), std::string::npos) << record;
  EXPECT_FALSE(product.Has(std::string(kTempExe) + ".partial"));
}

// An updater built with two servers (the first on BRIXA_FALLBACK_TEST_PORT) checks with the
// second when the first refuses the connection or answers 503, installs from it, and logs why
// the first was passed over; with both failing it fails with both reasons and starts nothing.
TEST_F(UpdaterEndToEnd, AFailingFirstUpdateServerHandsOverToTheNext) {
#ifdef BRIXA_FALLBACK_TEST_PORT
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  const std::string first = "127.0.0.1:" + std::to_string(BRIXA_FALLBACK_TEST_PORT);
  const test::Script unavailable = {
      test::Expect::LineBlock(),
      test::Send(
          "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")};
  const struct {
    const char* what;
    bool firstAnswers;  // a server on the first port answering 503, or none there
    bool secondServes;  // the usual server up with the release, or down
  } cases[] = {
      {"first refuses the connection", false, true},
      {"first answers 503", true, true},
      {"both fail", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The Windows test shares the usual server, started beside it, with every other test.
    if (OnWindows() && !c.secondServes) continue;
    std::optional<test::ScriptedServer> failing;
    if (c.firstAnswers)
      failing.emplace(unavailable, test::ScriptedServerOptions{.port = static_cast<std::uint16_t>(
                                                                   BRIXA_FALLBACK_TEST_PORT)});
    std::unique_ptr<UpdateServer> server;
    if (c.secondServes) {
      std::string whyNot;
      server = UpdateServer::Start(UpdateServerOptions{}, whyNot);
      if (!server) GTEST_SKIP() << whyNot;
      PublishRelease(*server, "v2");
    }
    ProductDir product("BrixaUpdaterFallback");
    product.SetLocalStamp("1");
    const ProgramResult run = product.Run();
    EXPECT_EQ(run.exitCode, 0);
    const std::string record = LastRecord(product);
    EXPECT_NE(record.find(first), std::string::npos) << "the first server's failure: " << record;
    if (c.firstAnswers) {
      EXPECT_GE(failing->Accepted(), 1u);
      EXPECT_NE(record.find("503"), std::string::npos) << record;
    }
    if (c.secondServes) {
      EXPECT_TRUE(product.WaitForMarker()) << run.stdErr << record;
      EXPECT_NE(record.find("installed"), std::string::npos) << record;
      EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 1);
    } else {
      EXPECT_NE(record.find("decision=failed"), std::string::npos) << record;
      EXPECT_NE(record.find(":" + std::to_string(test::BuiltInServer().port)), std::string::npos)
          << record;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      EXPECT_FALSE(product.Has(kMarker));
    }
  }
#else
  GTEST_SKIP() << "no fallback updater: openssl was missing at configure";
#endif
}

// The installer's redirects: to the same server the download follows and the log names the URL
// that served; to a port nobody named it does not go, and the manifest's mirror serves.
TEST_F(UpdaterEndToEnd, InstallerRedirectsGoOnlyWhereTheBuildAndManifestPoint) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  if (OnWindows()) GTEST_SKIP() << "needs an nginx configured by the test (Linux side)";
  const test::ScriptedServer elsewhere(
      test::Script{test::Expect::LineBlock(), test::Send("HTTP/1.1 404 Not Found\r\n\r\n")});
  const std::string base = "http://127.0.0.1:" + std::to_string(test::BuiltInServer().port);
  const struct {
    const char* what;
    std::string target;  // where /brixakit/update.exe redirects
    std::string servedBy;
  } cases[] = {
      {"the same server", "/brixakit/moved.exe", base + "/brixakit/moved.exe"},
      {"another port", "http://127.0.0.1:" + std::to_string(elsewhere.Port()) + "/x.exe",
       base + "/brixakit/mirror-update.exe"},
  };
  const std::string installer = InstallerBytes(8 * 1024);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    UpdateServerOptions redirecting;
    redirecting.extraLocations = "location = /brixakit/update.exe { return 302 " + c.target + "; }";
    SERVER_OR_SKIP(server, redirecting);
    PublishSigned(*server, installer, "100", {"--mirror", base + "/brixakit/mirror-update.exe"});
    server->Publish("moved.exe", installer);
    server->Publish("mirror-update.exe", installer);
    ProductDir product("BrixaUpdaterSigned");
    product.SetLocalStamp("1");
    (void)product.Run();
    EXPECT_TRUE(product.WaitForMarker()) << product.RunLog();
    EXPECT_NE(LastRecord(product).find("served by " + c.servedBy + ","), std::string::npos)
        << LastRecord(product);
  }
  EXPECT_EQ(elsewhere.Accepted(), 0u) << "the download went to a port nobody named";
}

// The first server, plain http, answers 503 with "Retry-After: 120": the run installs from the
// next and does not fetch the installer from the first; the answer could have come from anyone
// on the path, so the run after it asks the first server again.
TEST_F(UpdaterEndToEnd, APlainHttpServerAskingToWaitIsLeftAloneForItsRunOnly) {
#ifdef BRIXA_FALLBACK_TEST_PORT
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  // Its reason phrase is long and carries a line separator, NEL and a C1 CSI: none reaches the
  // log raw, and the deciding server's reason survives the line's cap.
  const std::string phrase =
      "Busy\xE2\x80\xA8"
      "decision=installed\xC2\x85\xC2\x9B"
      "2J" +
      std::string(600, 'x');
  const test::Script busyAnswer{test::Expect::LineBlock(),
                                test::Send("HTTP/1.1 503 " + phrase +
                                           "\r\nRetry-After: 120\r\n"
                                           "Content-Length: 0\r\nConnection: close\r\n\r\n")};
  const test::ScriptedServer busy(std::vector<test::Script>{busyAnswer, busyAnswer},
                                  {.port = static_cast<std::uint16_t>(BRIXA_FALLBACK_TEST_PORT)});
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  PublishRelease(*server, "v2");
  ProductDir product("BrixaUpdaterFallback");
  product.SetLocalStamp("1");
  for (int run = 1; run <= 2; ++run) {
    SCOPED_TRACE("run " + std::to_string(run));
    const ProgramResult result = product.Run();
    EXPECT_TRUE(product.WaitForMarker()) << result.stdErr << product.RunLog();
    fs::remove(product.Path(kMarker));
    const std::string record = LastRecord(product);
    EXPECT_NE(record.find("installed"), std::string::npos) << record;
    EXPECT_NE(record.find("reason=\"served by "), std::string::npos) << record;
    EXPECT_NE(record.find("earlier=\""), std::string::npos) << record;
    for (const char* raw : {"\xE2\x80\xA8", "\xC2\x85", "\xC2\x9B"}) {
      EXPECT_EQ(product.RunLog().find(raw), std::string::npos) << record;
    }
    EXPECT_EQ(busy.Accepted(), static_cast<std::size_t>(run)) << "one check a run, no download";
    EXPECT_EQ(server->Requests("GET", "/brixakit/version.ini"), run);
  }
#else
  GTEST_SKIP() << "no fallback updater: openssl was missing at configure";
#endif
}

// A download ended with the updater (killed while a slow server sends) is continued by the next
// run: nginx sends only the missing bytes, and the log says how many were reused.
TEST_F(UpdaterEndToEnd, ADownloadEndedWithTheUpdaterIsContinuedByTheNextRun) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  if (OnWindows()) GTEST_SKIP() << "needs a rate-limited nginx configured by the test (Linux side)";
  UpdateServerOptions slow;
  slow.rateBytesPerSecond = 128 * 1024;
  SERVER_OR_SKIP(server, slow);
  const std::string installer = InstallerBytes(768 * 1024);
  PublishSigned(*server, installer, "100");
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  const ProgramResult first = product.RunFor(2500);
  EXPECT_TRUE(first.timedOut);
  EXPECT_FALSE(product.Has(kMarker));
  const auto kept = static_cast<std::int64_t>(fs::file_size(product.Path(kTempExe)));
  ASSERT_GT(kept, 0);
  ASSERT_LT(kept, static_cast<std::int64_t>(installer.size()));
  ASSERT_TRUE(product.Has(std::string(kTempExe) + ".partial"));

  const ProgramResult second = product.Run();
  ASSERT_TRUE(product.WaitForMarker()) << second.stdErr << product.RunLog();
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
  EXPECT_TRUE(WaitFor([&] { return server->AccessLog().find("\" 206 ") != std::string::npos; },
                      kLogTimeoutMs));
  std::istringstream log(server->AccessLog());
  std::string last;
  for (std::string line; std::getline(log, line);) {
    if (line.find("\"GET /brixakit/update.exe ") != std::string::npos) last = line;
  }
  const std::string missing = std::to_string(static_cast<std::int64_t>(installer.size()) - kept);
  EXPECT_NE(last.find("\" 206 " + missing), std::string::npos) << last;
  EXPECT_NE(LastRecord(product).find(std::to_string(kept) + " bytes reused"), std::string::npos)
      << LastRecord(product);
}

// A partial installer an earlier run kept, with its identity (release and the server's entity
// tag), is continued: the one request for the installer is answered 206 with the missing bytes
// alone. Runs on both platforms against the plain server.
TEST_F(UpdaterEndToEnd, AKeptPartialInstallerIsContinuedWithOnlyTheMissingBytes) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes(256 * 1024);
  PublishSigned(*server, installer, "100");
  TIdHTTP http;
  http.SetReadTimeout(kProbeReadTimeoutMs);
  http.Head("http://127.0.0.1:" + std::to_string(test::BuiltInServer().port) +
            "/brixakit/update.exe");
  const std::string etag = RangeValidatorOf(http.LastResponse());
  ASSERT_FALSE(etag.empty());
  http.CloseConnection(true);
  // The test's own HEAD, once nginx has logged it; the updater sends none.
  ASSERT_TRUE(WaitFor([&] { return server->Requests("HEAD", "/brixakit/update.exe") == 1; },
                      kLogTimeoutMs));

  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  const std::size_t kept = installer.size() * 3 / 10;
  test::WriteFileText(product.Path(kTempExe), installer.substr(0, kept));
  // As the updater leaves it: readable by the user alone (a file others could change is never
  // continued, it is replaced).
  fs::permissions(product.Path(kTempExe), fs::perms::owner_read | fs::perms::owner_write);
  test::WriteFileText(product.Path(std::string(kTempExe) + ".partial"),
                      TPartialIdentity{100, Sha256Hex(installer), etag}.Serialize());
  const ProgramResult run = product.Run();
  ASSERT_TRUE(product.WaitForMarker()) << run.stdErr << product.RunLog();
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
  // nginx logs an answer once it is sent, which may be after the updater has read it.
  EXPECT_TRUE(
      WaitFor([&] { return server->Requests("GET", "/brixakit/update.exe") == 1; }, kLogTimeoutMs));
  EXPECT_EQ(server->Requests("HEAD", "/brixakit/update.exe"), 1);
  EXPECT_EQ(BytesSent(*server, "/brixakit/update.exe"),
            static_cast<std::int64_t>(installer.size() - kept));
  EXPECT_NE(LastRecord(product).find(std::to_string(kept) + " bytes reused"), std::string::npos)
      << LastRecord(product);
}

// Rollout=0 under a higher serial stops a release that was partly out: nothing is fetched.
TEST_F(UpdaterEndToEnd, TheRolloutKillSwitchStopsAReleaseEverywhere) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  const std::string installer = InstallerBytes();
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  PublishSigned(*server, installer, "200", {"--rollout", "0"});
  const ProgramResult run = product.Run();
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.stdErr, "");
  EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
  EXPECT_NE(LastRecord(product).find("held back"), std::string::npos) << LastRecord(product);
  const std::string state = test::ReadFileText(product.StateDir() + "/BrixaUpdater/state.ini");
  EXPECT_NE(state.find("RolloutBucket="), std::string::npos) << state;
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(product.Has(kMarker));
  // Back at 100 %, the same machine updates.
  PublishSigned(*server, installer, "201", {"--rollout", "100"});
  (void)product.Run();
  EXPECT_TRUE(product.WaitForMarker()) << product.RunLog();
}

#ifndef _WIN32
// One variable set for a scope, and put back as it was.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A 503 asking to wait, after a good check: kept for later runs only when the https server
// itself sent it. A plain-http answer, or a proxy's, could be anyone's: the next run asks again.
TEST_F(UpdaterEndToEnd, OnlyTheHttpsServerItselfCanDeferLaterChecks) {
  const std::string inTwoMinutes = [] {
    const std::time_t at = std::time(nullptr) + 120;
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", std::gmtime(&at));
    return std::string(text);
  }();
  const std::string proxy503 =
      "HTTP/1.1 503 Service Unavailable\r\nRetry-After: 86400\r\nContent-Length: 0\r\n\r\n";
  const struct {
    const char* what;
    bool tls;
    std::string retryAfter;
    bool viaProxy;  // a proxy answers the tunnel with the 503
    bool defers;
  } cases[] = {
      {"plain http asking for a day", false, "86400", false, false},
      {"https through a proxy that answers 503", true, "", true, false},
      {"https asking for a minute", true, "60", false, true},
      {"https asking until a date", true, inTwoMinutes, false, true},
      {"https without Retry-After", true, "", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string program = c.tls ? "BrixaUpdaterTls" : "BrixaUpdater";
    ProductDir product(program);
    product.SetLocalStamp("1");
    {  // the good check
      UpdateServerOptions up;
      up.tls = c.tls;
      SERVER_OR_SKIP(server, up);
      if (c.tls) {
        PublishRelease(*server, "v2");  // the https build takes signed releases only
      } else {
        server->Publish("version.ini", VersionFile("1"));
      }
      (void)product.Run();
      ASSERT_EQ(LastRecord(product).find("decision=refused"), std::string::npos)
          << product.RunLog();
    }
    UpdateServerOptions busy;
    busy.tls = c.tls;
    busy.extraLocations =
        "location = /brixakit/version.ini { " +
        (c.retryAfter.empty() ? std::string()
                              : "add_header Retry-After \"" + c.retryAfter + "\" always; ") +
        "return 503; }";
    SERVER_OR_SKIP(server, busy);
    const test::Script tunnel{test::Expect::LineBlock(), test::Send(proxy503)};
    const test::ScriptedServer proxy(std::vector<test::Script>{tunnel, tunnel});
    std::optional<ScopedVariable> environment;
    if (c.viaProxy) environment.emplace("https_proxy", "127.0.0.1:" + std::to_string(proxy.Port()));
    const auto asked = [&] {
      return c.viaProxy ? static_cast<int>(proxy.Accepted())
                        : server->Requests("HEAD", "/brixakit/version.ini");
    };
    (void)product.Run();
    EXPECT_EQ(asked(), 1) << product.RunLog();
    (void)product.Run();
    EXPECT_EQ(asked(), c.defers ? 1 : 2) << product.RunLog();
    if (c.defers) {
      EXPECT_NE(LastRecord(product).find("deferred"), std::string::npos) << LastRecord(product);
    }
  }
}

// Two runs of one user at once, the second started with other runtime and temp folders (a
// desktop run and a cron or su run): it finds the user's state locked and asks no server.
TEST_F(UpdaterEndToEnd, TwoRunsOfOneUserNeverGoAheadTogether) {
  const test::Script slowAnswer{
      test::Expect::LineBlock(), test::Pause(2500),
      test::Send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n")};
  const test::ScriptedServer server(
      std::vector<test::Script>{slowAnswer, slowAnswer},
      {.port = static_cast<std::uint16_t>(test::BuiltInServer().port)});
  ProductDir product;
  product.SetLocalStamp("1");
  std::thread first([&] { (void)product.Run(); });
  const bool firstAsked = WaitFor([&] { return server.Accepted() == 1; }, kLogTimeoutMs);
  if (firstAsked) {
    test::TempDir elsewhere;
    fs::permissions(elsewhere.Root(), fs::perms::owner_all, fs::perm_options::replace);
    const ScopedVariable runtime("XDG_RUNTIME_DIR", elsewhere.Root());
    const ScopedVariable temp("TMPDIR", elsewhere.Root());
    const ProgramResult second = product.Run();
    EXPECT_EQ(second.exitCode, 0) << second.stdErr;
  }
  first.join();
  ASSERT_TRUE(firstAsked) << "the first run never asked";
  EXPECT_EQ(server.Accepted(), 1u) << "the second run went ahead";
  EXPECT_NE(product.RunLog().find("503"), std::string::npos) << product.RunLog();
}
#endif

// The state file damaged as a crash leaves it: with a good previous copy that copy's floor
// holds (an older release is refused, a newer one installs) and the log says which copy was
// used; with none the signed build refuses rather than start over as a first run.
TEST_F(UpdaterEndToEnd, ADamagedStateFileFallsBackToItsPreviousCopyNeverToAFirstRun) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  const std::string floor300 =
      std::string(kStateFileHeader) + "[BrixaUpdater]\nHighestSerial=300\n" + kStateFileTrailer;
  const struct {
    const char* what;
    std::string current;
    std::optional<std::string> previous;
    const char* serial;
    bool installs;
    const char* logged;
  } cases[] = {
      {"empty", "", floor300, "250", false, "previous copy was used"},
      {"zeros", std::string(256, '\0'), floor300, "250", false, "previous copy was used"},
      {"truncated", floor300.substr(0, floor300.size() - 4), floor300, "250", false,
       "previous copy was used"},
      {"truncated, a newer release", floor300.substr(0, 30), floor300, "301", true,
       "previous copy was used"},
      {"empty, no previous copy", "", std::nullopt, "301", false, "damaged"},
  };
  const std::string installer = InstallerBytes(4096);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SERVER_OR_SKIP(server, UpdateServerOptions{});
    PublishSigned(*server, installer, c.serial);
    ProductDir product("BrixaUpdaterSigned");
    product.SetLocalStamp("1");
    const std::string state = product.StateDir() + "/BrixaUpdater/" + kStateFileName;
    fs::create_directories(product.StateDir() + "/BrixaUpdater");
    fs::permissions(product.StateDir() + "/BrixaUpdater", fs::perms::owner_all,
                    fs::perm_options::replace);
    test::WriteFileText(state, c.current);
    if (c.previous) test::WriteFileText(state + kPreviousStateSuffix, *c.previous);
    (void)product.Run();
    EXPECT_EQ(c.installs ? product.WaitForMarker() : product.Has(kMarker), c.installs)
        << product.RunLog();
    const std::string record = LastRecord(product);
    EXPECT_NE(record.find(c.installs ? "installed" : "refused"), std::string::npos) << record;
    EXPECT_NE(record.find(c.logged), std::string::npos) << record;
  }
}

}  // namespace
}  // namespace brixa::e2e
