#include "update/manifest/delivery_keys.h"

#include <gtest/gtest.h>

#include "update/manifest/manifest.h"

namespace brixa {
namespace {

TEST(DeliveryKeysTest, MirrorsInOrderAndTheRolloutShare) {
  const auto keys = ParseDeliveryKeys(
      "[Updater]\r\nVersion=2\r\nMirror2=https://b.example/u.exe\r\nmirror1 = "
      "\"http://a.example:81/u.exe\"\r\nMirror4=http://never.example/\r\nRollout=25\r\n");
  EXPECT_EQ(keys.Mirrors,
            (std::vector<std::string>{"http://a.example:81/u.exe", "https://b.example/u.exe"}))
      << "read up to the first missing number";
  EXPECT_EQ(keys.Rollout, 25);
  EXPECT_EQ(InstallerUrls("http://p/u.exe", keys).front(), "http://p/u.exe");
  EXPECT_EQ(InstallerUrls("http://p/u.exe", keys).size(), 3u);

  const auto none = ParseDeliveryKeys("[Updater]\nVersion=2\n[Other]\nMirror1=http://x/\n");
  EXPECT_TRUE(none.Mirrors.empty());
  EXPECT_EQ(none.Rollout, 100) << "absent: everyone";
  EXPECT_EQ(ParseDeliveryKeys("[Updater]\nRollout=0\n").Rollout, 0);
}

TEST(DeliveryKeysTest, AnythingMalformedRefusesTheManifest) {
  std::string nine = "[Updater]\n";
  for (int n = 1; n <= 9; ++n) nine += "Mirror" + std::to_string(n) + "=http://m/\n";
  const std::string cases[] = {
      "[Updater]\nRollout=101\n",
      "[Updater]\nRollout=\n",
      "[Updater]\nRollout=50%\n",
      "[Updater]\nRollout=-1\n",
      "[Updater]\nMirror1=ftp://m/u.exe\n",
      "[Updater]\nMirror1=file:///etc/passwd\n",
      "[Updater]\nMirror1=\n",
      "[Updater]\nMirror1=http://m/a b\n",
      "[Updater]\nMirror1=http://m/\x01\n",
      "[Updater]\nMirror1=http://m/" + std::string(kMaxMirrorUrlBytes, 'a') + "\n",
      nine,
  };
  for (const std::string& text : cases) {
    EXPECT_THROW((void)ParseDeliveryKeys(text), EManifestRefused) << text;
  }
}

}  // namespace
}  // namespace brixa
