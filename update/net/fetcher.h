#pragma once
// The one seam between the update flow and the network: every request the version check and
// the installer download make goes through a TUpdateFetcher. In production it is a TIdHTTP
// (http_fetcher.h); the tests put an in-memory repository behind it, so every attack on the
// flow runs without a socket.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "update/net/redirect_rule.h"

namespace brixa {

// The final response's head, as far as the update flow reads it.
struct TFetchHead {
  std::int32_t Status = 0;
  std::int64_t ContentLength = -1;  // -1: not announced
  std::string ContentRange;         // "Content-Range" as sent; "" when absent
  std::string ETag;                 // as sent; "" when absent
  std::string LastModified;         // as sent; "" when absent
  std::string Url;                  // the URL that answered, after any redirect followed
};

struct TFetchRequest {
  std::string Url;
  // Not empty: "Range: bytes=<Range>" and "If-Range: <IfRange>" go with the request.
  std::string Range;
  std::string IfRange;
};

// Where a body goes. The fetcher calls Begin exactly once per response it delivers: before the
// first body byte, or after the response when it had no body. Begin or Write may raise to
// refuse the body; the fetcher then stops reading and the connection is not used again.
class TFetchBody {
 public:
  virtual ~TFetchBody() = default;
  virtual void Begin(const TFetchHead& head) = 0;
  virtual void Write(const void* data, std::int64_t count) = 0;
};

// Requests of one purpose (the version check, the signature, the installer), one after another
// on the calling thread. Both requests:
//   - return the final response's head when it is 2xx or 3xx (a redirect the fetcher does not
//     follow ends the request quietly with the 3xx);
//   - raise EFetchStatus for a final status of 400 or more, with "Retry-After" for 429 and 503;
//   - raise the transport's exception, or EUpdateTooSlow / EUpdateDeadlinePassed, for a
//     connection that fails, stalls, trickles or outlives the fetcher's deadline. A body ended
//     early by the peer is not an error here: the caller compares what arrived with what was
//     announced.
// A fetcher made for the installer follows redirects, as far as its TRedirectRule allows (a
// redirect it refuses raises EDeliveryRefused naming the target); one made for the check
// follows none.
class TUpdateFetcher {
 public:
  virtual ~TUpdateFetcher() = default;
  virtual TFetchHead Head(const std::string& url) = 0;
  virtual TFetchHead Get(const TFetchRequest& request, TFetchBody& body) = 0;
  // The rule every later redirect is held to; until set, any target.
  virtual void LimitRedirects(TRedirectRule rule) = 0;
};

// How a fetcher is made for each purpose, ending by `deadlineMs` (MonotonicMilliseconds).
enum class TFetchPurpose { fpCheck, fpInstaller };
using TFetcherFactory =
    std::function<std::unique_ptr<TUpdateFetcher>(TFetchPurpose purpose, std::uint64_t deadlineMs)>;

}  // namespace brixa
