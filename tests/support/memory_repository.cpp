// The in-memory update server: range and If-Range as a real server judges them, the statuses
// the fetch seam raises, and the faults that cut, divert or refuse a GET.

#include "support/memory_repository.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "http/message/uri.h"
#include "runtime/network_exception.h"
#include "transport/io/io_handler_exceptions.h"
#include "transport/socket/stack_exceptions.h"
#include "update/update_errors.h"

namespace brixa::test {

namespace {

// As many hops as a client follows before it gives up on a redirect loop.
constexpr int kMaxRedirects = 15;
constexpr int kConnectionRefused = 10061;

std::string StatusLine(std::int32_t status) {
  const char* reason = "Error";
  switch (status) {
    case 403:
      reason = "Forbidden";
      break;
    case 404:
      reason = "Not Found";
      break;
    case 416:
      reason = "Range Not Satisfiable";
      break;
    case 429:
      reason = "Too Many Requests";
      break;
    case 500:
      reason = "Internal Server Error";
      break;
    case 503:
      reason = "Service Unavailable";
      break;
    default:
      break;
  }
  return "HTTP/1.1 " + std::to_string(status) + " " + reason;
}

// An https URL is answered by the server itself: there is no proxy in memory.
[[noreturn]] void RaiseStatus(const std::string& url, std::int32_t status,
                              const std::string& retryAfter = {}) {
  const bool backOff = status == 429 || status == 503;
  throw EFetchStatus(StatusLine(status), status, backOff ? retryAfter : std::string(),
                     url.rfind("https://", 0) == 0);
}

// A decimal number of at most 18 digits; none for anything else.
std::optional<std::int64_t> Number(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// One "first-last", "first-" or "-suffix" range over `size` bytes, as [from, to]. A range that
// cannot be read, or several, is ignored (the whole file is sent); one that starts at or past
// the end cannot be satisfied.
struct RangeAnswer {
  enum class Kind { kIgnore, kUnsatisfiable, kRange } What = Kind::kIgnore;
  std::int64_t From = 0;
  std::int64_t To = 0;
};

RangeAnswer JudgeRange(std::string_view range, std::int64_t size) {
  const std::size_t dash = range.find('-');
  if (dash == std::string_view::npos || range.find(',') != std::string_view::npos) return {};
  const auto first = Number(range.substr(0, dash));
  const std::string_view lastText = range.substr(dash + 1);
  const auto last = Number(lastText);
  if (!first) {  // a suffix: the last N bytes
    if (dash != 0 || !last) return {};
    if (*last == 0 || size == 0) return {RangeAnswer::Kind::kUnsatisfiable};
    return {RangeAnswer::Kind::kRange, size - std::min(*last, size), size - 1};
  }
  if (!lastText.empty() && (!last || *last < *first)) return {};
  if (*first >= size) return {RangeAnswer::Kind::kUnsatisfiable};
  return {RangeAnswer::Kind::kRange, *first,
          lastText.empty() ? size - 1 : std::min(*last, size - 1)};
}

// If-Range holds with a strong entity tag equal to the file's, or a date equal to its
// Last-Modified; a weak tag never does.
bool IfRangeHolds(const RepoFile& file, const std::string& validator) {
  if (validator.rfind("W/", 0) == 0) return false;
  if (validator.front() == '"') {
    return validator == file.ETag;
  }
  return !file.LastModified.empty() && validator == file.LastModified;
}

bool CutsBody(RepoFault::Kind kind) {
  return kind == RepoFault::Kind::kCut || kind == RepoFault::Kind::kReadTimeout ||
         kind == RepoFault::Kind::kEnd || kind == RepoFault::Kind::kDeadline;
}

}  // namespace

class MemoryRepository::Fetch final : public TUpdateFetcher {
 public:
  Fetch(MemoryRepository& repository, TFetchPurpose purpose)
      : repository_(repository), purpose_(purpose) {}
  TFetchHead Head(const std::string& url) override {
    return repository_.Serve("HEAD", {url, {}, {}}, nullptr, purpose_, rule_);
  }
  TFetchHead Get(const TFetchRequest& request, TFetchBody& body) override {
    return repository_.Serve("GET", request, &body, purpose_, rule_);
  }
  void LimitRedirects(TRedirectRule rule) override { rule_ = std::move(rule); }

 private:
  MemoryRepository& repository_;
  TFetchPurpose purpose_;
  TRedirectRule rule_;
};

std::unique_ptr<TUpdateFetcher> MemoryRepository::Fetcher(TFetchPurpose purpose) {
  return std::make_unique<Fetch>(*this, purpose);
}

TFetcherFactory MemoryRepository::Factory() {
  return [this](TFetchPurpose purpose, std::uint64_t deadlineMs) {
    made_.push_back({purpose, deadlineMs});
    return Fetcher(purpose);
  };
}

std::vector<RepoRequest> MemoryRepository::Requests(const std::string& url,
                                                    const std::string& method) const {
  std::vector<RepoRequest> found;
  for (const RepoRequest& request : log_) {
    if (request.Url == url && request.Method == method) found.push_back(request);
  }
  return found;
}

bool MemoryRepository::TakeFault(const std::string& url, RepoFault& fault) {
  const auto of = faults_.find(url);
  if (of == faults_.end()) return false;
  for (RepoFault& candidate : of->second) {
    if (candidate.Times == 0) continue;
    if (candidate.Times > 0) --candidate.Times;
    fault = candidate;
    return true;
  }
  return false;
}

TFetchHead MemoryRepository::Serve(const std::string& method, const TFetchRequest& request,
                                   TFetchBody* body, TFetchPurpose purpose,
                                   const TRedirectRule& rule) {
  const bool ranged = !request.Range.empty();
  std::string url = request.Url;
  for (int hop = 0;; ++hop) {
    log_.push_back({method, url, request.Range, ranged ? request.IfRange : std::string(), purpose});
    const std::size_t logged = log_.size() - 1;
    RepoFault fault;
    const bool faulty = body != nullptr && TakeFault(url, fault);
    using Kind = RepoFault::Kind;
    if (faulty && fault.What == Kind::kRefuse) {
      throw EIdSocketError("Socket Error # 10061\r\nConnection refused.", kConnectionRefused);
    }
    const auto found = files_.find(faulty && fault.What == Kind::kServe ? fault.Other : url);
    if (found == files_.end()) RaiseStatus(url, 404);
    const RepoFile& file = found->second;
    if (file.Status >= 400) RaiseStatus(url, file.Status, file.RetryAfter);

    TFetchHead head;
    head.Status = file.Status;
    head.Url = url;
    if (file.Status >= 300 && file.Status < 400) {
      if (purpose == TFetchPurpose::fpInstaller && !file.Location.empty() && hop < kMaxRedirects) {
        std::string why;
        if (!rule.Allows(TIdURI(url), file.Location, why)) throw EDeliveryRefused(why);
        url = file.Location;
        continue;
      }
      head.ContentLength = 0;
      if (body != nullptr) body->Begin(head);
      return head;
    }
    head.ETag = file.ETag;
    head.LastModified = file.LastModified;
    const auto size = static_cast<std::int64_t>(file.Body.size());
    std::int64_t from = 0;
    std::int64_t to = size - 1;
    const bool honoured = file.Status == 200 && file.Ranges && ranged && body != nullptr &&
                          !(faulty && fault.What == Kind::kIgnoreRange);
    if (honoured && (request.IfRange.empty() || IfRangeHolds(file, request.IfRange))) {
      const RangeAnswer range = JudgeRange(request.Range, size);
      if (range.What == RangeAnswer::Kind::kUnsatisfiable) RaiseStatus(url, 416);
      if (range.What == RangeAnswer::Kind::kRange) {
        head.Status = 206;
        from = range.From;
        to = range.To;
      }
    }
    if (faulty && fault.What == Kind::kWrongRange && ranged) {
      head.Status = 206;
      from = std::min(fault.Bytes, size);
      to = size - 1;
    }
    if (head.Status == 206) {
      head.ContentRange =
          "bytes " + std::to_string(from) + "-" + std::to_string(to) + "/" + std::to_string(size);
    }
    const std::int64_t length = std::max<std::int64_t>(to - from + 1, 0);
    head.ContentLength = file.AnnounceLength ? length : -1;
    if (body == nullptr) return head;

    std::int64_t end = length;
    if (faulty && CutsBody(fault.What)) {
      end = std::clamp<std::int64_t>(fault.AtFileOffset ? fault.Bytes - from : fault.Bytes, 0,
                                     length);
    }
    const bool cut = end < length;
    for (std::int64_t sent = 0; sent < end;) {
      const std::int64_t count = std::min(chunkBytes_, end - sent);
      if (sent == 0) body->Begin(head);
      body->Write(file.Body.data() + from + sent, count);
      log_[logged].Delivered += count;
      sent += count;
    }
    if (cut && fault.What == Kind::kCut) {
      throw EIdConnClosedGracefully(RSConnectionClosedGracefully);
    }
    if (cut && fault.What == Kind::kReadTimeout) throw EIdReadTimeout(RSReadTimeout);
    if (cut && fault.What == Kind::kDeadline) {
      throw EUpdateDeadlinePassed("the overall deadline has passed");
    }
    if (end == 0) body->Begin(head);
    return head;
  }
}

}  // namespace brixa::test
