#pragma once
// The cookie store: cookies owned in one place and filed by domain and name, behind a
// readers / writer lock.

#include <atomic>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "http/cookies/cookie.h"
#include "platform/core/sync.h"
#include "runtime/text/text.h"

namespace brixa {

// An unsorted list of texts, each carrying one object; texts are looked up without letter
// case and keep the order in which they were added.
template <class Object>
class TIdCookieListOf {
 public:
  [[nodiscard]] int Count() const noexcept { return static_cast<int>(entries_.size()); }
  [[nodiscard]] bool Empty() const noexcept { return entries_.empty(); }
  [[nodiscard]] const std::string& Strings(int index) const { return At(index).text; }
  [[nodiscard]] Object& Objects(int index) { return At(index).object; }
  [[nodiscard]] const Object& Objects(int index) const { return At(index).object; }
  // Index of the first entry whose text equals `text` without letter case; -1 when none.
  [[nodiscard]] int IndexOf(std::string_view text) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
      if (SameTextNoCase(entries_[i].text, text)) return static_cast<int>(i);
    }
    return -1;
  }
  int AddObject(std::string text, Object object) {
    entries_.push_back({std::move(text), std::move(object)});
    return Count() - 1;
  }
  void Delete(int index) { entries_.erase(entries_.begin() + CheckedIndex(index)); }
  void Clear() noexcept { entries_.clear(); }

 private:
  struct Entry {
    std::string text;
    Object object;
  };

  [[nodiscard]] std::ptrdiff_t CheckedIndex(int index) const {
    if (index < 0 || index >= Count()) throw std::out_of_range("cookie list index out of range");
    return index;
  }
  [[nodiscard]] Entry& At(int index) {
    return entries_[static_cast<std::size_t>(CheckedIndex(index))];
  }
  [[nodiscard]] const Entry& At(int index) const {
    return entries_[static_cast<std::size_t>(CheckedIndex(index))];
  }

  std::vector<Entry> entries_;
};

// The cookies of one domain by name; borrows the cookies, which the collection owns.
using TIdCookieList = TIdCookieListOf<TIdCookieRFC2109*>;
// Every domain with the list of its cookies; owns those lists.
using TIdCookieDomainTable = TIdCookieListOf<std::unique_ptr<TIdCookieList>>;

enum TIdCookieAccess { caRead, caReadWrite };

// The cookie store: owns the cookies and files them in the domain table by domain and name.
//
// Every access to the domain table goes through LockDomainTable / UnlockDomainTable: many
// readers or one writer, and the writing thread may lock again (for reading or writing) while
// it holds the write lock. Count and Items take the read lock themselves.
class TIdCookies {
 public:
  // Limits a browser also keeps (RFC 6265, 6.1 asks for at least 50 per domain and 3000 in
  // all): past them the oldest cookie goes, first of its domain, then of the whole store. They
  // bound the memory and the work a server can make a client spend on cookies.
  static constexpr int kMaxCookiesPerDomain = 50;
  static constexpr int kMaxCookies = 3000;

  TIdCookies();
  TIdCookies(const TIdCookies&) = delete;
  TIdCookies& operator=(const TIdCookies&) = delete;
  // Frees every cookie, then the domain lists.
  ~TIdCookies();

  // Takes the lock for `access` and returns the table; the reference is valid until the
  // matching UnlockDomainTable.
  [[nodiscard]] TIdCookieDomainTable& LockDomainTable(TIdCookieAccess access);
  void UnlockDomainTable(TIdCookieAccess access);

  // Files `cookie` under its Domain and Name (both without letter case; the path plays no
  // part). A cookie of that domain and name already filed takes the new one over in place and
  // the new one is freed. A new cookie past a limit pushes the oldest one out (which may be
  // none other than itself only when a limit is 0). Returns the cookie that is filed, valid
  // until it is freed here.
  TIdCookieRFC2109* FileCookie(std::unique_ptr<TIdCookieRFC2109> cookie);
  // Unlists and frees a filed cookie; nothing for a cookie that is not held here.
  void FreeCookie(TIdCookieRFC2109* cookie);
  // Frees every cookie with an expiry date before `now` (local time). A domain whose last
  // cookie goes leaves the table.
  void PurgeExpired(TDateTime now);

  // How often the write lock has been taken so far: unchanged means the store is unchanged.
  [[nodiscard]] std::uint64_t WriteLocks() const noexcept { return writeLocks_.load(); }

  // Number of cookies held, and the cookie at `index` in the order they were first filed.
  [[nodiscard]] int Count() const;
  [[nodiscard]] TIdCookieRFC2109* Items(int index) const;

 private:
  // Under the write lock.
  void Unlist(const TIdCookieRFC2109& cookie);

  mutable TMultiReadExclusiveWriteSynchronizer lock_;
  std::atomic<std::uint64_t> writeLocks_{0};
  TIdCookieDomainTable domains_;
  std::vector<std::unique_ptr<TIdCookieRFC2109>> items_;
};

// Holds the domain table lock of `cookies` for the lifetime of the guard.
class TIdCookieTableLock {
 public:
  TIdCookieTableLock(TIdCookies& cookies, TIdCookieAccess access)
      : cookies_(cookies), access_(access), table_(cookies.LockDomainTable(access)) {}
  TIdCookieTableLock(const TIdCookieTableLock&) = delete;
  TIdCookieTableLock& operator=(const TIdCookieTableLock&) = delete;
  ~TIdCookieTableLock() { cookies_.UnlockDomainTable(access_); }

  [[nodiscard]] TIdCookieDomainTable& Table() const noexcept { return table_; }

 private:
  TIdCookies& cookies_;
  TIdCookieAccess access_;
  TIdCookieDomainTable& table_;
};

}  // namespace brixa
