// Accepting "Set-cookie" values (size, control characters and domain checked) and choosing the
// cookies a request may carry.

#include "http/cookies/cookie_manager.h"

#include <cmath>
#include <utility>

#include "http/message/uri.h"
#include "platform/core/exception.h"
#include "runtime/text/header_value.h"

namespace brixa {

namespace {
constexpr std::string_view CookieSeparator = "; ";

// RFC 6265bis, 5.6: a cookie text with a control character other than a tab is ignored whole.
bool HoldsControlCharacter(std::string_view text) {
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return true;
  }
  return false;
}

// Whether a whole second of the clock may lie between `earlier` and `later` (either order):
// an expiry date converted to local time is a whole second up to rounding, so a cookie can
// expire between two instants only if one lies between them. The margin covers the rounding.
bool WholeSecondBetween(TDateTime earlier, TDateTime later) {
  constexpr double kSecondsPerDay = 86400.0;
  constexpr double kMargin = 0.001;
  double from = earlier * kSecondsPerDay;
  double to = later * kSecondsPerDay;
  if (to < from) std::swap(from, to);
  return std::floor(from - kMargin) != std::floor(to + kMargin);
}
}  // namespace

TIdCookieManager::TIdCookieManager(TComponent* owner, TOnManagerEvent onCreate)
    : TIdInitializerComponent(owner), cookies_(std::make_unique<TIdCookies>()) {
  OnCreate = std::move(onCreate);
  if (OnCreate) OnCreate(this, cookies_.get());
}

TIdCookieManager::~TIdCookieManager() {
  try {
    PurgeExpired();
  } catch (const Exception&) {
    // Without a time-zone answer nothing can be judged expired; the cookies go anyway.
  }
  if (OnDestroy) OnDestroy(this, cookies_.get());
}

void TIdCookieManager::AddSetCookie(const std::string& cookieText, const std::string& host) {
  StoreCookie(std::make_unique<TIdCookieRFC2109>(), cookieText, host);
}

void TIdCookieManager::AddSetCookie2(const std::string& cookieText, const std::string& host) {
  StoreCookie(std::make_unique<TIdCookieRFC2965>(), cookieText, host);
}

// Cookies that are malformed, that name a domain the host does not lie in, or that the
// application refuses are dropped without a report.
void TIdCookieManager::StoreCookie(std::unique_ptr<TIdCookieRFC2109> cookie,
                                   const std::string& cookieText, const std::string& host) {
  if (cookieText.size() > kMaxCookieTextBytes || HoldsControlCharacter(cookieText)) return;
  cookie->SetClock(clock_);
  try {
    cookie->ParseCookieText(cookieText);
  } catch (const EConvertError&) {
    return;  // a "Port" list item that is not a number
  }
  if (cookie->Name().empty()) return;
  if (cookie->Name().size() + cookie->Value().size() > kMaxCookieBytes) return;
  if (cookie->Domain().empty()) cookie->SetDomain(host);
  if (!DomainMatches(host, cookie->Domain())) return;
  bool accept = true;
  if (OnNewCookie) OnNewCookie(this, cookie.get(), accept);
  if (accept) cookies_->FileCookie(std::move(cookie));
}

void TIdCookieManager::PurgeExpired() {
  cookies_->PurgeExpired(LocalNowBy(clock_));
}

void TIdCookieManager::PurgeExpiredBeforeRequest() {
  const TDateTime now = LocalNowBy(clock_);
  const std::lock_guard<std::mutex> memo(purgeMemoLock_);
  if (purgeMemoValid_ && cookies_->WriteLocks() == purgeMemoWrites_ &&
      !WholeSecondBetween(purgeMemoTime_, now)) {
    return;
  }
  const std::uint64_t before = cookies_->WriteLocks();
  cookies_->PurgeExpired(now);
  // The purge took the write lock once; any further write (a cookie freed, another thread
  // storing one) leaves the memo unset, so the next request purges again.
  purgeMemoValid_ = cookies_->WriteLocks() == before + 1;
  purgeMemoTime_ = now;
  purgeMemoWrites_ = before + 1;
}

std::string TIdCookieManager::BuildCookieHeader(const TIdURI& uri, bool secure) {
  PurgeExpiredBeforeRequest();  // takes the write lock, so never while the read lock is held
  const std::string path = uri.Directory() + uri.Resource();
  const TIdCookieTableLock guard(*cookies_, caRead);
  const TIdCookieDomainTable& domains = guard.Table();
  // Classified once for all stored domains (and not at all when there are none).
  const TCookieHost host = domains.Count() > 0 ? ClassifyCookieHost(uri.Host()) : TCookieHost{};
  // (path, cookie) pairs: per domain in table order, each domain's cookies newest name first;
  // read back to front below, which gives the last matching domain first and each domain's
  // cookies in the order their names were first stored.
  TIdCookieList matches;
  for (int d = 0; d < domains.Count(); ++d) {
    if (!DomainMatches(host, domains.Strings(d))) continue;
    const TIdCookieList& names = *domains.Objects(d);
    for (int i = names.Count() - 1; i >= 0; --i) {
      TIdCookieRFC2109* cookie = names.Objects(i);
      // A plain prefix of the path: "/a" also covers "/ab".
      if (path.compare(0, cookie->Path().size(), cookie->Path()) != 0) continue;
      if (cookie->Secure() && !secure) continue;
      if (cookie->Value().empty()) continue;
      matches.AddObject(cookie->Path(), cookie);
    }
  }
  std::string header;
  for (int i = matches.Count() - 1; i >= 0; --i) {
    const std::string pair = matches.Objects(i)->GetNameValue();
    const std::size_t separator = header.empty() ? 0 : CookieSeparator.size();
    if (header.size() + separator + pair.size() > kMaxCookieHeaderBytes) continue;
    if (separator != 0) header += CookieSeparator;
    header += pair;
  }
  return header;
}

}  // namespace brixa
