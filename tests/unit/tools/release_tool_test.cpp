// brixa-release end to end in this process: keys made, releases signed, re-signed and checked
// with the updater's own code, and the releases the openssl recipe made accepted alike.
#include "tools/brixa_release/release_tool.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/peers/peer_process.h"
#include "support/temp_dir.h"
#include "update/manifest/delivery_keys.h"
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

}  // namespace
}  // namespace brixa::release
