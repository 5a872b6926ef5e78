#pragma once
// TIdCookieManager: keeps the cookies servers set and builds the "Cookie" header of each request.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "http/cookies/cookie_collection.h"
#include "runtime/time/local_time.h"
#include "runtime/work_component.h"

namespace brixa {

class TIdURI;

using TOnManagerEvent = std::function<void(TComponent* ASender, TIdCookies* ACookieCollection)>;
// VAccept arrives true; a handler that sets it false keeps the cookie out of the store.
using TOnNewCookieEvent =
    std::function<void(TComponent* ASender, TIdCookieRFC2109* ACookie, bool& VAccept)>;

// Keeps the cookies servers set and builds the "Cookie" header for later requests.
//
// The HTTP client hands every "Set-cookie" / "Set-cookie2" value to AddSetCookie /
// AddSetCookie2 with the request host, and asks BuildCookieHeader before each request.
// Cookies live in memory only, until they expire or the manager goes. Every method may be
// called from any thread; events run on the calling thread, without the store's lock held.
class TIdCookieManager : public TIdInitializerComponent {
 public:
  // A cookie whose name and value together are longer is refused, as browsers do.
  static constexpr std::size_t kMaxCookieBytes = 4096;
  // A cookie text (with its attributes) longer than this is refused unread.
  static constexpr std::size_t kMaxCookieTextBytes = 8192;
  // The "Cookie" value stays within what common servers take in one header line (8 KiB with
  // its name); cookies that would pass it are left out, the rest still go.
  static constexpr std::size_t kMaxCookieHeaderBytes = 8000;

  // `onCreate`, when given, is kept as OnCreate and fired once the store exists.
  explicit TIdCookieManager(TComponent* owner = nullptr, TOnManagerEvent onCreate = {});
  // Purges expired cookies, fires OnDestroy, then frees the store.
  ~TIdCookieManager() override;

  // The "Cookie" value for a request to `uri`: name=value of every unexpired cookie with a
  // value whose domain matches the host and whose path is a prefix of the request path
  // (secure cookies only when `secure`), "; " between them, at most kMaxCookieHeaderBytes.
  // Empty text when none.
  [[nodiscard]] std::string BuildCookieHeader(const TIdURI& uri, bool secure);
  // Stores the cookie of one "Set-cookie" value received from `host`. A text holding a control
  // character (other than a tab), or past the size limits above, is refused: it could not be
  // sent back in a header line.
  void AddSetCookie(const std::string& cookieText, const std::string& host);
  // Stores the cookie of one "Set-cookie2" value received from `host`.
  void AddSetCookie2(const std::string& cookieText, const std::string& host);
  // Frees every cookie whose expiry has passed.
  void PurgeExpired();

  [[nodiscard]] TIdCookieDomainTable& LockDomainTable(TIdCookieAccess access) {
    return cookies_->LockDomainTable(access);
  }
  void UnlockDomainTable(TIdCookieAccess access) { cookies_->UnlockDomainTable(access); }
  [[nodiscard]] TIdCookies& CookieCollection() noexcept { return *cookies_; }

  // What "now" is for expiry; empty means LocalNow. Cookies stored later use it too.
  void SetClock(TIdLocalClock clock) { clock_ = std::move(clock); }

  TOnManagerEvent OnCreate;
  TOnManagerEvent OnDestroy;
  TOnNewCookieEvent OnNewCookie;

 private:
  void StoreCookie(std::unique_ptr<TIdCookieRFC2109> cookie, const std::string& cookieText,
                   const std::string& host);

  // Purges before a request unless nothing can have expired since the last purge.
  void PurgeExpiredBeforeRequest();

  std::unique_ptr<TIdCookies> cookies_;
  TIdLocalClock clock_;
  // The last purge before a request that freed nothing: its time and the store's write count
  // right after it. Expiry dates fall on whole seconds, so until the clock reaches the next
  // one (and while nobody writes to the store) another purge would free nothing either.
  std::mutex purgeMemoLock_;
  bool purgeMemoValid_ = false;
  TDateTime purgeMemoTime_ = 0;
  std::uint64_t purgeMemoWrites_ = 0;
};

}  // namespace brixa
