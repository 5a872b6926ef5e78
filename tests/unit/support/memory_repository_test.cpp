// The in-memory repository answers as the fetch seam's contract and a real server's range
// handling say: every other test of the update flow relies on it not being kinder than a server.
#include "support/memory_repository.h"

#include <gtest/gtest.h>

#include <functional>

#include "runtime/network_exception.h"
#include "transport/io/io_handler_exceptions.h"
#include "transport/socket/stack_exceptions.h"
#include "update/update_errors.h"

namespace brixa::test {
namespace {

const std::string kUrl = "http://repo/file";
const std::string kOther = "http://repo/other";
const std::string kBody = "0123456789";
const std::string kTag = "\"t1\"";
const std::string kDate = "Tue, 01 Jul 2025 10:00:00 GMT";

// Holds the seam's body contract: one Begin, and it comes before any byte.
struct Recorder final : TFetchBody {
  int begun = 0;
  TFetchHead head;
  std::string bytes;
  void Begin(const TFetchHead& h) override {
    ++begun;
    EXPECT_TRUE(bytes.empty()) << "Begin after a body byte";
    head = h;
  }
  void Write(const void* data, std::int64_t count) override {
    EXPECT_EQ(begun, 1) << "a body byte before Begin";
    bytes.append(static_cast<const char*>(data), static_cast<std::size_t>(count));
  }
};

TEST(MemoryRepository, AnswersGetsAsTheSeamAndARealServerDo) {
  const struct {
    const char* what;
    std::function<void(MemoryRepository&)> setUp;
    std::string range, ifRange;
    std::int32_t status;  // of the head returned, or of the EFetchStatus raised
    std::string contentRange, body;
    const char* raised;  // class raised, nullptr: none
    std::string retryAfter = {};
    std::int64_t announced = -1;  // -1: the body's length
  } cases[] = {
      {"whole file", {}, "", "", 200, "", kBody, nullptr},
      {"range with matching tag", {}, "4-", kTag, 206, "bytes 4-9/10", "456789", nullptr},
      {"range with matching date", {}, "4-", kDate, 206, "bytes 4-9/10", "456789", nullptr},
      {"range without If-Range", {}, "8-", "", 206, "bytes 8-9/10", "89", nullptr},
      {"bounded and suffix ranges", {}, "2-3", kTag, 206, "bytes 2-3/10", "23", nullptr},
      {"suffix", {}, "-3", "", 206, "bytes 7-9/10", "789", nullptr},
      {"changed tag restarts", {}, "4-", "\"t0\"", 200, "", kBody, nullptr},
      {"weak tag never matches", {}, "4-", "W/\"t1\"", 200, "", kBody, nullptr},
      {"several ranges are ignored", {}, "0-1,4-", kTag, 200, "", kBody, nullptr},
      {"malformed range is ignored", {}, "x-", kTag, 200, "", kBody, nullptr},
      {"range at the end", {}, "10-", kTag, 416, "", "", "EFetchStatus"},
      {"stale If-Range wins over 416", {}, "10-", "\"t0\"", 200, "", kBody, nullptr},
      {"server without ranges", [](auto& r) { r.File(kUrl).Ranges = false; }, "4-", kTag, 200, "",
       kBody, nullptr},
      {"fault: ignore range",
       [](auto& r) { r.AddFault(kUrl, RepoFault::Of(RepoFault::Kind::kIgnoreRange)); }, "4-", kTag,
       200, "", kBody, nullptr},
      {"fault: wrong range",
       [](auto& r) { r.AddFault(kUrl, RepoFault::Of(RepoFault::Kind::kWrongRange, 0)); }, "4-",
       kTag, 206, "bytes 0-9/10", kBody, nullptr},
      {"missing file", [](auto& r) { r.Remove(kUrl); }, "", "", 404, "", "", "EFetchStatus"},
      {"503 carries Retry-After",
       [](auto& r) {
         r.File(kUrl).Status = 503;
         r.File(kUrl).RetryAfter = "120";
       },
       "", "", 503, "", "", "EFetchStatus", "120"},
      {"403 carries none",
       [](auto& r) {
         r.File(kUrl).Status = 403;
         r.File(kUrl).RetryAfter = "120";
       },
       "", "", 403, "", "", "EFetchStatus", ""},
      {"installer follows a redirect",
       [](auto& r) {
         r.File(kUrl).Status = 302;
         r.File(kUrl).Location = kOther;
       },
       "", "", 200, "", "other", nullptr},
      {"cut after 3", [](auto& r) { r.AddFault(kUrl, RepoFault::Cut(3)); }, "", "", 200, "", "012",
       "EIdConnClosedGracefully"},
      {"cut before the body", [](auto& r) { r.AddFault(kUrl, RepoFault::Cut(0)); }, "", "", 0, "",
       "", "EIdConnClosedGracefully"},
      {"cut at a file offset", [](auto& r) { r.AddFault(kUrl, RepoFault::CutAt(6)); }, "4-", kTag,
       206, "", "45", "EIdConnClosedGracefully"},
      {"cut past the end is no cut", [](auto& r) { r.AddFault(kUrl, RepoFault::Cut(10)); }, "", "",
       200, "", kBody, nullptr},
      {"read timeout",
       [](auto& r) { r.AddFault(kUrl, RepoFault::Of(RepoFault::Kind::kReadTimeout, 5)); }, "", "",
       200, "", "01234", "EIdReadTimeout"},
      {"quiet end announced everything",
       [](auto& r) { r.AddFault(kUrl, RepoFault::Of(RepoFault::Kind::kEnd, 0)); }, "", "", 200, "",
       "", nullptr, "", 10},
      {"refused", [](auto& r) { r.AddFault(kUrl, RepoFault::Of(RepoFault::Kind::kRefuse)); }, "",
       "", 0, "", "", "EIdSocketError"},
      {"serves another file", [](auto& r) { r.AddFault(kUrl, RepoFault::Serve(kOther)); }, "4-",
       kTag, 200, "", "other", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MemoryRepository repo;
    repo.SetChunkBytes(3);
    repo.Put(kUrl, {kBody, kTag, kDate});
    repo.Put(kOther, {"other", "\"o\""});
    if (c.setUp) c.setUp(repo);
    Recorder body;
    const auto fetcher = repo.Fetcher();
    TFetchHead head;
    std::string raised;
    try {
      head = fetcher->Get({kUrl, c.range, c.ifRange}, body);
    } catch (const EFetchStatus& error) {
      raised = error.ClassName();
      EXPECT_EQ(error.Status(), c.status);
      EXPECT_EQ(error.RetryAfter(), c.retryAfter);
      EXPECT_EQ(body.begun, 0) << "an error status delivers no body";
    } catch (const Exception& error) {
      raised = error.ClassName();
      EXPECT_EQ(body.head.Status, c.status);
      EXPECT_EQ(body.begun, c.body.empty() ? 0 : 1);
    }
    EXPECT_EQ(raised, c.raised ? c.raised : "");
    EXPECT_EQ(body.bytes, c.body);
    if (c.raised) continue;
    EXPECT_EQ(body.begun, 1);
    EXPECT_EQ(head.Status, c.status);
    EXPECT_EQ(body.head.Status, c.status);
    EXPECT_EQ(head.ContentRange, c.contentRange);
    EXPECT_EQ(head.ContentLength,
              c.announced >= 0 ? c.announced : static_cast<std::int64_t>(c.body.size()));
  }
}

TEST(MemoryRepository, LogsRequestsSpendsCountedFaultsAndKeepsTheCheckFromRedirects) {
  MemoryRepository repo;
  repo.Put(kUrl, {kBody, kTag});
  repo.Put(kOther, {"moved", {}, {}, 301, {}, kUrl});
  repo.AddFault(kUrl, RepoFault::Cut(2, 1));
  const auto fetcher = repo.Factory()(TFetchPurpose::fpInstaller, 77);
  Recorder first, second;
  EXPECT_THROW(fetcher->Get({kUrl, "1-", kTag}, first), EIdConnClosedGracefully);
  EXPECT_EQ(fetcher->Get({kUrl, "", kTag}, second).Status, 200);  // the fault is spent
  EXPECT_EQ(second.bytes, kBody);
  EXPECT_EQ(fetcher->Head(kUrl).ContentLength, 10);

  // A check's fetcher ends quietly with the redirect; an installer's went on to the target.
  Recorder redirected;
  const auto check = repo.Factory()(TFetchPurpose::fpCheck, 78);
  EXPECT_EQ(check->Get({kOther, {}, {}}, redirected).Status, 301);
  EXPECT_EQ(redirected.begun, 1);
  EXPECT_TRUE(redirected.bytes.empty());

  ASSERT_EQ(repo.Log().size(), 4u);
  EXPECT_EQ(repo.Log()[0].Range, "1-");
  EXPECT_EQ(repo.Log()[0].IfRange, kTag);
  EXPECT_EQ(repo.Log()[1].IfRange, "") << "If-Range goes only with a Range";
  EXPECT_EQ(repo.Log()[2].Method, "HEAD");
  EXPECT_EQ(repo.Log()[3].Purpose, TFetchPurpose::fpCheck);
  ASSERT_EQ(repo.Made().size(), 2u);
  EXPECT_EQ(repo.Made()[1].DeadlineMs, 78u);
  EXPECT_EQ(repo.Requests(kUrl).size(), 2u);
}

}  // namespace
}  // namespace brixa::test
