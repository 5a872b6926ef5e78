// The fetch seam over TIdHTTP: request set-up, the body adapter the client writes into, and
// the translation of error statuses.

#include "update/net/http_fetcher.h"

#include <utility>

#include "http/client/http.h"
#include "http/client/http_protocol_exception.h"
#include "platform/core/stream.h"
#include "runtime/text/text.h"
#include "update/net/update_client.h"
#include "update/state/retry_after.h"

namespace brixa {

namespace {

// Bytes an installer download asks of the socket per read (the I/O handler's default is
// 32 KiB): an installer arrives in a quarter of the reads, with a progress report per read
// still many times finer than a progress bar shows.
constexpr std::int32_t kInstallerReceiveSize = 128 * 1024;

TFetchHead HeadOf(TIdHTTPResponse& response) {
  TFetchHead head;
  head.Status = response.StatusCode();
  head.ContentLength = response.ContentLength();
  head.ContentRange = response.HeaderLines().HeaderValue("Content-Range");
  head.ETag = response.ETag();
  head.LastModified = response.HeaderLines().HeaderValue("Last-Modified");
  return head;
}

// The URL that answered; "" when the client holds none it can write.
std::string AnsweringUrl(TIdHTTP& http) {
  try {
    return http.CurrentURI().URI();
  } catch (const Exception&) {
    return {};
  }
}

// What the client writes a body into: the body is told the head before its first byte. The
// client only asks where it stands and, after a redirect, goes back to where it started, before
// any byte was written; any other move is refused.
class TBodyStream final : public TStream {
 public:
  TBodyStream(TIdHTTP& http, TFetchBody& body) noexcept : http_(http), body_(body) {}

  void Begin() {
    if (begun_) return;
    begun_ = true;
    TFetchHead head = HeadOf(http_.LastResponse());
    head.Url = AnsweringUrl(http_);
    body_.Begin(head);
  }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    Begin();
    body_.Write(buffer, count);
    written_ += count;
    return count;
  }
  std::int64_t Read(void* /*buffer*/, std::int64_t /*count*/) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t target = origin == TSeekOrigin::soBeginning ? offset : written_ + offset;
    if (target != written_) throw EDeliveryRefused("the client moved within a body it had written");
    return written_;
  }
  void SetSize(std::int64_t size) override {
    if (size != written_) throw EDeliveryRefused("the client cut a body it had written");
  }
  [[nodiscard]] std::int64_t Size() override { return written_; }

 private:
  TIdHTTP& http_;
  TFetchBody& body_;
  bool begun_ = false;
  std::int64_t written_ = 0;
};

// Leaves the client without the range of one request, whatever way the request ends.
class TRangeHeaders {
 public:
  TRangeHeaders(TIdHTTP& http, const TFetchRequest& request) : http_(http) {
    if (!request.Range.empty()) {
      http_.Request().SetRange(request.Range);
      http_.Request().SetIfRange(request.IfRange);
    }
  }
  ~TRangeHeaders() {
    http_.Request().SetRange({});
    http_.Request().SetIfRange({});
  }
  TRangeHeaders(const TRangeHeaders&) = delete;
  TRangeHeaders& operator=(const TRangeHeaders&) = delete;

 private:
  TIdHTTP& http_;
};

[[noreturn]] void RaiseStatus(TIdHTTP& http, const EIdHTTPProtocolException& failure) {
  const std::int32_t status = failure.ReplyCode();
  const bool fromOrigin = SameTextNoCase(http.CurrentURI().Protocol(), "https") &&
                          http.ProxyParams().ProxyServer().empty();
  throw EFetchStatus(failure.Message(), status,
                     IsBackOffStatus(status) ? http.LastResponse().RetryAfter() : std::string(),
                     fromOrigin);
}

// A fetcher that owns its client and guard: the production factory's.
class TOwnedHttpFetcher final : public TUpdateFetcher {
 public:
  TOwnedHttpFetcher(TFetchPurpose purpose, std::uint64_t deadlineMs, TLowSpeedRule lowSpeed)
      : guard_(nullptr, lowSpeed), fetcher_(http_, guard_) {
    guard_.SetDeadline(deadlineMs);
    SetUpUpdateClient(http_, guard_);
    if (purpose == TFetchPurpose::fpInstaller) {
      http_.SetHandleRedirects(true);
      http_.IOHandler()->SetRecvBufferSize(kInstallerReceiveSize);
    }
  }
  TFetchHead Head(const std::string& url) override { return fetcher_.Head(url); }
  TFetchHead Get(const TFetchRequest& request, TFetchBody& body) override {
    return fetcher_.Get(request, body);
  }
  void LimitRedirects(TRedirectRule rule) override { fetcher_.LimitRedirects(std::move(rule)); }

 private:
  // The guard is made before the client and so outlives the client that uses it.
  TLowSpeedGuard guard_;
  TIdHTTP http_;
  TIdHTTPFetcher fetcher_;
};

}  // namespace

TIdHTTPFetcher::TIdHTTPFetcher(TIdHTTP& http, TLowSpeedGuard& guard) : http_(http), guard_(guard) {
  http_.OnRedirect = [this](TComponent*, std::string& dest, std::int32_t&, bool& handled,
                            std::string&) {
    std::string why;
    if (handled && !rule_.Allows(http_.CurrentURI(), dest, why)) {
      handled = false;
      refused_ = why;
    }
  };
}

void TIdHTTPFetcher::LimitRedirects(TRedirectRule rule) {
  rule_ = std::move(rule);
}

void TIdHTTPFetcher::Start(const std::string& url) {
  refused_.clear();
  guard_.Restart();
  PrepareUpdateRequest(http_, guard_, url);
}

void TIdHTTPFetcher::RaiseFailure(const EIdHTTPProtocolException& failure) {
  if (!refused_.empty()) throw EDeliveryRefused(refused_);
  RaiseStatus(http_, failure);
}

TFetchHead TIdHTTPFetcher::Head(const std::string& url) {
  Start(url);
  try {
    http_.Head(url);
  } catch (const EIdHTTPProtocolException& failure) {
    RaiseFailure(failure);
  }
  TFetchHead head = HeadOf(http_.LastResponse());
  head.Url = AnsweringUrl(http_);
  return head;
}

TFetchHead TIdHTTPFetcher::Get(const TFetchRequest& request, TFetchBody& body) {
  TRangeHeaders range(http_, request);
  Start(request.Url);
  TBodyStream stream(http_, body);
  try {
    http_.Get(request.Url, &stream);
  } catch (const EIdHTTPProtocolException& failure) {
    RaiseFailure(failure);
  }
  stream.Begin();  // a response without a body byte is judged all the same
  TFetchHead head = HeadOf(http_.LastResponse());
  head.Url = AnsweringUrl(http_);
  return head;
}

TFetcherFactory HttpFetcherFactory(TLowSpeedRule lowSpeed) {
  return [lowSpeed](TFetchPurpose purpose, std::uint64_t deadlineMs) {
    return std::unique_ptr<TUpdateFetcher>(
        std::make_unique<TOwnedHttpFetcher>(purpose, deadlineMs, lowSpeed));
  };
}

}  // namespace brixa
