// The version check against a real nginx: the server's file is published into its document
// tree, the local one lives in a temp folder.
#include "app/version_check.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/core/stream.h"
#include "platform/files/module_path.h"
#include "platform/system/system_info.h"
#include "support/peers/peer_process.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace brixa {
namespace {

namespace fs = std::filesystem;

std::string VersionText(const std::string& stamp, const std::string& extra = {}) {
  return "[Updater]\r\nVersion=" + stamp + "\r\n" + extra;
}

TEST(VersionCheck, LocalFileLiesBesideTheProgram) {
  const TVersionCheckFiles files = VersionCheckFilesOfProgram();
  EXPECT_EQ(files.LocalVersionFile, ExtractFilePath(ModuleFileName()) + "version.ini");
}

TEST(VersionCheck, DownloadVersionFileReadsIntoMemoryBoundedOrReportsFailure) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  std::string bytes;
  std::string error;
  const std::string served = test::ReadFileText(nginx->DocPath("k1.bin"));
  EXPECT_EQ(DownloadVersionFile(nginx->BaseUrl() + "/k1.bin", bytes, error), "");
  EXPECT_EQ(bytes, served);

  // A version file above the limit is cut off there and fails, whatever the build.
  fs::create_directories(nginx->DocPath("updater"));
  test::WriteFileText(nginx->DocPath("updater/huge.ini"),
                      std::string(static_cast<std::size_t>(kMaxManifestBytes) + 1, 'x'));
  EXPECT_EQ(DownloadVersionFile(nginx->BaseUrl() + "/updater/huge.ini", bytes, error),
            RSVersionCheckError);
  EXPECT_TRUE(bytes.empty());
  EXPECT_NE(error.find("larger than"), std::string::npos) << error;

  // Redirects are not followed: the redirect status is a failure.
  test::ScriptedServer redirecting(
      {test::Expect::LineBlock(), test::Send("HTTP/1.1 302 Found\r\nLocation: /k1.bin\r\n"
                                             "Content-Length: 0\r\n\r\n")});
  test::RefusingPort refusing;
  const std::string failing[] = {
      nginx->BaseUrl() + "/close/missing.ini",  // 404 (the server closes after it)
      "http://127.0.0.1:" + std::to_string(redirecting.Port()) + "/version.ini",
      "http://127.0.0.1:" + std::to_string(refusing.Port()) + "/version.ini",
  };
  for (const auto& url : failing) {
    EXPECT_EQ(DownloadVersionFile(url, bytes, error), RSVersionCheckError) << url;
    EXPECT_NE(error.find(url), std::string::npos) << "the reason names the URL: " << error;
  }
  EXPECT_EQ(redirecting.Accepted(), 1u);
}

TEST(VersionCheck, StampsCompareByteForByteOverNineteenBytes) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  fs::create_directories(nginx->DocPath("updater"));
  const struct {
    const char* what;
    const char* local;  // nullptr: no local version file
    std::string server;
    bool update;
  } cases[] = {
      {"equal", "1.2.3", VersionText("1.2.3"), false},
      {"different", "1.2.3", VersionText("1.2.4"), true},
      {"lower on the server", "1.2.3", VersionText("1.2.2"), true},
      {"letter case", "Build-A", VersionText("build-a"), true},
      {"prefix", "1.2", VersionText("1.2.0"), true},
      {"blanks and quotes are not part of it", "1.2", "[updater]\r\n version = \"1.2\" \r\n",
       false},
      {"equal in 19 bytes", "1234567890123456789A", VersionText("1234567890123456789B"), false},
      {"differ in byte 19", "123456789012345678A", VersionText("123456789012345678B"), true},
      {"no local file, no server key", nullptr, "[Updater]\r\nOther=1\r\n", false},
      {"no local file, default stamp", nullptr, VersionText("0000000000"), false},
      {"no local file, a stamp", nullptr, VersionText("1.0"), true},
      {"local default, server section missing", "0000000000", "[Other]\r\nVersion=9\r\n", false},
  };
  int index = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir product;
    const TVersionCheckFiles files{product.Path("version.ini"), product.Path("state/")};
    if (c.local != nullptr) test::WriteFileText(files.LocalVersionFile, VersionText(c.local));
    const std::string name = "updater/v" + std::to_string(index++) + ".ini";
    test::WriteFileText(nginx->DocPath(name), c.server);

    const TUpdateCheck check = CheckForUpdate(nginx->BaseUrl() + "/" + name, files);
    EXPECT_EQ(check.UpdateAvailable, c.update);
    EXPECT_EQ(check.ExpectedSha256, "");
    EXPECT_EQ(check.Record.Decision, c.update ? TRunOutcome::roUpdate : TRunOutcome::roUpToDate);
  }
}

TEST(VersionCheck, AnnouncedHashTravelsWithAnUpdate) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  fs::create_directories(nginx->DocPath("updater"));
  const std::string hash(64, 'c');
  test::WriteFileText(nginx->DocPath("updater/hashed.ini"),
                      VersionText("2.0", "SHA256 = " + hash + "\r\n"));
  test::TempDir product;
  const TVersionCheckFiles files{product.Path("version.ini"), product.Path("state/")};
  const std::string url = nginx->BaseUrl() + "/updater/hashed.ini";

  test::WriteFileText(files.LocalVersionFile, VersionText("1.0"));
  const TUpdateCheck update = CheckForUpdate(url, files);
  EXPECT_TRUE(update.UpdateAvailable);
  EXPECT_EQ(update.ExpectedSha256, hash);

  test::WriteFileText(files.LocalVersionFile, VersionText("2.0"));
  EXPECT_EQ(CheckForUpdate(url, files).ExpectedSha256, "") << "no update, nothing to verify";
}

TEST(VersionCheck, FailedDownloadMeansNoUpdateAndTouchesNothing) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  test::TempDir product;
  const TVersionCheckFiles files{product.Path("version.ini"), product.Path("state/")};
  test::WriteFileText(files.LocalVersionFile, VersionText("1.0"));
  const TUpdateCheck check = CheckForUpdate(nginx->BaseUrl() + "/close/missing.ini", files);
  EXPECT_FALSE(check.UpdateAvailable);
  EXPECT_EQ(check.Record.Decision, TRunOutcome::roFailed);
  EXPECT_EQ(test::ReadFileText(files.LocalVersionFile), VersionText("1.0"));
  EXPECT_FALSE(fs::exists(product.Path("version_update.ini")));
}

}  // namespace
}  // namespace brixa
