// brixa-release end to end in this process: keys made, releases signed, re-signed and checked
// with the updater's own code, and the releases the openssl recipe made accepted alike.
#include "tools/brixa_release/release_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/process/command_line.h"
#include "support/peers/peer_process.h"
#include "support/temp_dir.h"
#include "update/manifest/delivery_keys.h"
#include "update/manifest/installer_keys.h"
#include "update/manifest/manifest.h"

namespace brixa::release {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int code;
  std::string out;
  std::string err;
};

ToolRun Tool(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  const int code = RunReleaseTool(arguments, out, err);
  return {code, out.str(), err.str()};
}

TEST(ReleaseTool, KeygenSignVerifyAndResign) {
  test::TempDir dir;
  const std::string key = dir.Path("private.pem");
  const std::string pub = dir.Path("public.pem");
  const std::string installer = dir.Path("setup.bin");
  const std::string release = dir.Path("release");
  test::WriteFileText(installer, std::string(5000, 'i'));
  ASSERT_EQ(Tool({"keygen", key, pub}).code, kExitOk);
  EXPECT_EQ(Tool({"keygen", key, pub}).code, kExitUsage) << "a key is never overwritten";

  const ToolRun sign = Tool({"sign", "--key", key, "--stamp", "2024.06.1", "--serial", "41",
                             "--valid-days", "10", installer, release});
  ASSERT_EQ(sign.code, kExitOk) << sign.err;
  const std::string manifest = test::ReadFileText(release + "/version.ini");
  const TManifest parsed = ParseManifest(manifest);
  EXPECT_EQ(parsed.Stamp, "2024.06.1");
  EXPECT_EQ(parsed.Serial, 41u);
  EXPECT_EQ(parsed.Size, 5000);
  EXPECT_EQ(test::ReadFileText(release + "/update.exe"), std::string(5000, 'i'));

  const ToolRun good = Tool({"verify", "--key", pub, release});
  EXPECT_EQ(good.code, kExitOk) << good.err;
  EXPECT_NE(good.out.find("note: it expires in"), std::string::npos) << "10 days < 14";

  const struct {
    const char* what;
    std::vector<std::string> arguments;
    const char* reason;
  } refused[] = {
      {"another product", {"verify", "--key", pub, "--product", "Other", release}, "product"},
      {"later than its expiry",
       {"verify", "--key", pub, "--now", "2099-01-01T00:00:00Z", release},
       "expired"},
      {"an older serial than seen",
       {"verify", "--key", pub, "--min-serial", "42", release},
       "rollback"},
  };
  for (const auto& c : refused) {
    const ToolRun run = Tool(c.arguments);
    EXPECT_EQ(run.code, kExitRefused) << c.what;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.what << ": " << run.err;
  }

  // Re-signing keeps the release and moves serial and expiry on.
  EXPECT_EQ(Tool({"resign", "--key", key, "--serial", "41", release}).code, kExitUsage);
  ASSERT_EQ(Tool({"resign", "--key", key, "--serial", "42", release}).code, kExitOk);
  const TManifest resigned = ParseManifest(test::ReadFileText(release + "/version.ini"));
  EXPECT_EQ(resigned.Serial, 42u);
  EXPECT_GT(resigned.Expires, parsed.Expires);
  EXPECT_EQ(resigned.Sha256, parsed.Sha256);
  EXPECT_EQ(Tool({"verify", "--key", pub, "--min-serial", "42", release}).code, kExitOk);

  // An installer changed after signing.
  test::WriteFileText(release + "/update.exe", std::string(5000, 'j'));
  const ToolRun changed = Tool({"verify", "--key", pub, release});
  EXPECT_EQ(changed.code, kExitRefused);
  EXPECT_NE(changed.err.find("SHA-256"), std::string::npos) << changed.err;
  EXPECT_EQ(Tool({"resign", "--key", key, release}).code, kExitRefused);
}

TEST(ReleaseTool, UsageErrorsAndHelp) {
  EXPECT_EQ(Tool({}).code, kExitUsage);
  const ToolRun help = Tool({"--help"});
  EXPECT_EQ(help.code, kExitOk);
  EXPECT_NE(help.out.find("exit codes"), std::string::npos);
  const std::vector<std::string> wrong[] = {
      {"publish"},
      {"sign", "--key", "k.pem", "setup.exe", "out"},  // no --stamp
      {"sign", "--key", "k.pem", "--stamp", "a\nb", "setup.exe", "out"},
      {"sign", "--key", "k.pem", "--stamp", "12345678901234567890", "setup.exe", "out"},
      {"sign", "--key", "k.pem", "--stamp", "1", "--valid-days", "0", "setup.exe", "out"},
      {"sign", "--key", "k.pem", "--stamp", "1", "--expires", "tomorrow", "setup.exe", "out"},
      {"sign", "--key", "k.pem", "--stamp", "1", "--product", "two words", "setup.exe", "out"},
      {"verify", "dir"},  // no --key
      {"verify", "--key"},
      {"keygen", "only-one.pem"},
  };
  for (const auto& arguments : wrong) {
    const ToolRun run = Tool(arguments);
    EXPECT_EQ(run.code, kExitUsage) << arguments[0] << " " << run.err;
    EXPECT_NE(run.err.find("brixa-release: "), std::string::npos);
  }
}

// The releases the tests' openssl recipe made (tests/e2e/sign_fixtures.sh) pass the same check.
TEST(ReleaseTool, AcceptsReleasesSignedByTheOpensslRecipe) {
  const std::string pub = test::BuildTreePath("test-update-key/public.pem");
  const std::string release = test::BuildTreePath("test-releases/v2");
  if (!fs::exists(release + "/version.ini.sig")) GTEST_SKIP() << "no signed releases";
  const ToolRun run = Tool({"verify", "--key", pub, release});
  EXPECT_EQ(run.code, kExitOk) << run.err;
  EXPECT_EQ(Tool({"verify", "--key", pub, test::BuildTreePath("test-releases/nocontext")}).code,
            kExitRefused);
}

// The delivery keys: mirrors and rollout written, kept through a re-sign, changed by it (the
// kill switch), checked by verify, and refused when the updater would refuse them.
TEST(ReleaseToolDelivery, MirrorsAndRolloutAreSignedKeptAndVerified) {
  test::TempDir dir;
  const std::string key = dir.Path("private.pem");
  const std::string pub = dir.Path("public.pem");
  const std::string installer = dir.Path("setup.bin");
  const std::string release = dir.Path("release");
  test::WriteFileText(installer, std::string(3000, 'i'));
  ASSERT_EQ(Tool({"keygen", key, pub}).code, kExitOk);
  const ToolRun sign = Tool({"sign", "--key", key, "--stamp", "2", "--serial", "10", "--mirror",
                             "https://m1.example/u.exe", "--mirror", "http://m2.example:81/u.exe",
                             "--rollout", "10", installer, release});
  ASSERT_EQ(sign.code, kExitOk) << sign.err;
  const auto signedKeys = ParseDeliveryKeys(test::ReadFileText(release + "/version.ini"));
  EXPECT_EQ(signedKeys.Mirrors,
            (std::vector<std::string>{"https://m1.example/u.exe", "http://m2.example:81/u.exe"}));
  EXPECT_EQ(signedKeys.Rollout, 10);
  const ToolRun verify = Tool({"verify", "--key", pub, release});
  EXPECT_EQ(verify.code, kExitOk) << verify.err;
  EXPECT_NE(verify.out.find("Rollout=10"), std::string::npos) << verify.out;
  EXPECT_NE(verify.out.find("mirror 2: http://m2.example:81/u.exe"), std::string::npos);

  // The kill switch: the same release at 0 % under a higher serial, mirrors kept.
  const ToolRun stop = Tool({"resign", "--key", key, "--serial", "11", "--rollout", "0", release});
  ASSERT_EQ(stop.code, kExitOk) << stop.err;
  const std::string stopped = test::ReadFileText(release + "/version.ini");
  EXPECT_EQ(ParseManifest(stopped).Serial, 11u);
  EXPECT_EQ(ParseDeliveryKeys(stopped).Rollout, 0);
  EXPECT_EQ(ParseDeliveryKeys(stopped).Mirrors, signedKeys.Mirrors);
  EXPECT_EQ(Tool({"verify", "--key", pub, release}).code, kExitOk);

  const std::vector<std::string> bad[] = {
      {"--rollout", "101"},
      {"--rollout", "ten"},
      {"--mirror", "ftp://m/u.exe"},
      {"--mirror", "http://m/u.exe\r\nSHA256=" + std::string(64, '0')},
      {"--mirror", "http://m/a b"},
      {"--publisher", std::string(63, 'a')},
      {"--arguments", "/S\r\nSHA256=" + std::string(64, '0')},
      {"--arguments", std::string(kMaxLaunchArgumentsBytes + 1, 'x')},
  };
  for (const auto& extra : bad) {
    std::vector<std::string> arguments = {"sign", "--key", key, "--stamp", "3"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    arguments.push_back(installer);
    arguments.push_back(dir.Path("other"));
    EXPECT_EQ(Tool(arguments).code, kExitUsage) << extra.back();
  }
  std::vector<std::string> nine = {"sign", "--key", key, "--stamp", "3"};
  for (int n = 0; n <= static_cast<int>(kMaxMirrors); ++n) {
    nine.insert(nine.end(), {"--mirror", "http://m" + std::to_string(n) + "/u.exe"});
  }
  nine.insert(nine.end(), {installer, dir.Path("nine")});
  EXPECT_EQ(Tool(nine).code, kExitUsage);
}

// Publishers as openssl prints them and arguments with quotes of their own: signed, kept by a
// re-signing, shown by verify; and the fingerprint of a signed program file read from its bytes.
TEST(ReleaseToolInstaller, PublishersAndArgumentsAreSignedKeptAndShown) {
  test::TempDir dir;
  const std::string key = dir.Path("private.pem");
  const std::string pub = dir.Path("public.pem");
  const std::string installer = dir.Path("setup.bin");
  const std::string release = dir.Path("release");
  test::WriteFileText(installer, std::string(3000, 'i'));
  ASSERT_EQ(Tool({"keygen", key, pub}).code, kExitOk);
  const std::string arguments = "/S \"/D=C:\\Program Files\\App\" 'x'";
  const std::string colons = "sha256 Fingerprint=" + [] {
    std::string pairs;
    for (int i = 0; i < 32; ++i) pairs += (i ? ":" : "") + std::string("0A");
    return pairs;
  }();
  ASSERT_EQ(
      Tool({"sign", "--key", key, "--stamp", "2", "--serial", "10", "--publisher", colons,
            "--publisher", std::string(64, 'B'), "--arguments", arguments, installer, release})
          .code,
      kExitOk);
  ASSERT_EQ(Tool({"resign", "--key", key, "--serial", "11", release}).code, kExitOk);
  const TInstallerKeys keys = ParseInstallerKeys(test::ReadFileText(release + "/version.ini"));
  std::string digits;
  for (int i = 0; i < 32; ++i) digits += "0a";
  EXPECT_EQ(keys.Publishers, (std::vector<std::string>{digits, std::string(64, 'b')}));
  EXPECT_EQ(keys.Arguments, arguments);
  const ToolRun verify = Tool({"verify", "--key", pub, release});
  EXPECT_EQ(verify.code, kExitOk) << verify.err;
  EXPECT_NE(verify.out.find("publisher 1: " + digits + "\npublisher 2: " + std::string(64, 'b') +
                            "\narguments: " + arguments + "\n"),
            std::string::npos)
      << verify.out;

  const std::string fixtures = test::BuildTreePath("test-code-signing/");
  const std::string openssl = test::ReadFileText(fixtures + "publisher-b.fingerprint");
  if (openssl.empty()) GTEST_SKIP() << "no signed fixtures: needs osslsigncode";
  const ToolRun found = Tool({"fingerprint", fixtures + "signed-b.exe"});
  EXPECT_EQ(found.code, kExitOk) << found.err;
  EXPECT_EQ(found.out, *ParsePublisherFingerprint(openssl.substr(0, openssl.find('\n'))) + "\n");
  EXPECT_EQ(Tool({"fingerprint", fixtures + "unsigned.exe"}).code, kExitRefused);
}

enum class Plant { kNothing, kSymlink, kHardLink };
enum class Folder { kPrivate, kGroupWritable, kWorldWritable, kOfAnotherUser };

// Gives `folder` the row's owner and mode; false when this platform or user cannot.
bool MakeFolder([[maybe_unused]] const std::string& folder, Folder kind) {
#ifdef _WIN32
  return kind == Folder::kPrivate;
#else
  const fs::perms mode[] = {fs::perms::owner_all, fs::perms::owner_all | fs::perms::group_all,
                            fs::perms::all, fs::perms::owner_all};
  fs::permissions(folder, mode[static_cast<int>(kind)]);
  // nobody: only the superuser can give a folder away.
  return kind != Folder::kOfAnotherUser ||
         (::geteuid() == 0 && ::chown(folder.c_str(), 65534, 65534) == 0);
#endif
}

bool PlantLink(const std::string& at, const std::string& victim, Plant plant) {
  std::error_code failed;
  fs::remove(at, failed);
  if (plant == Plant::kSymlink) fs::create_symlink(victim, at, failed);
  if (plant == Plant::kHardLink) fs::create_hard_link(victim, at, failed);
  return !failed;
}

// Each entry of `folder` with its type and what reading it gives.
std::map<std::string, std::string> Entries(const std::string& folder) {
  std::map<std::string, std::string> entries;
  std::error_code missing;
  if (!fs::exists(folder, missing)) entries[""] = "no folder";
  for (const auto& entry : fs::directory_iterator(folder, missing)) {
    entries[entry.path().filename().string()] =
        std::to_string(static_cast<int>(entry.symlink_status().type())) + ":" +
        test::ReadFileText(entry.path().string());
  }
  return entries;
}

// Whatever an attacker plants at a name the tool writes, or however open the folder is, the
// vendor's signing key (the victim every link leads to) stays as it was; a write either makes
// private files of their own holding what was signed, or is refused with nothing written.
TEST(ReleaseToolOutputs, PlantedLinksAndOpenFoldersNeverReachAnotherFile) {
  test::TempDir keys;
  const std::string key = keys.Path("private.pem");
  const std::string pub = keys.Path("public.pem");
  fs::permissions(keys.Root(), fs::perms::owner_all);
  ASSERT_EQ(Tool({"keygen", key, pub}).code, kExitOk);
  const std::string keyBytes = test::ReadFileText(key);
  // clang-format off
  const struct {
    const char* what;
    const char* command;
    const char* outdir;  // the tool's folder; the row's Folder is "out"
    const char* planted;
    Plant plant;
    Folder folder;
    int code;
    const char* says;
  } attacks[] = {
    {"symlink at update.exe",          "sign",   "out", "update.exe",      Plant::kSymlink,  Folder::kPrivate, kExitOk, ""},
    {"hard link at update.exe",        "sign",   "out", "update.exe",      Plant::kHardLink, Folder::kPrivate, kExitOk, ""},
    {"symlink at version.ini",         "sign",   "out", "version.ini",     Plant::kSymlink,  Folder::kPrivate, kExitOk, ""},
    {"symlink at version.ini.sig",     "sign",   "out", "version.ini.sig", Plant::kSymlink,  Folder::kPrivate, kExitOk, ""},
    {"symlink at the fresh file",      "sign",   "out", "update.exe.new",  Plant::kSymlink,  Folder::kPrivate, kExitOk, ""},
    {"hard link at version.ini.sig",   "resign", "out", "version.ini.sig", Plant::kHardLink, Folder::kPrivate, kExitOk, ""},
    {"symlink at version.ini.sig",     "resign", "out", "version.ini.sig", Plant::kSymlink,  Folder::kPrivate, kExitOk, ""},
    {"symlink at the public key",      "keygen", "out", "public.pem",      Plant::kSymlink,  Folder::kPrivate, kExitOk, ""},
    {"symlink at the private key",     "keygen", "out", "private.pem",     Plant::kSymlink,  Folder::kPrivate, kExitUsage, "never overwritten"},
    {"missing folders made private",   "sign",   "out/new/deeper", "",     Plant::kNothing,  Folder::kPrivate, kExitOk, ""},
    {"group-writable folder",          "sign",   "out", "",                Plant::kNothing,  Folder::kGroupWritable, kExitFailed, "written by other users"},
    {"world-writable folder",          "resign", "out", "",                Plant::kNothing,  Folder::kWorldWritable, kExitFailed, "written by other users"},
    {"world-writable key folder",      "keygen", "out", "",                Plant::kNothing,  Folder::kWorldWritable, kExitFailed, "written by other users"},
    {"missing folder in an open one",  "sign",   "out/new", "",            Plant::kNothing,  Folder::kWorldWritable, kExitFailed, "written by other users"},
    {"folder of another user",         "sign",   "out", "",                Plant::kNothing,  Folder::kOfAnotherUser, kExitFailed, "another user"},
  };
  // clang-format on
  for (const auto& a : attacks) {
    SCOPED_TRACE(a.what);
    test::TempDir dir;
    fs::permissions(dir.Root(), fs::perms::owner_all);
    const std::string installer = dir.Path("setup.bin");
    const std::string installerBytes = std::string(100000, 'i') + a.what;  // several pieces
    test::WriteFileText(installer, installerBytes);
    const std::string out = dir.Path(a.outdir);
    fs::create_directory(dir.Path("out"));
    const std::string command = a.command;
    std::vector<std::string> arguments = {"keygen", out + "/private.pem", out + "/public.pem"};
    if (command == "sign") arguments = {"sign", "--key", key, "--stamp", "1", installer, out};
    if (command == "resign") {
      ASSERT_EQ(Tool({"sign", "--key", key, "--stamp", "1", "--serial", "1", installer, out}).code,
                kExitOk);
      arguments = {"resign", "--key", key, "--serial", "2", out};
    }
    if (!MakeFolder(dir.Path("out"), a.folder) ||
        (a.plant != Plant::kNothing && !PlantLink(out + "/" + a.planted, key, a.plant))) {
      continue;  // a folder of another user needs root; links may need a privilege
    }
    const auto before = Entries(out);
    const ToolRun run = Tool(arguments);
    EXPECT_EQ(run.code, a.code) << run.err;
    EXPECT_EQ(test::ReadFileText(key), keyBytes) << "the signing key was written";
    EXPECT_NE(run.err.find(a.says), std::string::npos) << run.err;
    if (a.code != kExitOk) {
      EXPECT_EQ(Entries(out), before);
      if (a.code == kExitFailed) {
        EXPECT_NE(run.err.find("into " + dir.Path("out")), std::string::npos) << "names the folder";
      }
      continue;
    }
    const auto after = Entries(out);
    for (const auto& [name, read] : after) {
      const fs::path file = fs::path(out) / name;
      EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file))) << name;
      EXPECT_EQ(fs::hard_link_count(file), 1u) << name;
#ifndef _WIN32
      EXPECT_EQ(fs::status(file).permissions() & (fs::perms::group_all | fs::perms::others_all),
                fs::perms::none)
          << name;
#endif
    }
    EXPECT_EQ(after.size(), command == "keygen" ? 2u : 3u) << "no fresh file or planted link left";
    if (command == "keygen") continue;
    EXPECT_EQ(test::ReadFileText(out + "/update.exe"), installerBytes);
    const ToolRun verify = Tool({"verify", "--key", pub, out});
    EXPECT_EQ(verify.code, kExitOk) << verify.err;
  }
}

}  // namespace
}  // namespace brixa::release
