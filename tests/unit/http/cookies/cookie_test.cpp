// Cookie texts parsed and written back in each generation, with Max-Age, port lists and copying.

#include "http/cookies/cookie.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "runtime/network_exception.h"
#include "runtime/time/internet_date.h"

namespace brixa {
namespace {

// A fixed "now" so expiry arithmetic is exact.
const TDateTime kNow = EncodeDateTime(2031, 3, 14, 15, 9, 26);

TIdLocalClock FixedClock() {
  return [] { return kNow; };
}

TEST(CookieTest, ParsesNameValueAndAttributesWithoutCase) {
  TIdNetscapeCookie cookie;
  cookie.ParseCookieText(
      "  SID=abc=def ; PATH=\"/docs\"; Domain=.example.org; secure; path=/ignored; "
      "Expires=Thu, 01 Jan 2032 00:00:00 GMT  ");
  EXPECT_EQ(cookie.Name(), "SID");
  EXPECT_EQ(cookie.Value(), "abc=def");
  EXPECT_EQ(cookie.Path(), "/docs") << "quotes removed, the first of two path items wins";
  EXPECT_EQ(cookie.Domain(), ".example.org");
  EXPECT_TRUE(cookie.Secure());
  EXPECT_EQ(cookie.Expires(), "Thu, 01 Jan 2032 00:00:00 GMT");
  EXPECT_EQ(cookie.CookieVersion(), 0);
  EXPECT_EQ(cookie.GetHeaderText(),
            "SID=abc=def; path=/docs; expires=Thu, 01 Jan 2032 00:00:00 GMT; "
            "domain=.example.org; secure");

  TIdNetscapeCookie plain;
  plain.ParseCookieText("a=1; path=");
  EXPECT_EQ(plain.Path(), "/");
  EXPECT_FALSE(plain.Secure());
  EXPECT_EQ(plain.Domain(), "");
  EXPECT_EQ(plain.GetHeaderText(), "a=1; path=/");

  // The same text again changes nothing, even fields set by hand since.
  plain.SetValue("changed");
  plain.ParseCookieText("a=1; path=");
  EXPECT_EQ(plain.Value(), "changed");
  plain.ParseCookieText("a=2");
  EXPECT_EQ(plain.Value(), "2");

  TIdNetscapeCookie nameless;
  nameless.ParseCookieText("justaword; path=/x");
  EXPECT_EQ(nameless.Name(), "");
  EXPECT_EQ(nameless.Path(), "/x");
}

TEST(CookieTest, MaxAgeBecomesAnExpiryDateAndDropsTheVersion) {
  TIdCookieRFC2109 cookie;
  cookie.SetClock(FixedClock());
  EXPECT_EQ(cookie.CookieVersion(), 1);
  cookie.ParseCookieText("id=7; Max-Age=60; Version=1; Comment=hi");
  const TDateTime expectedUtc = kNow - LocalOffsetFromUTC() + 60.0 / kSecondsPerDay;
  EXPECT_EQ(cookie.Expires(), FormatHttpDate(expectedUtc));
  EXPECT_EQ(cookie.CookieVersion(), 0);
  EXPECT_EQ(cookie.MaxAge(), 60);
  EXPECT_EQ(cookie.Version(), "1");
  EXPECT_EQ(cookie.Comment(), "hi");
  EXPECT_EQ(cookie.GetHeaderText(),
            "id=7; path=/; expires=" + cookie.Expires() + "; comment=hi; version=1");

  TIdCookieRFC2109 dated;
  dated.SetClock(FixedClock());
  const std::string inOneHour = FormatHttpDate(kNow - LocalOffsetFromUTC() + 1.0 / 24);
  dated.ParseCookieText("d=1; expires=" + inOneHour + "; max-age=zzz");
  EXPECT_EQ(dated.CookieVersion(), 1) << "an expires attribute keeps the version";
  EXPECT_EQ(dated.MaxAge(), -1) << "an unreadable max-age reads as absent";
  EXPECT_EQ(dated.GetHeaderText(), "d=1; path=/") << "a versioned cookie writes no expires";
  dated.SetExpires(inOneHour);
  EXPECT_NEAR(static_cast<double>(dated.MaxAge()), 3600.0, 1.0);

  TIdCookieRFC2109 session;
  session.ParseCookieText("s=1");
  EXPECT_EQ(session.Expires(), "");
  EXPECT_EQ(session.MaxAge(), -1);
  session.SetMaxAge(5);
  EXPECT_EQ(session.GetHeaderText(), "s=1; path=/; max-age=5");

  // A negative max-age deletes just like 0: the expiry is now.
  TIdCookieRFC2109 negative;
  negative.SetClock(FixedClock());
  negative.ParseCookieText("n=1; max-age=-5");
  EXPECT_EQ(negative.Expires(), FormatHttpDate(kNow - LocalOffsetFromUTC()));
}

TEST(CookieTest, PortListsOfVersionTwoCookies) {
  struct Case {
    const char* text;
    std::vector<std::int32_t> ports;
  };
  const Case cases[] = {
      {"a=1", {80}},
      {"a=1; Port", {80}},
      {"a=1; Port=\"8080\"", {8080}},
      {"a=1; port=\"80, 8080,443\"", {80, 8080, 443}},
      {"a=1; Port=\"\"", {80}},
      {"a=1; Port=81", {}},
  };
  for (const Case& c : cases) {
    TIdCookieRFC2965 cookie;
    cookie.ParseCookieText(c.text);
    EXPECT_EQ(cookie.Ports(), c.ports) << c.text;
  }
  TIdCookieRFC2965 bad;
  EXPECT_THROW(bad.ParseCookieText("a=1; Port=\"80,x\""), EConvertError);
  TIdCookieRFC2965 trailing;
  EXPECT_THROW(trailing.ParseCookieText("a=1; Port=\"80,\""), EConvertError);

  TIdCookieRFC2965 full;
  full.ParseCookieText("b=2; CommentURL=http://c/; Discard; Version=1");
  EXPECT_EQ(full.CommentURL(), "http://c/");
  EXPECT_TRUE(full.Discard());
  EXPECT_EQ(full.CookieVersion(), 0);
  EXPECT_EQ(full.GetHeaderText(), "b=2; path=/; version=1");
}

TEST(CookieTest, StorePortGrowsByOneAndRefusesOtherIndexes) {
  TIdCookieRFC2965 cookie;
  cookie.StorePort(0, 1);
  cookie.StorePort(1, 2);
  cookie.StorePort(0, 3);
  EXPECT_EQ(cookie.Ports(), (std::vector<std::int32_t>{3, 2}));
  for (const int index : {3, -1}) {
    try {
      cookie.StorePort(index, 9);
      ADD_FAILURE() << "index " << index << " accepted";
    } catch (const EIdException& e) {
      EXPECT_EQ(e.Message(), "Index out of range.");
    }
  }
}

TEST(CookieTest, TakingOverCopiesTextVersionAndLifetime) {
  TIdCookieRFC2109 stored;
  stored.ParseCookieText("A=1; path=/a; domain=h");
  TIdCookieRFC2109 newer;
  newer.SetClock(FixedClock());
  const std::string past = "Thu, 01 Jan 2009 00:00:00 GMT";
  newer.ParseCookieText("A=; path=/b; domain=h; expires=" + past + "; version=1");
  stored.TakeOverFrom(newer);
  EXPECT_EQ(stored.Name(), "A") << "an empty value keeps the name";
  EXPECT_EQ(stored.Value(), "");
  EXPECT_EQ(stored.Path(), "/b");
  EXPECT_EQ(stored.Expires(), past) << "a deletion by a past date must survive the take-over";
  EXPECT_EQ(stored.CookieVersion(), 1);
  EXPECT_EQ(stored.MaxAge(), newer.MaxAge());

  TIdNetscapeCookie unversioned;
  EXPECT_THROW(stored.TakeOverFrom(unversioned), EConvertError);
}

}  // namespace
}  // namespace brixa
