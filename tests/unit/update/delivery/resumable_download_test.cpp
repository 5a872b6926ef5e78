// The installer download's contract through the fetch seam, without a socket: what a kept part
// becomes under each answer a server may give, the retries of a cut body, the mirrors, and the
// hash that guards the whole file.
#include "update/delivery/resumable_download.h"

#include <gtest/gtest.h>

#include <functional>

#include "platform/core/stream.h"
#include "runtime/hash/hash_sha256.h"
#include "support/memory_repository.h"

namespace brixa::test {
namespace {

constexpr std::uint64_t kSerial = 7;
const std::string kTag = "\"v1\"";

std::string Url(char host) {
  return std::string("http://") + host + "/update.exe";
}

// Bytes that differ at every offset of a kilobyte, so a misplaced range never hashes right.
std::string Installer(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t n = 0; n < size; ++n) bytes[n] = static_cast<char>((n * 131 + seed) % 251);
  return bytes;
}

std::string Sha256Of(const std::string& bytes) {
  TIdHashSHA256 hash;
  return DigestToHex(hash.HashBytes(bytes.data(), bytes.size()), false);
}

// "a 400- "v1"": the host, and the range and If-Range when one was sent.
std::string Describe(const RepoRequest& request) {
  std::string text(1, request.Url[7]);
  if (!request.Range.empty()) text += " " + request.Range + " " + request.IfRange;
  return text;
}

TEST(ResumableDownload, KeepsContinuesOrReplacesThePartAsEachAnswerAllows) {
  const std::string installer = Installer(1000, 3);
  const TInstallerRelease release{kSerial, 1000, Sha256Of(installer)};
  using Kind = RepoFault::Kind;
  const auto Part = [&](std::size_t bytes) { return installer.substr(0, bytes); };
  const struct {
    const char* what;
    std::string kept;  // what the file holds at the start
    TPartialIdentity identity;
    std::function<void(MemoryRepository&)> setUp;  // a, b and c serve the installer as "v1"
    std::vector<char> hosts;
    std::vector<std::string> requests;  // Describe of each, in order
    bool delivered;
    std::int64_t held;  // bytes held at the end (the installer's first ones) when not delivered
    std::int64_t reused = 0;
    std::vector<std::uint32_t> pauses = {};
    std::function<std::int64_t()> remaining = {};
  } cases[] = {
      // clang-format off
      {"a kept part is continued with a 206", Part(400), {kSerial, release.Sha256, kTag}, {}, {'a'},
       {"a 400- \"v1\""}, true, 0, 400},
      {"a changed file answers 200 and replaces it", Part(400), {kSerial, release.Sha256, "\"v0\""},
       {}, {'a'}, {"a 400- \"v0\""}, true, 0, 0},
      {"a part of another release is not continued", Part(400), {kSerial - 1, release.Sha256, kTag},
       {}, {'a'}, {"a"}, true, 0, 0},
      {"a complete kept file needs no request", installer, {kSerial, release.Sha256, kTag}, {},
       {'a'}, {}, true, 0, 1000},
      {"a 206 that does not continue ends the turn untouched", Part(400),
       {kSerial, release.Sha256, kTag},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Of(Kind::kWrongRange, 0)); }, {'a', 'b'},
       {"a 400- \"v1\"", "b 400- \"v1\""}, true, 0, 400},
      {"a 416 discards the kept bytes", Part(400), {kSerial, release.Sha256, kTag},
       [](auto& r) { r.File(Url('a')).Body.resize(300); }, {'a', 'b'}, {"a 400- \"v1\"", "b"}, true,
       0, 0},
      {"a cut body is continued after a pause", "", {},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Cut(100, 2)); }, {'a'},
       {"a", "a 100- \"v1\"", "a 200- \"v1\""}, true, 0, 0, {1000, 2000}},
      {"a body that ends quietly is continued too", "", {},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Of(Kind::kEnd, 100, 1)); }, {'a'},
       {"a", "a 100- \"v1\""}, true, 0, 0, {1000}},
      {"retries of a server are bounded, then the next is asked", "", {},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Cut(100)); }, {'a', 'b'},
       {"a", "a 100- \"v1\"", "a 200- \"v1\"", "a 300- \"v1\"", "b 400- \"v1\""}, true, 0, 0,
       {1000, 2000, 4000}},
      {"what a failing run fetched is kept for the next", "", {},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Cut(100)); }, {'a'},
       {"a", "a 100- \"v1\"", "a 200- \"v1\"", "a 300- \"v1\""}, false, 400, 0, {1000, 2000, 4000}},
      {"no pause is longer than what is left", "", {},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Cut(100)); }, {'a'},
       {"a", "a 100- \"v1\"", "a 200- \"v1\"", "a 300- \"v1\""}, false, 400, 0, {1000, 1500, 1500},
       [] { return std::int64_t{1500}; }},
      {"a timeout before the body is not retried", "", {},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Of(Kind::kReadTimeout, 0)); }, {'a', 'b'},
       {"a", "b"}, true, 0, 0},
      {"mirrors are asked in order", "", {},
       [](auto& r) { r.Remove(Url('a')); r.File(Url('b')).Status = 503;
                     r.AddFault(Url('c'), RepoFault::Of(Kind::kRefuse)); },
       {'a', 'b', 'c', 'd'}, {"a", "b", "c", "d"}, true, 0, 0},
      {"a mirror serving a longer file is refused", "", {},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Serve(Url('x'))); }, {'a', 'b'}, {"a", "b"},
       true, 0, 0},
      {"one that does not announce its length is cut off", Part(300),
       {kSerial, release.Sha256, kTag},
       [](auto& r) { r.File(Url('x')).AnnounceLength = false;
                     r.AddFault(Url('a'), RepoFault::Serve(Url('x'))); },
       {'a', 'b'}, {"a 300- \"v1\"", "b"}, true, 0, 0},
      {"a file of the right size but another hash is emptied", "", {},
       [](auto& r) { r.AddFault(Url('a'), RepoFault::Serve(Url('y'))); }, {'a'}, {"a"}, false, 0,
       0},
      {"a kept file that does not hash is fetched anew", Installer(1000, 5),
       {kSerial, release.Sha256, kTag}, {}, {'a'}, {"a"}, true, 0, 0},
      {"no request once the deadline has passed", Part(400), {kSerial, release.Sha256, kTag}, {},
       {'a', 'b'}, {}, false, 400, 400, {}, [] { return std::int64_t{0}; }},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryRepository repo;
    repo.SetChunkBytes(64);
    for (const char host : {'a', 'b', 'c', 'd'}) repo.Put(Url(host), {installer, kTag});
    repo.Put(Url('x'), {installer + "more", "\"x\""});
    repo.Put(Url('y'), {Installer(1000, 4), "\"y\""});
    if (c.setUp) c.setUp(repo);
    TMemoryStream file;
    file.Write(c.kept.data(), static_cast<std::int64_t>(c.kept.size()));
    const auto fetcher = repo.Fetcher();
    TResumableDownload download(*fetcher, release, file, c.identity);
    std::vector<std::uint32_t> pauses;
    std::vector<TPartialIdentity> identities;
    std::vector<std::int64_t> progress;
    download.Pause = [&](std::uint32_t ms) { pauses.push_back(ms); };
    download.OnIdentity = [&](const TPartialIdentity& identity) { identities.push_back(identity); };
    download.OnProgress = [&](std::int64_t held, std::int64_t size) {
      EXPECT_EQ(size, 1000);
      progress.push_back(held);
    };
    if (c.remaining) download.RemainingMs = c.remaining;
    std::vector<std::string> urls;
    for (const char host : c.hosts) urls.push_back(Url(host));

    TDeliveryReport report;
    bool delivered = true;
    try {
      report = download.Run(urls);
    } catch (const EUpdateDeliveryFailed& failure) {
      delivered = false;
      for (const RepoRequest& asked : repo.Log()) {
        EXPECT_NE(failure.Message().find(asked.Url), std::string::npos) << failure.Message();
      }
    }
    std::vector<std::string> requests;
    for (const RepoRequest& request : repo.Log()) requests.push_back(Describe(request));
    EXPECT_EQ(requests, c.requests);
    EXPECT_EQ(pauses, c.pauses);
    ASSERT_EQ(delivered, c.delivered);
    if (delivered) {
      EXPECT_EQ(file.DataString(), installer);
      EXPECT_EQ(report.ReusedBytes, c.reused);
      ASSERT_FALSE(progress.empty());
      const bool continues = c.identity.Continues(kSerial, release.Sha256);
      EXPECT_EQ(progress.front(), continues ? static_cast<std::int64_t>(c.kept.size()) : 0);
      EXPECT_EQ(progress.back(), 1000);
      EXPECT_EQ(report.ServedBy, c.requests.empty() ? "" : Url(c.requests.back()[0]));
    } else {
      EXPECT_EQ(file.DataString(), installer.substr(0, static_cast<std::size_t>(c.held)));
    }
    std::int64_t written = 0;
    for (const RepoRequest& request : repo.Log()) written += request.Delivered;
    EXPECT_EQ(report.FetchedBytes, delivered ? written : 0);
    // Whatever the file holds, the last identity handed out describes it truly.
    if (!identities.empty()) {
      EXPECT_EQ(identities.back().Serial, kSerial);
      EXPECT_EQ(identities.back().Sha256, release.Sha256);
      EXPECT_EQ(identities.back().Validator, file.Size() > 0 ? kTag : "");
    }
  }
}

}  // namespace
}  // namespace brixa::test
