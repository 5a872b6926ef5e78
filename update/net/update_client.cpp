// One set-up for every client of the updater, and the bounded in-memory fetch.

#include "update/net/update_client.h"

#include <algorithm>

#include "http/client/http.h"
#include "platform/core/stream.h"
#include "platform/thread/clock.h"
#include "update/net/bounded_stream.h"
#include "update/net/fetcher.h"
#include "update/net/proxy_route.h"
#include "update/net/update_tls.h"

namespace brixa {

namespace {

constexpr std::int32_t kFirstSuccessStatus = 200;
constexpr std::int32_t kLastSuccessStatus = 299;

// Collects a body into memory, whatever the head: the status is judged once the request ends.
class TMemoryBody final : public TFetchBody {
 public:
  explicit TMemoryBody(TStream& target) noexcept : target_(target) {}
  void Begin(const TFetchHead& /*head*/) override {}
  void Write(const void* data, std::int64_t count) override { target_.WriteBuffer(data, count); }

 private:
  TStream& target_;
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
  // No update error is explained by its page: at most a small one is read off the connection.
  http.SetKeepErrorText(false);
}

void PrepareUpdateRequest(TIdHTTP& http, TLowSpeedGuard& guard, const std::string& url) {
  const std::uint64_t now = MonotonicMilliseconds();
  if (now >= guard.DeadlineMs()) throw EUpdateDeadlinePassed("the update took longer than allowed");
  const std::uint64_t left = guard.DeadlineMs() - now;
  http.SetReadTimeout(Clip(kUpdaterReadTimeoutMs, left));
  http.SetConnectTimeout(Clip(kUpdaterConnectTimeoutMs, left));
  RouteThroughProxy(http, UpdaterProxyRoute(), url);
}

std::string FetchBounded(TUpdateFetcher& fetcher, const std::string& url, std::int64_t limit) {
  TMemoryStream memory;
  // A hostile server cannot fill memory with what should be a small file.
  TBoundedStream bounded(memory, limit, [limit] {
    throw EUpdateFetchError("the file is larger than " + std::to_string(limit) + " bytes");
  });
  TMemoryBody body(bounded);
  const std::int32_t status = fetcher.Get({url, {}, {}}, body).Status;
  if (status < kFirstSuccessStatus || status > kLastSuccessStatus) {
    throw EUpdateFetchError("status " + std::to_string(status) + " for " + url);
  }
  return memory.DataString();
}

}  // namespace brixa
