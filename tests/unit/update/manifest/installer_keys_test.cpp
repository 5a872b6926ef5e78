#include "update/manifest/installer_keys.h"

#include <gtest/gtest.h>

#include "platform/process/command_line.h"
#include "update/update_errors.h"

namespace brixa {
namespace {

const std::string kA(64, 'a');
const std::string kB = std::string(63, 'B') + "0";

// Each manifest's installer keys as read, or "refused".
TEST(InstallerKeysTest, PinsAndArgumentsAreReadExactlyOrRefused) {
  const std::string tooLong = std::string(kMaxLaunchArgumentsBytes + 1, 'x');
  const struct {
    std::string body;  // after "[Updater]\n"
    std::vector<std::string> publishers;
    std::string arguments;
    bool refused;
  } cases[] = {
      // clang-format off
      {"Version=1\n", {}, "", false},
      {"Publisher1=" + kA + "\n", {kA}, "", false},
      {"Publisher2=" + kB + "\npublisher1 = " + kA + "\nPublisher4=" + kA + "\n",
       {kA, std::string(63, 'b') + "0"}, "", false},       // in order, to the first gap
      {"Publisher=" + kA + "\n", {}, "", true},             // no number: never read as no pin
      {"Publisher1=" + kA.substr(1) + "\n", {}, "", true},
      {"Publisher1=" + kA + "0\n", {}, "", true},
      {"Publisher1=\n", {}, "", true},
      {"Publisher1=" + std::string(64, 'g') + "\n", {}, "", true},
      {"Publisher1=" + kA + "\nPublisher2=" + kA + "\nPublisher3=" + kA + "\nPublisher4=" + kA +
       "\nPublisher5=" + kA + "\n", {}, "", true},
      {"Arguments=\"/S /D=\"C:\\Program Files\\B\"\"\n", {}, "/S /D=\"C:\\Program Files\\B\"", false},
      {"Arguments= /VERYSILENT \n", {}, "/VERYSILENT", false},
      {"Arguments=\"" + std::string(kMaxLaunchArgumentsBytes, 'x') + "\"\n", {},
       std::string(kMaxLaunchArgumentsBytes, 'x'), false},
      {"Arguments=" + tooLong + "\n", {}, "", true},
      {"Arguments=\"" + tooLong + "\"\n", {}, "", true},
      {"Arguments=/S\x1b[2J\n", {}, "", true},
      {"Arguments=/S\t/Q\n", {}, "", true},
      {"Arguments=/D=C:\\\xc3\xa9\n", {}, "", true},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body);
    const std::string manifest = "[Updater]\n" + c.body;
    if (c.refused) {
      EXPECT_THROW((void)ParseInstallerKeys(manifest), EManifestRefused);
      continue;
    }
    const TInstallerKeys keys = ParseInstallerKeys(manifest);
    EXPECT_EQ(keys.Publishers, c.publishers);
    EXPECT_EQ(keys.Arguments, c.arguments);
  }
}

TEST(InstallerKeysTest, FingerprintsAsPeopleWriteThem) {
  std::string pairs;
  for (int i = 0; i < 32; ++i) pairs += (i ? ":" : "") + std::string("Ab");
  const std::string digits = [] {
    std::string d;
    for (int i = 0; i < 32; ++i) d += "ab";
    return d;
  }();
  EXPECT_EQ(ParsePublisherFingerprint(pairs), digits);
  EXPECT_EQ(ParsePublisherFingerprint("sha256 Fingerprint=" + pairs), digits);
  EXPECT_EQ(ParsePublisherFingerprint(std::string(64, 'F')), std::string(64, 'f'));
  for (const std::string& bad : {pairs.substr(1), pairs + ":", digits.substr(2), digits + "ab",
                                 pairs.substr(0, 5) + "::" + pairs.substr(6), std::string()}) {
    EXPECT_FALSE(ParsePublisherFingerprint(bad)) << bad;
  }
}

}  // namespace
}  // namespace brixa
