#pragma once
// The set-up every fetch of the updater shares: TLS, proxy, timeouts, the low-speed guard and
// the overall deadline; and bounded fetches into memory.

#include <cstdint>
#include <string>

#include "update/net/low_speed.h"
#include "update/update_errors.h"

namespace brixa {

class TIdHTTP;
class TUpdateFetcher;

// The longest the updater's clients wait for the next byte from the server, and for a
// connection. Without a limit a server that stalls would keep the updater, and with it the
// single-instance marker, forever; the download window offers no way to close it.
inline constexpr std::int32_t kUpdaterReadTimeoutMs = 20000;
inline constexpr std::int32_t kUpdaterConnectTimeoutMs = 20000;

// The whole run, version check and download, ends by this: a check or a download still going
// then fails like any other, and the single-instance marker is released. Thirty minutes lets a
// 200 MB installer through at 120 kB/s, far slower than any line an installer is fetched over
// today, while a server or proxy that keeps the updater busy (a drip just above the low-speed
// limit, endless interim responses) can hold back the next update by half an hour at most.
inline constexpr std::uint64_t kUpdaterDeadlineMs = 30 * 60 * 1000;
// The version check's own share of it: a manifest of at most 64 KiB and its signature.
inline constexpr std::uint64_t kVersionCheckDeadlineMs = 2 * 60 * 1000;

// Gives `http` the update server's TLS handler (AttachUpdateTls), the read and connect
// timeouts and `guard` as its intercept, and leaves error pages unread (KeepErrorText off).
// `guard` must outlive the client's use of it.
void SetUpUpdateClient(TIdHTTP& http, TLowSpeedGuard& guard);

// Before each request for `url`: the proxy that URL calls for (a redirect may have chosen
// another), and timeouts no longer than what is left until the guard's deadline. Raises
// EUpdateDeadlinePassed when nothing is left.
void PrepareUpdateRequest(TIdHTTP& http, TLowSpeedGuard& guard, const std::string& url);

// GETs `url` into memory through `fetcher` and returns the body. Raises what the fetcher
// raises, and EUpdateFetchError for a final status other than 2xx or a body above `limit` bytes
// (the transfer is cut off there, never read to its end).
[[nodiscard]] std::string FetchBounded(TUpdateFetcher& fetcher, const std::string& url,
                                       std::int64_t limit);

}  // namespace brixa
