// Calendar encoding, the internet date forms, zone offsets in several zones, and HTTP dates
// written and read back.

#include "runtime/time/internet_date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <optional>

#include "platform/core/exception.h"
#include "runtime/text/format_invariant.h"
#include "support/scoped_zone.h"

namespace brixa {
namespace {

constexpr double kOneMillisecond = 1.0 / kMillisecondsPerDay;

// "yyyy-mm-dd hh:nn:ss" of a value, so failures show dates rather than day fractions.
std::string Show(TDateTime value) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
  DecodeDate(value, y, mo, d);
  DecodeTime(value, h, mi, s, ms);
  return FormatInvariant("%.4d-%.2d-%.2d %.2d:%.2d:%.2d", y, mo, d, h, mi, s);
}

using test::ScopedZone;

// Windows answers the zone query from its own settings, not from TZ set inside the process, so
// there a zone-specific test checks that it got its zone and skips otherwise (the relative tests
// still run against the machine's real zone). Elsewhere TZ always applies and a wrong offset is
// a failure, never a skip.
#if defined(_WIN32)
constexpr bool kZoneFollowsProcessTZ = false;
#else
constexpr bool kZoneFollowsProcessTZ = true;
#endif

#define REQUIRE_ZONE_OFFSET(hours)                                                           \
  if (std::fabs(LocalOffsetFromUTC() - (hours) / kHoursPerDay) > kOneMillisecond) {          \
    ASSERT_FALSE(kZoneFollowsProcessTZ) << "offset " << LocalOffsetFromUTC() * kHoursPerDay; \
    GTEST_SKIP() << "the system zone query does not follow TZ set in the process; offset "   \
                 << LocalOffsetFromUTC() * kHoursPerDay << " h";                             \
  }

TEST(InternetDateTest, CalendarEncodingMatchesKnownDayNumbers) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526);
  EXPECT_EQ(EncodeDate(1, 1, 1), -693593);
  EXPECT_EQ(EncodeDate(9999, 12, 31), 2958465);
  EXPECT_EQ(DayOfWeek(EncodeDate(2008, 1, 15)), 3);  // a Tuesday
  EXPECT_EQ(DayOfWeek(0), 7);                        // 30 Dec 1899 was a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 24)), 1);

  EXPECT_THROW((void)EncodeDate(2001, 2, 29), EConvertError);
  EXPECT_NO_THROW((void)EncodeDate(2000, 2, 29));
  EXPECT_THROW((void)EncodeDate(1900, 2, 29), EConvertError);
  EXPECT_THROW((void)EncodeDate(10000, 1, 1), EConvertError);
  EXPECT_THROW((void)EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW((void)EncodeTime(0, 60, 0, 0), EConvertError);

  // Before day 0 the time of day still counts forward from the day.
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
  EXPECT_EQ(Show(-1.25), "1899-12-29 06:00:00");
  // Decoding rounds to the millisecond, so a value a hair below midnight is the next day.
  EXPECT_EQ(Show(EncodeDate(2010, 3, 4) + 1 - kOneMillisecond / 4), "2010-03-05 00:00:00");

  // Every day over four centuries survives the trip through its parts.
  for (int day = -200000; day < 200000; day += 97) {
    int y = 0, m = 0, d = 0;
    DecodeDate(day, y, m, d);
    ASSERT_EQ(EncodeDate(y, m, d), day) << y << "-" << m << "-" << d;
  }
}

TEST(InternetDateTest, NamesAreThreeLettersWithoutCase) {
  EXPECT_EQ(DayNameToNumber("sun"), 1);
  EXPECT_EQ(DayNameToNumber("SAT"), 7);
  EXPECT_EQ(DayNameToNumber("Sunday"), 0);
  EXPECT_EQ(MonthNameToNumber("jan"), 1);
  EXPECT_EQ(MonthNameToNumber("Dec"), 12);
  EXPECT_EQ(MonthNameToNumber("06"), 0);
  EXPECT_EQ(MonthNameToNumber(""), 0);
}

TEST(InternetDateTest, ParsesTheInternetFormsAndLeavesTheZone) {
  struct Case {
    const char* text;
    const char* expected;  // nullptr: unreadable, 0
    const char* rest;
  };
  const Case cases[] = {
      // The three forms.
      {"Sun, 06 Nov 1994 08:49:37 GMT", "1994-11-06 08:49:37", "GMT"},
      {"Sunday, 06-Nov-94 08:49:37 GMT", "1994-11-06 08:49:37", "GMT"},
      {"Sun Nov  6 08:49:37 1994", "1994-11-06 08:49:37", ""},
      // Near forms servers send.
      {"Sun,06 Nov 1994 08:49:37 GMT", "1994-11-06 08:49:37", "GMT"},
      {"  06 Nov 1994 08:49:37 GMT  ", "1994-11-06 08:49:37", "GMT"},
      {"Thu, 01-Jan-1970 00:00:01 GMT", "1970-01-01 00:00:01", "GMT"},
      {"Tue, 15 Jan 2008 10:00:00 +0900", "2008-01-15 10:00:00", "+0900"},
      {"Mon, 15 Jan 2008", "2008-01-15 00:00:00", ""},  // day name not checked, no time
      {"Nov 6 1994 08:49:37 GMT", "1994-11-06 08:49:37", "GMT"},
      // Two-digit years.
      {"Sat, 01 Dec 07 10:00:00 GMT", "2007-12-01 10:00:00", "GMT"},
      {"Sat, 01 Dec 79 10:00:00 GMT", "2079-12-01 10:00:00", "GMT"},
      {"Sat, 01 Dec 80 10:00:00 GMT", "1980-12-01 10:00:00", "GMT"},
      {"Sat, 01 Dec 99 10:00:00 GMT", "1999-12-01 10:00:00", "GMT"},
      // A year of 1900 sends the parser to the text after the time.
      {"Mon Jan 1 10:00:00 2001", "2001-01-01 10:00:00", ""},
      // AM / PM; anything after the marker, a zone included, is dropped.
      {"Mon, 01 Jan 2001 12:30:00 AM", "2001-01-01 00:30:00", ""},
      {"Mon, 01 Jan 2001 12:30:00 PM", "2001-01-01 12:30:00", ""},
      {"Mon, 01 Jan 2001 01:30:00 PM +0500", "2001-01-01 13:30:00", ""},
      {"Mon, 01 Jan 2001 01:30:00 AM GMT", "2001-01-01 01:30:00", ""},
      // Unreadable dates.
      {"Mon, 32 Jan 2001 10:00:00 GMT", nullptr, nullptr},
      {"Mon, 29 Feb 2001 10:00:00 GMT", nullptr, nullptr},
      {"Mon, 01 Foo 2001 10:00:00 GMT", nullptr, nullptr},
      {"Mon, 01 Jan 2001 24:00:00 GMT", nullptr, nullptr},
      {"Mon, 01 Jan 2001 10:60:00 GMT", nullptr, nullptr},
      {"Mon, 01 Jan 12001 10:00:00 GMT", nullptr, nullptr},
      {"garbage", nullptr, nullptr},
      {"", nullptr, ""},
      {"   ", nullptr, ""},
  };
  for (const Case& c : cases) {
    std::string value = c.text;
    const TDateTime parsed = ParseInternetDate(value);
    if (c.expected == nullptr) {
      EXPECT_EQ(parsed, 0) << c.text << " gave " << Show(parsed);
    } else {
      EXPECT_EQ(Show(parsed), c.expected) << c.text;
    }
    if (c.rest != nullptr) {
      EXPECT_EQ(value, c.rest) << c.text;
    }
  }
}

TEST(InternetDateTest, ZoneOffsetIsAppliedRelativeToTheLocalZone) {
  // Runs in a zone east of Greenwich where TZ is honoured; elsewhere in the machine's own zone.
  ScopedZone zone("JST-9");
  const TDateTime local = LocalOffsetFromUTC();
  const auto at = [](int h, int m) { return EncodeDateTime(2008, 1, 15, h, m, 0); };
  struct Case {
    const char* text;
    TDateTime utc;
  };
  const Case cases[] = {
      {"Tue, 15 Jan 2008 10:00:00 +0900", at(1, 0)},
      {"Tue, 15 Jan 2008 10:00:00 -0500", at(15, 0)},  // minus five hours adds five
      {"Tue, 15 Jan 2008 10:00:00 +0130", at(8, 30)},
      {"Tue, 15 Jan 2008 10:00:00   +0900  ", at(1, 0)},
      {"Tue, 15 Jan 2008 10:00:00 GMT", at(10, 0)},
      {"Tue, 15 Jan 2008 10:00:00 EST", at(10, 0)},       // zone names count as UTC
      {"Tue, 15 Jan 2008 10:00:00 GMT+0900", at(10, 0)},  // no sign at the start
      {"Tue, 15 Jan 2008 10:00:00 +09", at(10, 0)},
      {"Tue, 15 Jan 2008 10:00:00 +2500", at(10, 0)},  // impossible offsets are ignored
      {"Tue, 15 Jan 2008 10:00:00 +09x0", at(10, 0)},
      {"Tue, 15 Jan 2008 10:00:00 PM +0500", at(22, 0)},  // after a marker: dropped
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(InternetDateToLocalTime(c.text), c.utc + local, kOneMillisecond) << c.text;
  }
  EXPECT_EQ(InternetDateToLocalTime(""), 0);
  // Unreadable non-empty text gives the local offset alone: a value near the zero date.
  EXPECT_NEAR(InternetDateToLocalTime("   "), local, kOneMillisecond);
  EXPECT_NEAR(InternetDateToLocalTime("Mon, 32 Jan 2001 10:00:00 GMT"), local, kOneMillisecond);
}

// The form servers send is read by a shortcut; every text of that shape, readable or not, must
// give what the general parser gives.
TEST(InternetDateTest, TheUsualFormReadsAsTheGeneralParserReadsIt) {
  const char* const texts[] = {
      "Sun, 06 Nov 1994 08:49:37 GMT",
      "Tue, 29 Feb 2000 23:59:59 GMT",  // a leap day
      "Thu, 31 Dec 9999 00:00:00 GMT", "Mon, 01 Jan 1900 12:00:00 GMT",
      "sun, 06 nov 1994 08:49:37 GMT",  // names in any case
      "Xyz, 06 Nov 1994 08:49:37 GMT",  // no day name
      "Sun, 06 Xyz 1994 08:49:37 GMT",
      "Fri, 30 Feb 2001 10:00:00 GMT",  // no such day
      "Fri, 00 Feb 2001 10:00:00 GMT", "Sun, 06 Nov 1994 24:00:00 GMT",
      "Sun, 06 Nov 1994 08:60:37 GMT", "Sun, 06 Nov 1994 08:49:60 GMT",
      "Sun, 06 Nov 0094 08:49:37 GMT",  // a two-digit year written with four digits
      "Sun, 06 Nov 1899 08:49:37 GMT", "Sun, 06 Nov 1994 08:49:37 gmt",
      "Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 6 Nov 1994 08:49:37 GMT ",
      "Sun, 0x Nov 1994 08:49:37 GMT", "Sun, 06 Nov 19a4 08:49:37 GMT",
      "Sun,-06 Nov 1994 08:49:37 GMT", "Sun, 06 Nov 1994 08:49.37 GMT",
  };
  const TDateTime local = LocalOffsetFromUTC();
  for (const char* text : texts) {
    std::string general = text;
    const TDateTime expected = ParseInternetDate(general) + local;
    EXPECT_NEAR(InternetDateToLocalTime(text), expected, kOneMillisecond)
        << text << ": " << Show(InternetDateToLocalTime(text)) << " vs " << Show(expected);
  }
}

// One test per zone, so that each skips on its own: under Wine the zone is the one the process
// was started in (run it with TZ=JST-9 in the environment to exercise the first test there).
TEST(InternetDateTest, OffsetEastOfGreenwich) {
  ScopedZone zone("JST-9");
  REQUIRE_ZONE_OFFSET(9);
  EXPECT_DOUBLE_EQ(LocalOffsetFromUTC(), 0.375);
  EXPECT_EQ(Show(InternetDateToLocalTime("Tue, 15 Jan 2008 10:00:00 +0900")),
            "2008-01-15 10:00:00");
  EXPECT_EQ(Show(InternetDateToLocalTime("Tue, 15 Jan 2008 23:30:00 GMT")), "2008-01-16 08:30:00");
}

TEST(InternetDateTest, OffsetOfAUtcMachine) {
  ScopedZone zone("UTC0");
  REQUIRE_ZONE_OFFSET(0);
  EXPECT_EQ(Show(InternetDateToLocalTime("Tue, 15 Jan 2008 10:00:00 +0900")),
            "2008-01-15 01:00:00");
}

TEST(InternetDateTest, OffsetWestOfGreenwichIncludesDaylightSaving) {
  // Daylight saving in force all year: -5 h + 1 h, whatever today's date.
  ScopedZone zone("EST5EDT,J1/0,J365/25");
  REQUIRE_ZONE_OFFSET(-4);
  EXPECT_EQ(Show(InternetDateToLocalTime("Tue, 15 Jan 2008 10:00:00 GMT")), "2008-01-15 06:00:00");
  EXPECT_EQ(Show(InternetDateToLocalTime("Tue, 15 Jan 2008 02:00:00 GMT")), "2008-01-14 22:00:00");
}

TEST(InternetDateTest, OffsetOfAHalfHourZone) {
  ScopedZone zone("IST-5:30");
  REQUIRE_ZONE_OFFSET(5.5);
  EXPECT_EQ(Show(InternetDateToLocalTime("Tue, 15 Jan 2008 10:00:00 -0130")),
            "2008-01-15 17:00:00");
}

TEST(InternetDateTest, FormatHttpDateWritesRfc1123AndReadsBack) {
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(1994, 11, 6, 8, 49, 37)),
            "Sun, 06 Nov 1994 08:49:37 GMT");
  EXPECT_EQ(FormatHttpDate(EncodeDate(2009, 1, 1)), "Thu, 01 Jan 2009 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(0), "Sat, 30 Dec 1899 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(2000, 2, 29, 23, 59, 59)),
            "Tue, 29 Feb 2000 23:59:59 GMT");
  EXPECT_EQ(FormatHttpDate(EncodeDateTime(812, 7, 4, 1, 2, 3)), "Wed, 04 Jul 0812 01:02:03 GMT");
  // No calendar date: the zero date rather than garbage.
  EXPECT_EQ(FormatHttpDate(1e12), "Sat, 30 Dec 1899 00:00:00 GMT");
  EXPECT_EQ(FormatHttpDate(std::nan("")), "Sat, 30 Dec 1899 00:00:00 GMT");

  // What is written reads back as the same second, weekday and all, across leap years.
  for (double day = 1; day < 80000; day += 367.37) {
    const TDateTime t = std::floor(day * kSecondsPerDay) / kSecondsPerDay;
    std::string text = FormatHttpDate(t);
    const TDateTime back = ParseInternetDate(text);
    ASSERT_NEAR(back, t, kOneMillisecond) << FormatHttpDate(t);
    EXPECT_EQ(text, "GMT");
  }
}

}  // namespace
}  // namespace brixa
