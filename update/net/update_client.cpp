// One set-up for every client of the updater, and the bounded in-memory fetch.

#include "update/net/update_client.h"

#include <algorithm>

#include "http/client/http.h"
#include "platform/core/stream.h"
#include "platform/thread/clock.h"
#include "update/net/proxy_route.h"
#include "update/net/update_tls.h"

namespace brixa {

namespace {

constexpr std::int32_t kFirstSuccessStatus = 200;
constexpr std::int32_t kLastSuccessStatus = 299;

// A memory stream that refuses to grow past `limit` bytes, so a hostile server cannot fill
// memory with what should be a small file.
class TBoundedMemoryStream : public TMemoryStream {
 public:
  explicit TBoundedMemoryStream(std::int64_t limit) : limit_(limit) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    if (Position() + count > limit_) Refuse();
    return TMemoryStream::Write(buffer, count);
  }
  void SetSize(std::int64_t size) override {
    if (size > limit_) Refuse();
    TMemoryStream::SetSize(size);
  }

 private:
  [[noreturn]] void Refuse() const {
    throw EUpdateFetchError("the file is larger than " + std::to_string(limit_) + " bytes");
  }
  std::int64_t limit_;
};

std::int32_t Clip(std::int32_t timeoutMs, std::uint64_t leftMs) {
  return static_cast<std::int32_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(timeoutMs),
                                                           std::max<std::uint64_t>(leftMs, 1)));
}

}  // namespace

void SetUpUpdateClient(TIdHTTP& http, TLowSpeedGuard& guard) {
  AttachUpdateTls(http);
  http.SetReadTimeout(kUpdaterReadTimeoutMs);
  http.SetConnectTimeout(kUpdaterConnectTimeoutMs);
  http.SetIntercept(&guard);
}

void PrepareUpdateRequest(TIdHTTP& http, TLowSpeedGuard& guard, const std::string& url) {
  const std::uint64_t now = MonotonicMilliseconds();
  if (now >= guard.DeadlineMs()) throw EUpdateDeadlinePassed("the update took longer than allowed");
  const std::uint64_t left = guard.DeadlineMs() - now;
  http.SetReadTimeout(Clip(kUpdaterReadTimeoutMs, left));
  http.SetConnectTimeout(Clip(kUpdaterConnectTimeoutMs, left));
  RouteThroughProxy(http, UpdaterProxyRoute(), url);
}

std::string FetchBounded(TIdHTTP& http, TLowSpeedGuard& guard, const std::string& url,
                         std::int64_t limit) {
  TBoundedMemoryStream body(limit);
  PrepareUpdateRequest(http, guard, url);
  http.Get(url, &body);
  const std::int32_t status = http.LastResponse().StatusCode();
  if (status < kFirstSuccessStatus || status > kLastSuccessStatus) {
    throw EUpdateFetchError("status " + std::to_string(status) + " for " + url);
  }
  return body.DataString();
}

}  // namespace brixa
