// The resumable installer download against nginx (ranges, entity tags, a location that ignores
// ranges, error pages; its log counts the body bytes of every answer) and against scripted
// servers for the answers nginx never gives: cut connections and wrong 206 heads.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <thread>

#include "http/client/http.h"
#include "runtime/hash/hash_base.h"
#include "runtime/hash/hash_sha256.h"
#include "support/peers/peer_suite.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "update/delivery/byte_range.h"
#include "update/delivery/resumable_download.h"
#include "update/net/http_fetcher.h"

namespace brixa {
namespace {

using test::Expect;
using test::PeerKind;
using test::PeerProcess;
using test::ScriptedServer;
using test::Send;

constexpr std::int32_t kReadTimeoutMs = 10000;
// nginx writes its log line once the answer is sent, which may be after the client has read it.
constexpr int kLogWaitMs = 3000;

// The library's client behind the update flow's fetch seam, as the window uses it.
class Client : public TIdHTTP {
 public:
  Client() { SetReadTimeout(kReadTimeoutMs); }
  operator TUpdateFetcher&() { return fetcher_; }  // NOLINT: stands in where a fetcher goes

 private:
  TLowSpeedGuard guard_;
  TIdHTTPFetcher fetcher_{*this, guard_};
};

TInstallerRelease ReleaseOf(const std::string& bytes) {
  TIdHashSHA256 hash;
  return {42, static_cast<std::int64_t>(bytes.size()),
          DigestToHex(hash.HashBytes(bytes.data(), bytes.size()), false)};
}

// Leaves Run the way a killed process does: it is no Exception, so no retry catches it.
struct RunKilled {};

// A run's callbacks, recorded.
struct Recorder {
  std::vector<TPartialIdentity> identities;
  std::vector<std::int64_t> progress;
  std::vector<std::uint32_t> pauses;
  void Attach(TResumableDownload& download) {
    download.OnIdentity = [this](const TPartialIdentity& i) { identities.push_back(i); };
    download.OnProgress = [this](std::int64_t held, std::int64_t) { progress.push_back(held); };
    download.Pause = [this](std::uint32_t ms) { pauses.push_back(ms); };
  }
};

// "<status> <body bytes>" of each GET of `path` nginx logged, once there are `count`.
std::vector<std::string> AnswersFor(const PeerProcess& nginx, const std::string& path,
                                    std::size_t count) {
  std::vector<std::string> answers;
  for (int waited = 0; waited <= kLogWaitMs; waited += 50) {
    answers.clear();
    std::istringstream log(nginx.ReadFile("bytes.log"));
    for (std::string line; std::getline(log, line);) {
      const std::size_t end = line.find(" HTTP/1.1\" ");
      if (line.find("\"GET " + path + " HTTP/1.1\"") != std::string::npos) {
        answers.push_back(line.substr(end + 11));
      }
    }
    if (answers.size() >= count) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return answers;
}

// Checks that nginx logged `count` GETs of `path` so far, the last answered with `last`.
void ExpectAnswers(const PeerProcess& nginx, const std::string& path, std::size_t count,
                   const std::string& last) {
  const auto answers = AnswersFor(nginx, path, count);
  ASSERT_EQ(answers.size(), count);
  EXPECT_EQ(answers.back(), last);
}

using DeliveryPeers = test::PeerSuite;

TEST_F(DeliveryPeers, NginxContinuesAFileCutInAnEarlierRunWithOnlyTheMissingBytes) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  const std::string bytes = test::ReadFileText(nginx->DocPath("big.bin"));
  ASSERT_FALSE(bytes.empty());
  const TInstallerRelease release = ReleaseOf(bytes);
  const std::string url = nginx->BaseUrl() + "/big.bin";
  for (const int percent : {30, 99}) {
    SCOPED_TRACE(percent);
    const std::int64_t cut = release.Size * percent / 100;
    const std::size_t before = AnswersFor(*nginx, "/big.bin", 0).size();
    Client http;
    TMemoryStream file;
    Recorder first;
    {
      TResumableDownload download(http, release, file, {});
      first.Attach(download);
      download.OnProgress = [&](std::int64_t held, std::int64_t size) {
        if (held >= cut && held < size) throw RunKilled{};
      };
      EXPECT_THROW((void)download.Run({url}), RunKilled);
    }
    http.CloseConnection(true);
    const std::int64_t kept = file.Size();
    ASSERT_GE(kept, cut);
    ASSERT_EQ(first.identities.size(), 1u);
    EXPECT_EQ(first.identities[0].Validator.rfind('"', 0), 0u) << "nginx's entity tag";

    Client next;
    Recorder second;
    TResumableDownload download(next, release, file, first.identities[0]);
    second.Attach(download);
    const TDeliveryReport report = download.Run({url});
    EXPECT_TRUE(file.DataString() == bytes);
    EXPECT_EQ(report.ServedBy, url);
    EXPECT_EQ(report.ReusedBytes, kept);
    EXPECT_EQ(report.FetchedBytes, release.Size - kept);
    ASSERT_FALSE(second.progress.empty());
    EXPECT_EQ(second.progress.front(), kept) << "the bar starts where the file stands";
    EXPECT_TRUE(second.identities.empty()) << "a continued file keeps its identity";
    ExpectAnswers(*nginx, "/big.bin", before + 2, "206 " + std::to_string(release.Size - kept));
  }
}

TEST_F(DeliveryPeers, NginxContinuesAConnectionLostWithinTheRun) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  const std::string bytes = test::ReadFileText(nginx->DocPath("big.bin"));
  const TInstallerRelease release = ReleaseOf(bytes);
  const std::string path = "/close/big.bin";
  const std::size_t before = AnswersFor(*nginx, path, 0).size();
  Client http;
  TMemoryStream file;
  Recorder record;
  TResumableDownload download(http, release, file, {});
  record.Attach(download);
  std::int64_t cutAt = -1;
  download.OnProgress = [&](std::int64_t held, std::int64_t) {
    if (cutAt < 0 && held >= release.Size * 3 / 10) {
      cutAt = held;
      throw Exception("connection lost (played by the test)");
    }
  };
  const TDeliveryReport report = download.Run({nginx->BaseUrl() + path});
  EXPECT_TRUE(file.DataString() == bytes);
  EXPECT_EQ(record.pauses, (std::vector<std::uint32_t>{kFirstRetryPauseMs}));
  ASSERT_EQ(report.Faults.size(), 1u);
  EXPECT_NE(report.Faults[0].find("played by the test"), std::string::npos) << report.Faults[0];
  EXPECT_EQ(report.ReusedBytes, 0);
  ExpectAnswers(*nginx, path, before + 2, "206 " + std::to_string(release.Size - cutAt));
}

TEST_F(DeliveryPeers, NginxStartsAgainWhenRangesAreIgnoredOrTheFileChanged) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  const std::string bytes = test::ReadFileText(nginx->DocPath("big.bin"));
  const TInstallerRelease release = ReleaseOf(bytes);
  struct Case {
    const char* path;
    bool staleValidator;
  };
  for (const Case c : {Case{"/norange/big.bin", false}, Case{"/big.bin", true}}) {
    SCOPED_TRACE(c.path);
    const std::string url = nginx->BaseUrl() + c.path;
    Client http;
    http.Head(url);
    const std::string etag = RangeValidatorOf(http.LastResponse());
    ASSERT_FALSE(etag.empty());
    TMemoryStream file;
    // A kept third of the file, under the tag the server shows or under an older one.
    file.WriteBuffer(bytes.data(), release.Size / 3);
    const TPartialIdentity kept{release.Serial, release.Sha256,
                                c.staleValidator ? "\"1-2\"" : etag};
    const std::size_t before = AnswersFor(*nginx, c.path, 0).size();
    Recorder record;
    TResumableDownload download(http, release, file, kept);
    record.Attach(download);
    const TDeliveryReport report = download.Run({url});
    EXPECT_TRUE(file.DataString() == bytes);
    EXPECT_EQ(report.ReusedBytes, 0);
    EXPECT_EQ(report.FetchedBytes, release.Size);
    ASSERT_EQ(record.identities.size(), 1u);
    EXPECT_EQ(record.identities[0].Validator, etag);
    ExpectAnswers(*nginx, c.path, before + 1, "200 " + std::to_string(release.Size));
  }
}

TEST_F(DeliveryPeers, MirrorsAreTriedInOrderAndHeldToTheRelease) {
  BRIXA_SUITE_PEER_OR_SKIP(nginx, PeerKind::Nginx);
  std::string bytes = test::ReadFileText(nginx->DocPath("big.bin"));
  const TInstallerRelease release = ReleaseOf(bytes);
  bytes[bytes.size() / 2] ^= 0x20;
  test::WriteFileText(nginx->DocPath("tampered.bin"), bytes);
  bytes[bytes.size() / 2] ^= 0x20;
  test::RefusingPort down;
  const std::string base = nginx->BaseUrl();
  const std::vector<std::string> urls = {
      "http://127.0.0.1:" + std::to_string(down.Port()) + "/big.bin", base + "/error500",
      base + "/missing.bin", base + "/tampered.bin", base + "/big.bin"};
  Client http;
  TMemoryStream file;
  Recorder record;
  TResumableDownload download(http, release, file, {});
  record.Attach(download);
  const TDeliveryReport report = download.Run(urls);
  EXPECT_TRUE(file.DataString() == bytes);
  EXPECT_EQ(report.ServedBy, urls.back());
  ASSERT_EQ(report.Faults.size(), 4u);
  for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(report.Faults[i].rfind(urls[i], 0), 0u);
  EXPECT_NE(report.Faults[1].find("status 500"), std::string::npos) << report.Faults[1];
  EXPECT_NE(report.Faults[2].find("status 404"), std::string::npos) << report.Faults[2];
  EXPECT_NE(report.Faults[3].find("SHA-256"), std::string::npos) << report.Faults[3];
  EXPECT_TRUE(record.pauses.empty()) << "a failing server is left, not retried";
  // The tampered bytes were thrown away before the mirror was asked: it served all of the file.
  EXPECT_EQ(report.FetchedBytes, 2 * release.Size);
}

// ---- Scripted servers: what nginx never answers ----

const std::string kBody = [] {
  std::string body(1000, '\0');
  for (std::size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 7 + i / 251);
  return body;
}();
constexpr std::int64_t kKept = 100;

std::string Head(const std::string& status, const std::string& lines) {
  return "HTTP/1.1 " + status + "\r\n" + lines + "Connection: close\r\n\r\n";
}

// A download whose file holds the first kKept bytes of kBody, kept under the validator "v1".
struct KeptDownload {
  KeptDownload() {
    file.WriteBuffer(kBody.data(), kKept);
    download = std::make_unique<TResumableDownload>(
        http, release, file, TPartialIdentity{release.Serial, release.Sha256, "\"v1\""});
    record.Attach(*download);
  }
  Client http;
  TMemoryStream file;
  const TInstallerRelease release = ReleaseOf(kBody);
  Recorder record;
  std::unique_ptr<TResumableDownload> download;
};

TEST(DeliveryScripted, A206ThatDoesNotContinueTheFileIsRefusedWithoutAppending) {
  const std::string rest = kBody.substr(kKept);
  struct Case {
    const char* lines;
    bool continues;
  };
  const Case cases[] = {
      {"Content-Range: bytes 100-999/1000\r\nContent-Length: 900\r\n", true},
      {"Content-Range: bytes 100-999/*\r\nContent-Length: 900\r\n", true},
      {"Content-Range: bytes 100-999/2000\r\nContent-Length: 900\r\n", false},
      {"Content-Range: bytes 101-999/1000\r\nContent-Length: 899\r\n", false},
      {"Content-Range: bytes 99-999/1000\r\nContent-Length: 901\r\n", false},
      {"Content-Range: bytes 100-998/1000\r\nContent-Length: 899\r\n", false},
      {"Content-Range: bytes 0-999/1000\r\nContent-Length: 1000\r\n", false},
      {"Content-Range: bytes */1000\r\nContent-Length: 900\r\n", false},
      {"Content-Range: bytes 100-999/1000\r\nContent-Length: 800\r\n", false},
      {"Content-Range: bytes=100-999/1000\r\nContent-Length: 900\r\n", false},
      {"Content-Length: 900\r\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    ScriptedServer server(
        {Expect::LineBlock(), Send(Head("206 Partial Content", c.lines) + rest), test::Close()});
    KeptDownload kept;
    TMemoryStream& file = kept.file;
    TResumableDownload& download = *kept.download;
    Recorder& record = kept.record;
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/i.exe";
    if (c.continues) {
      EXPECT_NO_THROW((void)download.Run({url}));
      EXPECT_TRUE(file.DataString() == kBody);
    } else {
      EXPECT_THROW((void)download.Run({url}), EUpdateDeliveryFailed);
      EXPECT_TRUE(file.DataString() == kBody.substr(0, kKept)) << "nothing appended";
    }
    EXPECT_TRUE(record.identities.empty());
    ASSERT_TRUE(server.WaitDone());
    const std::string request = server.Received(0);
    EXPECT_NE(request.find("\r\nRange: bytes=100-\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nIf-Range: \"v1\"\r\n"), std::string::npos) << request;
  }
}

TEST(DeliveryScripted, AConnectionCutOrResetMidBodyIsContinuedOnANewOne) {
  const std::string head200 = Head("200 OK", "Content-Length: 1000\r\nETag: \"v1\"\r\n");
  const std::string head206 =
      Head("206 Partial Content", "Content-Range: bytes 300-999/1000\r\nContent-Length: 700\r\n");
  for (const bool reset : {false, true}) {
    SCOPED_TRACE(reset ? "reset" : "close");
    ScriptedServer server(
        {{Expect::LineBlock(), Send(head200 + kBody.substr(0, 300)), test::Pause(100),
          reset ? test::Reset() : test::Close()},
         {Expect::LineBlock(), Send(head206 + kBody.substr(300)), test::Close()}});
    Client http;
    TMemoryStream file;
    Recorder record;
    TResumableDownload download(http, ReleaseOf(kBody), file, {});
    record.Attach(download);
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/i.exe";
    const TDeliveryReport report = download.Run({url});
    EXPECT_TRUE(file.DataString() == kBody);
    EXPECT_EQ(report.FetchedBytes, 1000);
    EXPECT_EQ(record.pauses, (std::vector<std::uint32_t>{kFirstRetryPauseMs}));
    ASSERT_TRUE(server.WaitDone());
    EXPECT_EQ(server.Received(0).find("Range:"), std::string::npos);
    const std::string second = server.Received(1);
    EXPECT_NE(second.find("\r\nRange: bytes=300-\r\nIf-Range: \"v1\"\r\n"), std::string::npos)
        << second;
  }
}

TEST(DeliveryScripted, RetriesAreBoundedInCountAndByTheDeadline) {
  const std::string cut =
      Head("200 OK", "Content-Length: 1000\r\nETag: \"v1\"\r\n") + kBody.substr(0, 10);
  const test::Script cutting = {Expect::LineBlock(), Send(cut), test::Close()};
  {
    ScriptedServer server(std::vector<test::Script>(kDownloadRetries + 1, cutting));
    Client http;
    TMemoryStream file;
    Recorder record;
    TResumableDownload download(http, ReleaseOf(kBody), file, {});
    record.Attach(download);
    EXPECT_THROW(
        (void)download.Run({"http://127.0.0.1:" + std::to_string(server.Port()) + "/i.exe"}),
        EUpdateDeliveryFailed);
    EXPECT_EQ(server.Accepted(), static_cast<std::size_t>(kDownloadRetries + 1));
    EXPECT_EQ(record.pauses, (std::vector<std::uint32_t>{1000, 2000, 4000}));
    EXPECT_EQ(file.Size(), 10) << "what came is kept for the next run";
  }
  {
    ScriptedServer server({cutting});
    Client http;
    TMemoryStream file;
    Recorder record;
    TResumableDownload download(http, ReleaseOf(kBody), file, {});
    record.Attach(download);
    std::int64_t left = 1500;
    download.RemainingMs = [&] { return left; };
    download.Pause = [&](std::uint32_t ms) {
      record.pauses.push_back(ms);
      left = 0;
    };
    download.OnProgress = [&](std::int64_t, std::int64_t) { left = 500; };
    try {
      (void)download.Run({"http://127.0.0.1:" + std::to_string(server.Port()) + "/i.exe"});
      ADD_FAILURE() << "no installer was delivered";
    } catch (const EUpdateDeliveryFailed& error) {
      EXPECT_NE(error.Message().find("deadline"), std::string::npos) << error.Message();
    }
    EXPECT_EQ(record.pauses, (std::vector<std::uint32_t>{500})) << "no pause beyond the deadline";
    EXPECT_EQ(server.Accepted(), 1u);
  }
}

// A server whose file ends before the kept bytes do answers 416: what was kept is thrown away, so
// the next run starts afresh instead of asking for the same range for ever.
TEST(DeliveryScripted, A416ThrowsTheKeptBytesAway) {
  ScriptedServer server({Expect::LineBlock(),
                         Send(Head("416 Range Not Satisfiable",
                                   "Content-Range: bytes */50\r\n"
                                   "Content-Length: 0\r\n")),
                         test::Close()});
  KeptDownload kept;
  TMemoryStream& file = kept.file;
  TResumableDownload& download = *kept.download;
  Recorder& record = kept.record;
  EXPECT_THROW((void)download.Run({"http://127.0.0.1:" + std::to_string(server.Port()) + "/i.exe"}),
               EUpdateDeliveryFailed);
  EXPECT_EQ(file.Size(), 0);
  ASSERT_EQ(record.identities.size(), 1u);
  EXPECT_EQ(record.identities[0].Validator, "");
}

TEST(DeliveryScripted, ABodyLongerThanTheReleaseIsThrownAway) {
  // No length: the body runs to the close, past the size the manifest names.
  ScriptedServer server({Expect::LineBlock(),
                         Send(Head("200 OK", "ETag: \"v2\"\r\n") + kBody + "0123456789"),
                         test::Close()});
  Client http;
  TMemoryStream file;
  Recorder record;
  TResumableDownload download(http, ReleaseOf(kBody), file, {});
  record.Attach(download);
  EXPECT_THROW((void)download.Run({"http://127.0.0.1:" + std::to_string(server.Port()) + "/i.exe"}),
               EUpdateDeliveryFailed);
  EXPECT_EQ(file.Size(), 0);
  ASSERT_FALSE(record.identities.empty());
  EXPECT_EQ(record.identities.back().Validator, "") << "nothing left to continue";
}

}  // namespace
}  // namespace brixa
