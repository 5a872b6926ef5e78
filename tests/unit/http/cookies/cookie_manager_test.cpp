// The cookie manager: where cookies are stored and sent, expiry, refusals, limits under a flood,
// its events, and concurrent readers and writers.

#include "http/cookies/cookie_manager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "http/message/uri.h"
#include "runtime/time/internet_date.h"

namespace brixa {
namespace {

// A manager whose clock the test moves.
class CookieManagerTest : public ::testing::Test {
 protected:
  CookieManagerTest() {
    manager_.SetClock([this] { return now_; });
  }

  std::string HeaderFor(const std::string& url, bool secure = false) {
    return manager_.BuildCookieHeader(TIdURI(url), secure);
  }
  void Advance(double seconds) { now_ += seconds / kSecondsPerDay; }

  TDateTime now_ = EncodeDateTime(2031, 3, 14, 15, 9, 26);
  TIdCookieManager manager_;
};

TEST_F(CookieManagerTest, DomainMatchingDecidesWhereACookieIsStoredAndSent) {
  manager_.AddSetCookie("SID=abc; path=/; domain=.a.b", "h.a.b");
  manager_.AddSetCookie("REFUSED=1; domain=.a.b", "a.b");
  manager_.AddSetCookie("FOREIGN=1; domain=.other.org", "h.a.b");
  manager_.AddSetCookie("HOSTONLY=1", "h.a.b");
  manager_.AddSetCookie("IP=1", "10.0.0.1");
  EXPECT_EQ(manager_.CookieCollection().Count(), 3);

  struct Case {
    const char* url;
    const char* header;
  };
  const Case cases[] = {
      {"http://x.a.b/", "SID=abc"},
      {"http://h.a.b/", "HOSTONLY=1; SID=abc"},
      {"http://H.A.B/page", "HOSTONLY=1; SID=abc"},
      {"http://a.b/", ""},
      {"http://other.org/", ""},
      {"http://10.0.0.1/", "IP=1"},
      {"http://10.0.0.2/", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(HeaderFor(c.url), c.header) << c.url;

  TIdCookieDomainTable& table = manager_.LockDomainTable(caRead);
  ASSERT_EQ(table.Count(), 3);
  EXPECT_EQ(table.Strings(0), ".a.b");
  EXPECT_EQ(table.Strings(1), "h.a.b");
  manager_.UnlockDomainTable(caRead);
}

TEST_F(CookieManagerTest, PathIsAPlainCaseSensitivePrefixOfTheRequestPath) {
  manager_.AddSetCookie("D=1; path=/dir", "h");
  manager_.AddSetCookie("F=1; path=/dir/file.txt", "h");
  struct Case {
    const char* url;
    const char* header;
  };
  const Case cases[] = {
      {"http://h/dir/", "D=1"},
      {"http://h/dir2/", "D=1"},
      {"http://h/dir/x/", "D=1"},
      {"http://h/Dir/", ""},
      {"http://h/", ""},
      {"http://h/dir/file.txt", "D=1; F=1"},
      {"http://h/dir/file.txt?q=1", "D=1; F=1"},
  };
  for (const Case& c : cases) EXPECT_EQ(HeaderFor(c.url), c.header) << c.url;
}

TEST_F(CookieManagerTest, OrderFollowsFirstStorageAndReplacementKeepsThePlace) {
  manager_.AddSetCookie("A=1", "h.a.b");
  manager_.AddSetCookie("B=2", "h.a.b");
  EXPECT_EQ(HeaderFor("http://h.a.b/"), "A=1; B=2");
  manager_.AddSetCookie("A=3", "h.a.b");
  EXPECT_EQ(HeaderFor("http://h.a.b/"), "A=3; B=2");
  EXPECT_EQ(manager_.CookieCollection().Count(), 2);
  // Names match without case and the path plays no part in replacement.
  manager_.AddSetCookie("b=4; path=/elsewhere", "H.A.B");
  EXPECT_EQ(HeaderFor("http://h.a.b/"), "A=3");
  EXPECT_EQ(HeaderFor("http://h.a.b/elsewhere"), "A=3; b=4");
  // The domain stored later comes first.
  manager_.AddSetCookie("W=1; domain=.a.b", "h.a.b");
  EXPECT_EQ(HeaderFor("http://h.a.b/"), "W=1; A=3");
}

TEST_F(CookieManagerTest, ExpiredCookiesArePurgedBeforeEachHeader) {
  manager_.AddSetCookie("MINUTE=1; max-age=60", "h");
  manager_.AddSetCookie("NOW=1; max-age=0", "h");
  manager_.AddSetCookie("PAST=1; expires=Thu, 01 Jan 2009 00:00:00 GMT", "h");
  manager_.AddSetCookie("BAD=1; expires=not a date", "h");
  manager_.AddSetCookie("SESSION=1", "h");
  Advance(1);
  EXPECT_EQ(HeaderFor("http://h/"), "MINUTE=1; SESSION=1");
  EXPECT_EQ(manager_.CookieCollection().Count(), 2);
  Advance(58);
  EXPECT_EQ(HeaderFor("http://h/"), "MINUTE=1; SESSION=1");
  Advance(2);
  EXPECT_EQ(HeaderFor("http://h/"), "SESSION=1");
  EXPECT_EQ(manager_.CookieCollection().Count(), 1);
}

TEST_F(CookieManagerTest, ACookieIsLeftOutAsSoonAsItsExpiryPasses) {
  manager_.AddSetCookie("SHORT=1; max-age=2", "h");
  Advance(1.9);
  EXPECT_EQ(HeaderFor("http://h/"), "SHORT=1");
  Advance(0.2);  // past the expiry, a fraction of a second after the last header
  EXPECT_EQ(HeaderFor("http://h/"), "");
  Advance(0.1);
  manager_.AddSetCookie("KEEP=1", "h");
  EXPECT_EQ(HeaderFor("http://h/"), "KEEP=1");
  // Stored within the same second, already expired: never sent.
  manager_.AddSetCookie("KEEP=2; max-age=0", "h");
  EXPECT_EQ(HeaderFor("http://h/"), "");
}

TEST_F(CookieManagerTest, AServerDeletesACookieByResendingItExpired) {
  manager_.AddSetCookie("TOKEN=secret; path=/", "h");
  manager_.AddSetCookie("KEEP=1", "h");
  manager_.AddSetCookie("TOKEN=deleted; path=/; expires=Thu, 01 Jan 2009 00:00:00 GMT; version=1",
                        "h");
  EXPECT_EQ(HeaderFor("http://h/"), "KEEP=1");
  manager_.AddSetCookie("KEEP=2; Max-Age=-1", "h");
  Advance(1);
  EXPECT_EQ(HeaderFor("http://h/"), "");
}

TEST_F(CookieManagerTest, EmptyValuesAndSecureCookiesAreSentOnlyWhenAllowed) {
  manager_.AddSetCookie("EMPTY=; path=/", "h");
  manager_.AddSetCookie("S=1; secure", "h");
  manager_.AddSetCookie("P=1", "h");
  EXPECT_EQ(manager_.CookieCollection().Count(), 3) << "an empty value is still stored";
  EXPECT_EQ(HeaderFor("http://h/"), "P=1");
  EXPECT_EQ(HeaderFor("https://h/", true), "S=1; P=1");
}

TEST_F(CookieManagerTest, MalformedCookiesAreDroppedSilently) {
  manager_.AddSetCookie("noequals; path=/", "h");
  manager_.AddSetCookie("=novalue", "h");
  manager_.AddSetCookie("", "h");
  manager_.AddSetCookie2("V2=bad; Version=1; Port=\"80,eighty\"", "h");
  manager_.AddSetCookie2("V2=good; Version=1; Port=\"80,8080\"", "h");
  ASSERT_EQ(manager_.CookieCollection().Count(), 1);
  auto* cookie = dynamic_cast<TIdCookieRFC2965*>(manager_.CookieCollection().Items(0));
  ASSERT_NE(cookie, nullptr);
  EXPECT_EQ(cookie->Ports(), (std::vector<std::int32_t>{80, 8080}));
  EXPECT_EQ(HeaderFor("http://h/"), "V2=good");
}

// A cookie that could not be sent back in a header line, or that is past the size a browser
// keeps, is refused whole when stored.
TEST_F(CookieManagerTest, ControlCharactersAndOversizedCookiesAreRefused) {
  const struct {
    std::string text;
    bool stored;
  } cases[] = {
      {"a=b\rX-Evil: 1", false},
      {"a=b\nX-Evil: 1", false},
      {std::string("a=b\0c", 5), false},
      {"a=b; path=/\x01", false},
      {"a=b; comment=\x7F", false},
      {"a=b\tc", true},                       // a tab is allowed
      {"a=" + std::string(4095, 'v'), true},  // name and value: 4096 bytes
      {"a=" + std::string(4096, 'v'), false},
      {"a=b; comment=" + std::string(8200, 'c'), false},
  };
  for (const auto& c : cases) {
    TIdCookieManager manager;
    manager.AddSetCookie(c.text, "h");
    manager.AddSetCookie2(c.text, "h");
    EXPECT_EQ(manager.CookieCollection().Count(), c.stored ? 1 : 0) << c.text.substr(0, 40);
    const std::string header = manager.BuildCookieHeader(TIdURI("http://h/"), false);
    EXPECT_EQ(header.find_first_of("\r\n"), std::string::npos);
  }
}

// Past 50 cookies a domain loses its oldest; past 3000 in all the store loses its oldest. A
// replaced cookie keeps its age.
TEST_F(CookieManagerTest, LimitsPushTheOldestCookiesOut) {
  const int perDomain = TIdCookies::kMaxCookiesPerDomain;
  for (int i = 0; i < perDomain + 5; ++i) {
    manager_.AddSetCookie("c" + std::to_string(i) + "=v", "one.example");
    if (i == 3) manager_.AddSetCookie("c0=replaced", "one.example");
  }
  const std::string header = HeaderFor("http://one.example/");
  EXPECT_EQ(manager_.CookieCollection().Count(), perDomain);
  EXPECT_EQ(header.find("c0="), std::string::npos);
  EXPECT_EQ(header.find("c4="), std::string::npos);
  EXPECT_EQ(header.rfind("c5=v; ", 0), 0u) << header.substr(0, 40);
  EXPECT_NE(header.find("c54=v"), std::string::npos);

  TIdCookieManager store;
  const int domains = TIdCookies::kMaxCookies / 10 + 3;
  for (int d = 0; d < domains; ++d) {
    const std::string host = "h" + std::to_string(d) + ".example";
    for (int i = 0; i < 10; ++i) store.AddSetCookie("n" + std::to_string(i) + "=v", host);
  }
  EXPECT_EQ(store.CookieCollection().Count(), TIdCookies::kMaxCookies);
  EXPECT_EQ(store.BuildCookieHeader(TIdURI("http://h0.example/"), false), "");
  EXPECT_EQ(store.BuildCookieHeader(TIdURI("http://h2.example/"), false), "");
  EXPECT_NE(store.BuildCookieHeader(TIdURI("http://h3.example/"), false), "");
  // The domains that lost every cookie left the table.
  const TIdCookieTableLock lock(store.CookieCollection(), caRead);
  EXPECT_EQ(lock.Table().Count(), TIdCookies::kMaxCookies / 10);
}

// The "Cookie" value never grows past what servers take in one line, however many cookies
// match; the ones that fit still go.
TEST_F(CookieManagerTest, CookieHeaderIsBounded) {
  for (int i = 0; i < 40; ++i) {
    manager_.AddSetCookie("big" + std::to_string(i) + "=" + std::string(1000, 'x'), "h");
  }
  manager_.AddSetCookie("small=1", "h");
  const std::string header = HeaderFor("http://h/");
  EXPECT_LE(header.size(), TIdCookieManager::kMaxCookieHeaderBytes);
  EXPECT_GT(header.size(), TIdCookieManager::kMaxCookieHeaderBytes - 1100);
  EXPECT_NE(header.find("small=1"), std::string::npos);
}

// A server flooding one response with Set-Cookie lines costs the store bounded work per line:
// this runs in a blink unless storing a cookie grows with everything stored before.
TEST_F(CookieManagerTest, ASetCookieFloodStaysWithinTheLimits) {
  for (int i = 0; i < 100000; ++i) {
    manager_.AddSetCookie("flood" + std::to_string(i) + "=v; path=/", "victim.example");
  }
  EXPECT_EQ(manager_.CookieCollection().Count(), TIdCookies::kMaxCookiesPerDomain);
  EXPECT_EQ(HeaderFor("http://victim.example/").rfind("flood99950=v", 0), 0u);
}

TEST_F(CookieManagerTest, NewCookieHandlerSeesEachCookieAndCanRefuseIt) {
  std::vector<std::string> seen;
  manager_.OnNewCookie = [&](TComponent* sender, TIdCookieRFC2109* cookie, bool& accept) {
    EXPECT_EQ(sender, &manager_);
    EXPECT_TRUE(accept);
    seen.push_back(cookie->Name() + "@" + cookie->Domain());
    accept = cookie->Name() != "TRACKER";
  };
  manager_.AddSetCookie("TRACKER=1", "h");
  manager_.AddSetCookie("OK=1", "h");
  manager_.AddSetCookie("OUT=1; domain=.elsewhere", "h");
  EXPECT_EQ(seen, (std::vector<std::string>{"TRACKER@h", "OK@h"}))
      << "a cookie outside its domain is refused before the handler";
  EXPECT_EQ(HeaderFor("http://h/"), "OK=1");
}

TEST(CookieManagerLifetimeTest, CreateAndDestroyEventsSeeTheCollection) {
  TIdCookies* created = nullptr;
  TIdCookies* destroyed = nullptr;
  int storedAtDestroy = -1;
  {
    TIdCookieManager manager(nullptr, [&](TComponent*, TIdCookies* cookies) { created = cookies; });
    manager.OnDestroy = [&](TComponent*, TIdCookies* cookies) {
      destroyed = cookies;
      storedAtDestroy = cookies->Count();
    };
    manager.AddSetCookie("KEEP=1", "h");
    manager.AddSetCookie("GONE=1; expires=Thu, 01 Jan 2009 00:00:00 GMT", "h");
    EXPECT_EQ(created, &manager.CookieCollection());
  }
  EXPECT_EQ(destroyed, created);
  EXPECT_EQ(storedAtDestroy, 1) << "expired cookies are purged before OnDestroy";

  TComponent owner;
  auto* owned = new TIdCookieManager(&owner);  // the owner deletes it
  owned->AddSetCookie("A=1", "h");
  EXPECT_EQ(owner.ComponentCount(), 1);
}

// Writers storing and purging while readers build headers: every header a reader sees is made
// of whole name=value pairs, and nothing is lost or torn.
TEST(CookieManagerConcurrencyTest, ReadersAndWritersShareTheStore) {
  TIdCookieManager manager;
  constexpr int kWriters = 3;
  constexpr int kCookiesPerWriter = 150;
  // All writers share one domain, which keeps at most 50 cookies.
  constexpr int kNames = 16;
  std::atomic<bool> done{false};
  std::atomic<int> malformed{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&manager, w] {
      for (int i = 0; i < kCookiesPerWriter; ++i) {
        manager.AddSetCookie(
            "W" + std::to_string(w) + "N" + std::to_string(i % kNames) + "=v" + std::to_string(i),
            "h");
        if (i % 10 == 0) manager.PurgeExpired();
      }
    });
  }
  for (int r = 0; r < 2; ++r) {
    threads.emplace_back([&] {
      while (!done) {
        const std::string header = manager.BuildCookieHeader(TIdURI("http://h/"), false);
        std::size_t start = 0;
        while (!header.empty() && start <= header.size()) {
          const std::size_t end = header.find("; ", start);
          const std::string pair = header.substr(start, end - start);
          if (pair.empty() || pair.front() != 'W' || pair.find('=') == std::string::npos)
            ++malformed;
          if (end == std::string::npos) break;
          start = end + 2;
        }
      }
    });
  }
  for (int w = 0; w < kWriters; ++w) threads[static_cast<std::size_t>(w)].join();
  done = true;
  for (std::size_t t = kWriters; t < threads.size(); ++t) threads[t].join();
  EXPECT_EQ(malformed, 0);
  EXPECT_EQ(manager.CookieCollection().Count(), kWriters * kNames);
  const std::string header = manager.BuildCookieHeader(TIdURI("http://h/"), false);
  EXPECT_NE(header.find("W0N0=v144"), std::string::npos) << header;
  EXPECT_NE(header.find("W2N15=v143"), std::string::npos) << header;
}

}  // namespace
}  // namespace brixa
