// Signed releases end to end: what a server playing the attacker can serve (replays, mixed
// files, frozen or oversized ones) against updaters built with the tests' keys, key rotation,
// and https pinned to the CA the updater was built with.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "update/manifest/manifest.h"
#include "updater_fixture.h"

namespace brixa::e2e {
namespace {

// Over https the updater trusts the CA it was built with alone and never falls back to clear
// text: pinned to the CA that signed the server's certificate it installs; pinned to another
// it fetches nothing and ends quietly; a TLS stream cut in the installer is a download error.
// Under Wine the same runs go through the system's TLS (Schannel), on Linux through OpenSSL.
TEST_F(UpdaterEndToEnd, OverHttpsOnlyThePinnedCAIsTrusted) {
  if (!fs::exists(test::BuildTreePath("app/BrixaUpdaterTls" + test::ExecutableSuffix())) ||
      !HaveSignedReleases()) {
    GTEST_SKIP() << "no https test updaters: openssl was missing when the build was configured";
  }
  // The https updaters are signed: every signature comes over the pinned TLS too.
  const std::string installer = ReleaseFile("v2", "update.exe");
  const auto upstream = ShortInstallerUpstream();
  enum class Outcome { installed, nothingFetched, downloadError };
  const struct {
    const char* name;
    const char* program;
    std::string locations;
    Outcome outcome;
  } cases[] = {
      {"pinned CA", "BrixaUpdaterTls", "", Outcome::installed},
      {"another CA pinned", "BrixaUpdaterTlsUntrusting", "", Outcome::nothingFetched},
      {"installer cut short", "BrixaUpdaterTls",
       "location = /brixakit/update.exe { proxy_pass http://127.0.0.1:" +
           std::to_string(upstream->Port()) + "; proxy_buffering off; }",
       Outcome::downloadError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    // The Windows test has only the plain https server that was started beside it.
    if (OnWindows() && !c.locations.empty()) continue;
    UpdateServerOptions options;
    options.tls = true;
    options.extraLocations = c.locations;
    SERVER_OR_SKIP(server, options);
    ProductDir product(c.program);
    product.SetLocalStamp("1");
    PublishRelease(*server, "v2");

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    if (c.outcome == Outcome::installed) {
      ASSERT_TRUE(product.WaitForMarker()) << run.stdErr;
      EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), installer);
      EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 1);
      continue;
    }
    EXPECT_FALSE(product.Has(kTempExe));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(product.Has(kMarker));
    if (c.outcome == Outcome::nothingFetched) {
      EXPECT_EQ(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
      EXPECT_FALSE(product.Has(kTempVersion) &&
                   !test::ReadFileText(product.Path(kTempVersion)).empty());
      EXPECT_EQ(server->Requests("GET", "/brixakit/version.ini"), 0);
    } else {
      EXPECT_NE(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
    }
  }
}

enum class Signed { installed, refused, downloadError };

// Runs `product` against `release` on `server` and checks the outcome: installed (the marker
// appears), refused (nothing but the manifest and its signature fetched, nothing shown), or a
// download error (the installer fetched but never started). The marker is removed afterwards.
void ExpectSignedRun(const ProductDir& product, const UpdateServer& server,
                     const std::string& release, Signed outcome) {
  SCOPED_TRACE(release);
  PublishRelease(server, release);
  const int downloadsBefore = server.Requests("GET", "/brixakit/update.exe");
  const ProgramResult run = product.Run();
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_FALSE(product.Has(kTempVersion));
  switch (outcome) {
    case Signed::installed:
      EXPECT_TRUE(product.WaitForMarker()) << run.stdErr << product.RunLog();
      break;
    case Signed::refused:
      EXPECT_EQ(run.stdErr, "");  // no window, no message
      EXPECT_EQ(server.Requests("GET", "/brixakit/update.exe"), downloadsBefore);
      break;
    case Signed::downloadError:
      EXPECT_NE(run.stdErr.find(kDownloadError), std::string::npos) << run.stdErr;
      EXPECT_FALSE(product.Has(kTempExe));
      break;
  }
  if (outcome != Signed::installed) {
    // Started installers write their marker at once; give one that slipped through a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(product.Has(kMarker)) << "a refused installer ran";
  }
  fs::remove(product.Path(kMarker));
}

// The updater built with the tests' key against a server playing the attacker, in one product
// folder whose state carries over from run to run, as on a user's machine.
TEST_F(UpdaterEndToEnd, SignedReleasesCannotBeReplayedMixedOrFrozen) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  ExpectSignedRun(product, *server, "v2", Signed::installed);
  EXPECT_EQ(test::ReadFileText(product.Path(kTempExe)), ReleaseFile("v2", "update.exe"));
  product.SetLocalStamp("2");  // what the installer would have done

  const struct {
    const char* release;
    Signed outcome;
    const char* logged;  // in the run's log record
  } attacks[] = {
      {"v1", Signed::refused, "rollback"},         // the previous release, replayed as published
      {"lowserial", Signed::refused, "rollback"},  // a new stamp under a lower serial
      {"expired", Signed::refused, "expired"},     // a frozen manifest
      {"otherproduct", Signed::refused, "product"},
      {"foreign", Signed::refused, "signature"},
      {"crossfile", Signed::refused, "larger than"},  // the signed installer served as manifest
      {"nocontext", Signed::refused, "signature"},    // a signature over the bare file
      {"badhash", Signed::downloadError, "SHA-256"},
      {"padded", Signed::downloadError, "larger"},  // more bytes than the manifest's Size
  };
  for (const auto& attack : attacks) {
    ExpectSignedRun(product, *server, attack.release, attack.outcome);
    const std::string log = product.RunLog();
    const std::string last = log.substr(log.rfind('\n', log.size() - 2) + 1);
    EXPECT_NE(last.find(attack.logged), std::string::npos) << attack.release << ": " << last;
  }
  // A deliberate rollback: the old stamp under a higher serial installs.
  ExpectSignedRun(product, *server, "rollback", Signed::installed);
  const std::string log = product.RunLog();
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 11) << log;  // one record per run
}

// Sent without a length (chunked, so the HEAD announces nothing), an installer 32 MiB longer
// than the manifest's Size is cut off at Size: nginx logs what it sent before the updater
// closed, which is Size and what the sockets' buffers took, far from the whole file.
TEST_F(UpdaterEndToEnd, AnInstallerLongerThanItsSizeIsNotReadPastIt) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  if (OnWindows()) GTEST_SKIP() << "needs an nginx configured by the test (Linux side)";
  UpdateServerOptions chunked;
  chunked.extraLocations =
      "location = /brixakit/update.exe { sub_filter_types *; sub_filter '@@never@@' 'x'; }";
  SERVER_OR_SKIP(server, chunked);
  ProductDir product("BrixaUpdaterSigned");
  product.SetLocalStamp("1");
  ExpectSignedRun(product, *server, "padded", Signed::downloadError);
  const std::int64_t size = static_cast<std::int64_t>(ReleaseFile("v2", "update.exe").size());
  const std::int64_t served = static_cast<std::int64_t>(ReleaseFile("padded", "update.exe").size());
  const std::int64_t sent = BytesSent(*server, "/brixakit/update.exe");
  EXPECT_GE(sent, size);
  EXPECT_LT(sent, size + (16 << 20)) << "of " << served;
  EXPECT_NE(product.RunLog().find("larger than"), std::string::npos) << product.RunLog();
}

// A version file of 256 MiB, its length announced or sent chunked without one, to the plain
// and the signed updater: no more than the limit is kept, nothing is written beside the
// product, nothing else is fetched. nginx logs what it sent before the updater closed: the
// limit and what the sockets' buffers took, far from the whole file.
TEST_F(UpdaterEndToEnd, AHugeVersionFileLeavesNothingBehindAndIsNotReadToItsEnd) {
  constexpr std::uintmax_t kHugeVersionFile = std::uintmax_t{256} << 20;
  constexpr std::int64_t kSocketBuffers = std::int64_t{16} << 20;
  const struct {
    const char* program;
    bool chunked;
  } cases[] = {
      {"BrixaUpdater", false},
      {"BrixaUpdater", true},
      {"BrixaUpdaterSigned", false},
      {"BrixaUpdaterSigned", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + (c.chunked ? ", chunked" : ", with its length"));
    if (OnWindows() && c.chunked) continue;  // needs an nginx configured by the test
    if (std::string(c.program) != "BrixaUpdater" && !HaveSignedReleases()) continue;
    UpdateServerOptions options;
    if (c.chunked) {
      options.extraLocations =
          "location = /brixakit/version.ini { sub_filter_types *; sub_filter '@@never@@' 'x'; }";
    }
    SERVER_OR_SKIP(server, options);
    server->Publish("version.ini", VersionFile("2"));
    fs::resize_file(server->TreePath("version.ini"), kHugeVersionFile);  // sparse
    server->Publish("update.exe", InstallerBytes());
    ProductDir product(c.program);
    product.SetLocalStamp("1");

    const ProgramResult run = product.Run();
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.stdErr, "");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(product.Path(""))) {
      left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"BrixaUpdater" + test::ExecutableSuffix(), "state",
                                              "version.ini"}));
    EXPECT_NE(product.RunLog().find("larger than"), std::string::npos) << product.RunLog();
    // nginx writes its line once it finds the connection closed.
    EXPECT_TRUE(WaitFor([&] { return server->Requests("GET", "/brixakit/version.ini") == 1; },
                        kMarkerTimeoutMs));
    const std::int64_t sent = BytesSent(*server, "/brixakit/version.ini");
    EXPECT_LT(sent, kMaxManifestBytes + kSocketBuffers) << "of " << kHugeVersionFile;
    EXPECT_EQ(server->Requests("GET", "/brixakit/update.exe"), 0);
    fs::remove(server->TreePath("version.ini"));
  }
}

// A vendor rotates keys: an updater trusting the old key only, then one trusting both, then
// one trusting the new key only.
TEST_F(UpdaterEndToEnd, KeyRotationInThreeSteps) {
  if (!HaveSignedReleases()) GTEST_SKIP() << "no signed releases: openssl was missing at configure";
  SERVER_OR_SKIP(server, UpdateServerOptions{});
  {
    ProductDir oldKey("BrixaUpdaterSigned");
    oldKey.SetLocalStamp("1");
    ExpectSignedRun(oldKey, *server, "v2new", Signed::refused);
    ExpectSignedRun(oldKey, *server, "v2", Signed::installed);
  }
  for (const char* release : {"v2", "v2new"}) {
    ProductDir both("BrixaUpdaterRotating");
    both.SetLocalStamp("1");
    ExpectSignedRun(both, *server, release, Signed::installed);
  }
  ProductDir newKey("BrixaUpdaterNewKey");
  newKey.SetLocalStamp("1");
  ExpectSignedRun(newKey, *server, "v2", Signed::refused);
  ExpectSignedRun(newKey, *server, "v3new", Signed::installed);
}

}  // namespace
}  // namespace brixa::e2e
