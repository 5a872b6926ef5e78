// The whole update flow without a socket: the version check and the installer download over
// an in-memory repository, for releases signed in the test. An attacker who controls the
// server (or the link) may serve anything; nothing but the signed installer may ever come out
// ready for launch, and a kept part is kept only where it can be continued honestly.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "app/version_check.h"
#include "platform/crypto/signer.h"
#include "runtime/hash/hash_sha256.h"
#include "runtime/time/utc_time.h"
#include "support/memory_repository.h"
#include "support/temp_dir.h"
#include "update/delivery/installer_download.h"
#include "update/manifest/release_keys.h"
#include "update/manifest/rollout.h"
#include "update/state/delivery_state.h"
#include "update/state/state_file.h"

namespace brixa::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kDay = 24 * 60 * 60;
const std::string kServer = "u";
const std::string kMirror = "http://m/update.exe";
const std::string kLocalStamp = "1";

const TSigningKeyPair& VendorKey() {
  static const TSigningKeyPair key = GenerateSigningKeyPair();
  return key;
}
const TSigningKeyPair& ForeignKey() {
  static const TSigningKeyPair key = GenerateSigningKeyPair();
  return key;
}

std::string SignManifest(const std::string& bytes, const std::string& privateKeyPem) {
  TSigner signer(privateKeyPem);
  signer.Update(kManifestSignatureContext.data(), kManifestSignatureContext.size());
  signer.Update(bytes.data(), bytes.size());
  return signer.Sign();
}

std::string Sha256Of(const std::string& bytes) {
  TIdHashSHA256 hash;
  return DigestToHex(hash.HashBytes(bytes.data(), bytes.size()), false);
}

// A stand-in installer: bytes that differ at every offset, so no misplaced byte hashes right.
std::string InstallerBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t n = 0; n < size; ++n) bytes[n] = static_cast<char>((n * 167 + seed) % 251);
  return bytes;
}

// What the vendor publishes: the manifest as the release tool writes it, and its signature.
struct Release {
  std::string stamp = "2";
  std::string product = kUpdaterName;
  std::uint64_t serial = 200;
  std::int64_t expires = UtcNowSeconds() + 30 * kDay;
  std::string installer = InstallerBytes(300, 1);
  std::vector<std::string> mirrors = {kMirror};
  std::int32_t rollout = kFullRollout;
  std::string signingKey = VendorKey().PrivateKeyPem;

  [[nodiscard]] std::string Manifest() const {
    std::string text = "[Updater]\r\nVersion=" + stamp + "\r\nProduct=" + product +
                       "\r\nSerial=" + std::to_string(serial) +
                       "\r\nExpires=" + FormatUtcTime(expires) +
                       "\r\nSize=" + std::to_string(installer.size()) +
                       "\r\nSHA256=" + Sha256Of(installer) + "\r\n";
    for (std::size_t n = 0; n < mirrors.size(); ++n) {
      text += "Mirror" + std::to_string(n + 1) + "=" + mirrors[n] + "\r\n";
    }
    if (rollout != kFullRollout) text += "Rollout=" + std::to_string(rollout) + "\r\n";
    return text;
  }
};

// How one run ended.
struct RunResult {
  TRunOutcome outcome = TRunOutcome::roNone;
  std::string reason;
  std::unique_ptr<TPrivateFile> launchable;  // what would be started; null: nothing
  std::string note;                          // the log's delivery note
};

// One installation of the product, and the server it asks.
class Installation {
 public:
  explicit Installation(const std::string& server = kServer)
      : versionUrl(UpdateServerUrl(server, kVersionFilePath)),
        installerUrl(UpdateServerUrl(server, kInstallerPath)) {
    WriteFileText(files_.LocalVersionFile, "[Updater]\r\nVersion=" + kLocalStamp + "\r\n");
  }

  MemoryRepository repo;
  const std::string versionUrl;
  const std::string installerUrl;

  void Publish(const Release& release) {
    const std::string manifest = release.Manifest();
    repo.Put(versionUrl, {manifest});
    repo.Put(versionUrl + kSignatureSuffix, {SignManifest(manifest, release.signingKey)});
    repo.Put(installerUrl, {release.installer, "\"i1\""});
    // Mirrors copy the file with its validator, so a part continues on any of them.
    repo.Put(kMirror, {release.installer, "\"i1\""});
  }

  // The check, then (when it found an update) the download into the installer's file.
  RunResult Run() {
    RunResult result;
    const TUpdaterTrust trust{{VendorKey().PublicKeyPem}, kUpdaterName};
    const TUpdateCheck check = CheckForUpdate(repo.Factory(), versionUrl, files_, trust);
    result.outcome = check.Record.Decision;
    result.reason = check.Record.Reason;
    if (!check.UpdateAvailable) return result;
    const auto fetcher = repo.Factory()(TFetchPurpose::fpInstaller, kNoDeadline);
    std::vector<std::string> urls{installerUrl};
    urls.insert(urls.end(), check.Mirrors.begin(), check.Mirrors.end());
    const TInstallerRelease release{check.Serial, check.ExpectedSize, check.ExpectedSha256};
    TInstallerDownload::RemoveLeftover(InstallerFile(), release);
    TInstallerDownload download(*fetcher, release, InstallerFile(), urls);
    download.Pause = [](std::uint32_t) {};
    try {
      result.launchable = download.Run();
    } catch (const EUpdateError& error) {
      result.outcome = TRunOutcome::roFailed;
      result.reason = error.Message();
    }
    result.note = download.DeliveryNote();
    return result;
  }

  [[nodiscard]] std::string InstallerFile() const { return dir_.Path("brixaupdatetemp.exe"); }
  [[nodiscard]] std::string StateFile() const { return files_.StateDirectory + kStateFileName; }
  // The part's bytes, private as the updater keeps them (anything else is not continued).
  void KeepBytes(const std::string& bytes) {
    WriteFileText(InstallerFile(), bytes);
    fs::permissions(InstallerFile(), fs::perms::owner_read | fs::perms::owner_write);
  }
  [[nodiscard]] bool PartialKept() const {
    return fs::exists(InstallerFile()) && fs::exists(InstallerFile() + kPartialIdentitySuffix);
  }
  // Leaves what an earlier run cut off after `bytes`: the part and its identity.
  void KeepPart(const Release& release, std::size_t bytes, const std::string& validator) {
    KeepBytes(release.installer.substr(0, bytes));
    const TPartialIdentity identity{release.serial, Sha256Of(release.installer), validator};
    WriteFileText(InstallerFile() + kPartialIdentitySuffix, identity.Serialize());
  }

 private:
  TempDir dir_;
  TVersionCheckFiles files_{dir_.Path("version.ini"), dir_.Path("")};
};

std::string Contents(TPrivateFile& file) {
  file.SetPosition(0);
  std::string bytes(static_cast<std::size_t>(file.Size()), '\0');
  file.ReadBuffer(bytes.data(), file.Size());
  return bytes;
}

TEST(UpdateFlow, EveryAttackEndsWithNothingToLaunch) {
  enum class Part { kNone, kKept, kDiscarded };
  const struct {
    const char* what;
    std::function<void(Release&)> release;  // the release as published (default: all well)
    std::function<void(Installation&, const Release&)> attack;  // after publishing
    TRunOutcome outcome;
    Part part;  // what becomes of the installer's file
    std::size_t partBytes = 0;
  } cases[] = {
      {"a replayed older serial",
       {},
       [](Installation& at, const Release&) {
         TStateLoad how;
         TUpdateState state = TUpdateState::Load(at.StateFile(), kUpdaterName, how);
         state.SetHighestSerial(201);
         state.Save();
       },
       TRunOutcome::roRefused,
       Part::kNone},
      {"an expired manifest",
       [](Release& r) { r.expires = UtcNowSeconds() - kDay; },
       {},
       TRunOutcome::roRefused,
       Part::kNone},
      {"a foreign product",
       [](Release& r) { r.product = "OtherProduct"; },
       {},
       TRunOutcome::roRefused,
       Part::kNone},
      {"a signature by another key",
       [](Release& r) { r.signingKey = ForeignKey().PrivateKeyPem; },
       {},
       TRunOutcome::roRefused,
       Part::kNone},
      {"a manifest changed after signing",
       {},
       [](Installation& at, const Release&) { at.repo.File(at.versionUrl).Body[12] ^= 1; },
       TRunOutcome::roRefused,
       Part::kNone},
      {"the installer's bytes signed as the manifest",
       {},
       [](Installation& at, const Release& r) {
         at.repo.File(at.versionUrl).Body = r.installer;
         at.repo.File(at.versionUrl + kSignatureSuffix).Body =
             SignManifest(r.installer, r.signingKey);
       },
       TRunOutcome::roRefused,
       Part::kNone},
      {"a release stopped by its rollout",
       [](Release& r) { r.rollout = 0; },
       {},
       TRunOutcome::roHeldBack,
       Part::kNone},
      {"a server that asked to be left alone is not asked",
       {},
       [](Installation& at, const Release&) {
         TStateLoad how;
         TUpdateState state = TUpdateState::Load(at.StateFile(), kUpdaterName, how);
         KeepGoodCheck(state, UtcNowSeconds() - kDay);
         KeepBackOff(state, UtcNowSeconds() + kDay / 2);
         state.Save();
       },
       TRunOutcome::roDeferred,
       Part::kNone},
      {"a damaged state file",
       {},
       [](Installation& at, const Release&) {
         WriteFileText(at.StateFile(), "not a state file\r\n");
       },
       TRunOutcome::roRefused,
       Part::kNone},
      {"a refused release leaves an earlier part alone",
       {},
       [](Installation& at, const Release& r) {
         at.KeepPart(r, 100, "\"i1\"");
         at.repo.Remove(at.versionUrl + kSignatureSuffix);
       },
       TRunOutcome::roRefused,
       Part::kKept,
       100},
      {"a mirror serving another file",
       [](Release& r) { r.mirrors.push_back("http://n/update.exe"); },
       [](Installation& at, const Release& r) {
         at.repo.File(at.installerUrl).Status = 404;
         at.repo.Put("http://other/update.exe", {InstallerBytes(r.installer.size(), 2), "\"o\""});
         at.repo.AddFault(kMirror, RepoFault::Serve("http://other/update.exe"));
         at.repo.Put("http://n/update.exe", {r.installer + "tail", "\"n\""});
       },
       TRunOutcome::roFailed, Part::kDiscarded},
      {"a 200 instead of a 206 drops the kept part",
       {},
       [](Installation& at, const Release& r) {
         at.KeepPart(r, 200, "\"i1\"");
         at.repo.File(at.installerUrl).Ranges = false;
         at.repo.AddFault(at.installerUrl, RepoFault::Cut(50));
         at.repo.Remove(kMirror);
       },
       TRunOutcome::roFailed,
       Part::kKept,
       50},
      {"a server that always cuts leaves a part to continue",
       {},
       [](Installation& at, const Release&) {
         at.repo.AddFault(at.installerUrl, RepoFault::CutAt(120));
         at.repo.AddFault(kMirror, RepoFault::CutAt(120));
       },
       TRunOutcome::roFailed,
       Part::kKept,
       120},
      {"a part of an older release is not continued",
       {},
       [](Installation& at, const Release& r) {
         Release older = r;
         older.serial = 100;
         older.installer = InstallerBytes(older.installer.size(), 9);
         at.KeepPart(older, 100, "\"i1\"");
         at.repo.AddFault(at.installerUrl, RepoFault::CutAt(30));
         at.repo.AddFault(kMirror, RepoFault::CutAt(30));
       },
       TRunOutcome::roFailed,
       Part::kKept,
       30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installation at;
    Release release;
    if (c.release) c.release(release);
    at.Publish(release);
    if (c.attack) c.attack(at, release);
    const RunResult run = at.Run();
    EXPECT_EQ(run.outcome, c.outcome) << run.reason;
    EXPECT_EQ(run.launchable, nullptr);
    if (c.outcome != TRunOutcome::roFailed) {
      EXPECT_TRUE(at.repo.Requests(at.installerUrl).empty()) << "nothing past the manifest";
    }
    if (c.outcome == TRunOutcome::roDeferred) {
      EXPECT_TRUE(at.repo.Requests(at.versionUrl).empty()) << "no request at all";
    }
    EXPECT_EQ(at.PartialKept(), c.part == Part::kKept);
    if (c.part == Part::kDiscarded) {
      EXPECT_FALSE(fs::exists(at.InstallerFile()));
      EXPECT_FALSE(fs::exists(at.InstallerFile() + kPartialIdentitySuffix));
    }
    if (c.part == Part::kKept) {
      EXPECT_EQ(ReadFileText(at.InstallerFile()), release.installer.substr(0, c.partBytes));
    }
  }
}

// Attacks on what one run leaves for the next (the back-off, the kept part) and on where the
// installer comes from: each ends, on the run after the attack, with the signed release
// launched or rightly not asked for.
TEST(UpdateFlow, WhatOneRunLeavesCannotStopOrPoisonTheNext) {
  const std::string https = "https://u";
  const auto answer503 = [](Installation& at) {
    at.repo.File(at.versionUrl).Status = 503;
    at.repo.File(at.versionUrl).RetryAfter = "86400";
    const RunResult run = at.Run();
    EXPECT_EQ(run.outcome, TRunOutcome::roFailed) << run.reason;
  };
  const auto keepState = [](Installation& at, std::int64_t goodAgo, bool backOff) {
    TStateLoad how;
    TUpdateState state = TUpdateState::Load(at.StateFile(), kUpdaterName, how);
    KeepGoodCheck(state, UtcNowSeconds() - goodAgo);
    if (backOff) KeepBackOff(state, UtcNowSeconds() + kDay / 2);
    state.Save();
  };
  const struct {
    const char* what;
    std::string server;
    std::function<void(Installation&)> earlier;  // runs and state before the release is whole
    std::function<void(Installation&, const Release&)> attack;  // standing during the run
    TRunOutcome outcome;
    std::function<void(Installation&, const RunResult&)> check = {};
  } cases[] = {
      {"a plain-http 503 asking for a day holds for its run alone",
       kServer,
       answer503,
       {},
       TRunOutcome::roUpdate},
      {"an https 503 before any good check is not kept",
       https,
       answer503,
       {},
       TRunOutcome::roUpdate},
      {"an https 503 after a good check defers the next run",
       https,
       [&](Installation& at) {
         keepState(at, 60, false);
         at.repo.ClearLog();
         answer503(at);
       },
       {},
       TRunOutcome::roDeferred,
       [](Installation& at, const RunResult&) {
         EXPECT_EQ(at.repo.Requests(at.versionUrl, "HEAD").size(), 1u) << "the 503 run alone";
       }},
      {"a back-off kept past the trust age is not obeyed",
       https,
       [&](Installation& at) { keepState(at, kBackOffTrustSeconds + 60, true); },
       {},
       TRunOutcome::roUpdate},
      {"attacker bytes kept under the server's validator are fetched again from byte 0",
       kServer,
       {},
       [](Installation& at, const Release& r) {
         at.KeepPart(r, 100, "\"i1\"");
         at.KeepBytes(InstallerBytes(100, 7));
         at.repo.Remove(kMirror);
       },
       TRunOutcome::roUpdate,
       [](Installation& at, const RunResult&) {
         const auto gets = at.repo.Requests(at.installerUrl);
         ASSERT_EQ(gets.size(), 2u);
         EXPECT_EQ(gets[0].Range, "100-");
         EXPECT_EQ(gets[1].Range, "");
       }},
      {"a redirect to a host nobody named is refused, the mirror serves",
       kServer,
       {},
       [](Installation& at, const Release&) {
         at.repo.File(at.installerUrl).Status = 302;
         at.repo.File(at.installerUrl).Location = "http://10.0.0.1:8080/x";
       },
       TRunOutcome::roUpdate,
       [](Installation& at, const RunResult& run) {
         EXPECT_NE(run.note.find("served by " + kMirror), std::string::npos) << run.note;
         EXPECT_TRUE(at.repo.Requests("http://10.0.0.1:8080/x").empty());
       }},
      {"a redirect to https of the same host is followed and named",
       kServer,
       {},
       [](Installation& at, const Release& r) {
         at.repo.File(at.installerUrl).Status = 302;
         at.repo.File(at.installerUrl).Location = "https://u/moved.exe";
         at.repo.Put("https://u/moved.exe", {r.installer, "\"i1\""});
       },
       TRunOutcome::roUpdate,
       [](Installation&, const RunResult& run) {
         EXPECT_NE(run.note.find("served by https://u/moved.exe"), std::string::npos) << run.note;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Installation at(c.server);
    Release release;
    at.Publish(release);
    if (c.earlier) c.earlier(at);
    at.Publish(release);
    if (c.attack) c.attack(at, release);
    const RunResult run = at.Run();
    EXPECT_EQ(run.outcome, c.outcome) << run.reason;
    EXPECT_EQ(run.launchable != nullptr, c.outcome == TRunOutcome::roUpdate);
    if (run.launchable) {
      EXPECT_EQ(Contents(*run.launchable), release.installer);
    }
    if (c.check) c.check(at, run);
  }
}

// The release as published, cut at every offset of its manifest, its signature and its
// installer, by the link (EIdConnClosedGracefully) or on the server (a shorter file): never
// accepted. Whole, it is.
TEST(UpdateFlow, NothingCutIsEverAcceptedAndTheWholeReleaseIs) {
  const Release release;
  {
    Installation whole;
    whole.Publish(release);
    const RunResult run = whole.Run();
    EXPECT_EQ(run.outcome, TRunOutcome::roUpdate) << run.reason;
    ASSERT_NE(run.launchable, nullptr);
    EXPECT_EQ(Contents(*run.launchable), release.installer);
    EXPECT_FALSE(fs::exists(whole.InstallerFile() + kPartialIdentitySuffix));
  }
  Installation reference;
  reference.Publish(release);
  for (const std::string& url :
       {reference.versionUrl, reference.versionUrl + std::string(kSignatureSuffix)}) {
    const std::string whole = reference.repo.File(url).Body;
    for (std::size_t at = 0; at < whole.size(); ++at) {
      for (const bool onServer : {false, true}) {
        SCOPED_TRACE(url + " cut at " + std::to_string(at) + (onServer ? " on the server" : ""));
        Installation cut;
        cut.Publish(release);
        cut.repo.File(url).Body = whole;  // a signature made anew would differ in length
        if (onServer) {
          cut.repo.File(url).Body.resize(at);
        } else {
          cut.repo.AddFault(url, RepoFault::Cut(static_cast<std::int64_t>(at)));
        }
        const RunResult run = cut.Run();
        EXPECT_TRUE(run.outcome == TRunOutcome::roFailed || run.outcome == TRunOutcome::roRefused)
            << RunOutcomeName(run.outcome);
        EXPECT_EQ(run.launchable, nullptr);
        EXPECT_TRUE(cut.repo.Requests(cut.installerUrl).empty());
      }
    }
  }
}

TEST(UpdateFlow, AnInstallerCutAnywhereIsNotLaunchedAndTheNextRunContinuesIt) {
  const Release release;
  for (std::size_t at = 0; at < release.installer.size(); ++at) {
    SCOPED_TRACE("cut at " + std::to_string(at));
    Installation installation;
    installation.Publish(release);
    for (const std::string& url : {installation.installerUrl, kMirror}) {
      installation.repo.AddFault(url, RepoFault::CutAt(static_cast<std::int64_t>(at)));
    }
    const RunResult first = installation.Run();
    EXPECT_EQ(first.outcome, TRunOutcome::roFailed);
    EXPECT_EQ(first.launchable, nullptr);
    EXPECT_EQ(installation.PartialKept(), at > 0);

    installation.repo.ClearFaults();
    installation.repo.ClearLog();
    const RunResult second = installation.Run();
    EXPECT_EQ(second.outcome, TRunOutcome::roUpdate) << second.reason;
    ASSERT_NE(second.launchable, nullptr);
    EXPECT_EQ(Contents(*second.launchable), release.installer);
    const auto gets = installation.repo.Requests(installation.installerUrl);
    ASSERT_EQ(gets.size(), 1u);
    EXPECT_EQ(gets[0].Range, at > 0 ? std::to_string(at) + "-" : "");
    EXPECT_NE(second.note.find(std::to_string(at) + " bytes reused"), std::string::npos)
        << second.note;
  }
}

}  // namespace
}  // namespace brixa::test
