#pragma once
// TIdHTTPFetcher: the update flow's fetch seam over the library's own client.

#include <cstdint>
#include <memory>
#include <string>

#include "update/net/fetcher.h"
#include "update/net/low_speed.h"

namespace brixa {

class TIdHTTP;
class EIdHTTPProtocolException;

// Every request goes through `http` as SetUpUpdateClient set it up, with `guard` as its
// intercept: before each one the proxy its URL calls for and timeouts no longer than what is
// left of the guard's deadline (PrepareUpdateRequest), and a fresh low-speed window. The client
// and the guard are borrowed and must outlive the fetcher; the client's redirect setting is
// used as it is, and its OnRedirect is the fetcher's (the redirect rule).
class TIdHTTPFetcher final : public TUpdateFetcher {
 public:
  TIdHTTPFetcher(TIdHTTP& http, TLowSpeedGuard& guard);

  TFetchHead Head(const std::string& url) override;
  TFetchHead Get(const TFetchRequest& request, TFetchBody& body) override;
  void LimitRedirects(TRedirectRule rule) override;

 private:
  void Start(const std::string& url);
  [[noreturn]] void RaiseFailure(const EIdHTTPProtocolException& failure);

  TIdHTTP& http_;
  TLowSpeedGuard& guard_;
  TRedirectRule rule_;
  std::string refused_;  // why the request's last redirect was not followed
};

// The production factory: each fetcher owns a client of its own set up as every update client
// is, with a guard ending at the given deadline under `lowSpeed`. A check's client follows no
// redirect; an installer's follows them.
[[nodiscard]] TFetcherFactory HttpFetcherFactory(TLowSpeedRule lowSpeed = kUpdaterLowSpeedRule);

}  // namespace brixa
