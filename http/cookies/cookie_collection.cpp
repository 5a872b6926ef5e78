// Filing, unlisting and purging cookies in the domain table, within per-domain and total limits.

#include "http/cookies/cookie_collection.h"

#include <algorithm>

namespace brixa {

TIdCookies::TIdCookies() = default;

TIdCookies::~TIdCookies() {
  lock_.BeginWrite();
  items_.clear();
  domains_.Clear();
  lock_.EndWrite();
}

TIdCookieDomainTable& TIdCookies::LockDomainTable(TIdCookieAccess access) {
  if (access == caRead) {
    lock_.BeginRead();
  } else {
    lock_.BeginWrite();
    ++writeLocks_;
  }
  return domains_;
}

void TIdCookies::UnlockDomainTable(TIdCookieAccess access) {
  if (access == caRead) {
    lock_.EndRead();
  } else {
    lock_.EndWrite();
  }
}

TIdCookieRFC2109* TIdCookies::FileCookie(std::unique_ptr<TIdCookieRFC2109> cookie) {
  const TIdCookieTableLock guard(*this, caReadWrite);
  int domainIndex = domains_.IndexOf(cookie->Domain());
  if (domainIndex < 0) {
    domainIndex = domains_.AddObject(cookie->Domain(), std::make_unique<TIdCookieList>());
  }
  TIdCookieList& names = *domains_.Objects(domainIndex);
  const int nameIndex = names.IndexOf(cookie->Name());
  if (nameIndex >= 0) {
    TIdCookieRFC2109* stored = names.Objects(nameIndex);
    stored->TakeOverFrom(*cookie);
    return stored;  // the newcomer is freed on return
  }
  TIdCookieRFC2109* filed = cookie.get();
  items_.push_back(std::move(cookie));
  names.AddObject(filed->Name(), filed);
  // The domain's list is in the order its names were first filed, and so is items_.
  if (names.Count() > kMaxCookiesPerDomain) FreeCookie(names.Objects(0));
  if (static_cast<int>(items_.size()) > kMaxCookies) FreeCookie(items_.front().get());
  return filed;
}

// By identity rather than by domain and name: a filed cookie whose fields were changed since
// must not leave a dangling entry behind. Its own domain is looked at first, which is where it
// is unless its Domain was changed after filing.
void TIdCookies::Unlist(const TIdCookieRFC2109& cookie) {
  const auto unlistFrom = [&](int d) {
    TIdCookieList& names = *domains_.Objects(d);
    for (int i = 0; i < names.Count(); ++i) {
      if (names.Objects(i) != &cookie) continue;
      names.Delete(i);
      if (names.Empty()) domains_.Delete(d);
      return true;
    }
    return false;
  };
  const int own = domains_.IndexOf(cookie.Domain());
  if (own >= 0 && unlistFrom(own)) return;
  for (int d = 0; d < domains_.Count(); ++d) {
    if (d != own && unlistFrom(d)) return;
  }
}

void TIdCookies::FreeCookie(TIdCookieRFC2109* cookie) {
  const TIdCookieTableLock guard(*this, caReadWrite);
  const auto found = std::find_if(items_.begin(), items_.end(),
                                  [cookie](const auto& item) { return item.get() == cookie; });
  if (found == items_.end()) return;
  Unlist(**found);
  items_.erase(found);
}

void TIdCookies::PurgeExpired(TDateTime now) {
  const TIdCookieTableLock guard(*this, caReadWrite);
  // Backwards over the domains too: freeing a domain's last cookie takes the domain out.
  for (int d = domains_.Count() - 1; d >= 0; --d) {
    if (d >= domains_.Count()) continue;  // a cookie moved to another domain took more out
    TIdCookieList& names = *domains_.Objects(d);
    for (int i = names.Count() - 1; i >= 0; --i) {
      TIdCookieRFC2109* cookie = names.Objects(i);
      if (cookie->Expires().empty() || !(now > InternetDateToLocalTime(cookie->Expires()))) {
        continue;
      }
      // Freeing takes the write lock again and unlists the cookie itself.
      FreeCookie(cookie);
    }
  }
}

int TIdCookies::Count() const {
  lock_.BeginRead();
  const int count = static_cast<int>(items_.size());
  lock_.EndRead();
  return count;
}

TIdCookieRFC2109* TIdCookies::Items(int index) const {
  lock_.BeginRead();
  TIdCookieRFC2109* cookie = index >= 0 && index < static_cast<int>(items_.size())
                                 ? items_[static_cast<std::size_t>(index)].get()
                                 : nullptr;
  lock_.EndRead();
  return cookie;
}

}  // namespace brixa
