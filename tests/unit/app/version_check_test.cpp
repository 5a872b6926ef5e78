// The version check against a real nginx: the server's file is published into its document
// tree, the local one lives in a temp folder.
#include "app/version_check.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/module_path.h"
#include "platform/stream.h"
#include "platform/system_info.h"
#include "support/peer_process.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace brixa {
namespace {

namespace fs = std::filesystem;

std::string VersionText(const std::string& stamp, const std::string& extra = {}) {
  return "[Updater]\r\nVersion=" + stamp + "\r\n" + extra;
}

TEST(VersionCheck, FilesLieBesideTheProgram) {
  const TVersionCheckFiles files = VersionCheckFilesOfProgram();
  const std::string dir = ExtractFilePath(ProgramFileName());
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(files.LocalVersionFile, ExtractFilePath(ModuleFileName()) + "version.ini");
  // The program's directory already ends in a separator; one more is added before the name.
  EXPECT_EQ(files.TempVersionFile, dir + SystemPathDelimiter() + "version_update.ini");
}

TEST(VersionCheck, DownloadVersionFileStoresTheFileOrReportsFailure) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  test::TempDir dir;
  const std::string target = dir.Path("version_update.ini");
  const std::string served = test::ReadFileText(nginx->DocPath("k1.bin"));

  EXPECT_EQ(DownloadVersionFile(nginx->BaseUrl() + "/k1.bin", target), "");
  EXPECT_EQ(test::ReadFileText(target), served);
  EXPECT_TRUE(RemoveFile(target)) << "the file is closed when the call returns";

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
    EXPECT_EQ(DownloadVersionFile(url, target), RSVersionCheckError) << url;
  }
  EXPECT_EQ(redirecting.Accepted(), 1u);
  EXPECT_EQ(DownloadVersionFile(nginx->BaseUrl() + "/k1.bin", dir.Path("no/such/dir/v.ini")),
            RSVersionCheckError);
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
    const TVersionCheckFiles files{product.Path("version.ini"), product.Path("version_update.ini")};
    if (c.local != nullptr) test::WriteFileText(files.LocalVersionFile, VersionText(c.local));
    const std::string name = "updater/v" + std::to_string(index++) + ".ini";
    test::WriteFileText(nginx->DocPath(name), c.server);

    const TUpdateCheck check = CheckForUpdate(nginx->BaseUrl() + "/" + name, files);
    EXPECT_EQ(check.UpdateAvailable, c.update);
    EXPECT_EQ(check.ExpectedSha256, "");
    EXPECT_FALSE(fs::exists(files.TempVersionFile));
  }
}

TEST(VersionCheck, AnnouncedHashTravelsWithAnUpdate) {
  BRIXA_PEER_OR_SKIP(nginx, test::PeerKind::Nginx);
  fs::create_directories(nginx->DocPath("updater"));
  const std::string hash(64, 'c');
  test::WriteFileText(nginx->DocPath("updater/hashed.ini"),
                      VersionText("2.0", "SHA256 = " + hash + "\r\n"));
  test::TempDir product;
  const TVersionCheckFiles files{product.Path("version.ini"), product.Path("version_update.ini")};
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
  const TVersionCheckFiles files{product.Path("version.ini"), product.Path("version_update.ini")};
  test::WriteFileText(files.LocalVersionFile, VersionText("1.0"));
  const TUpdateCheck check = CheckForUpdate(nginx->BaseUrl() + "/close/missing.ini", files);
  EXPECT_FALSE(check.UpdateAvailable);
  EXPECT_EQ(test::ReadFileText(files.LocalVersionFile), VersionText("1.0"));
}

}  // namespace
}  // namespace brixa
