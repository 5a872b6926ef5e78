// brixa-release's delivery keys: mirrors and rollout written, kept through a re-sign, changed
// by it (the kill switch), checked by verify, and refused when the updater would refuse them.
#include <gtest/gtest.h>

#include <sstream>

#include "support/temp_dir.h"
#include "tools/brixa_release/release_tool.h"
#include "update/delivery_keys.h"
#include "update/manifest.h"

namespace brixa::release {
namespace {

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
