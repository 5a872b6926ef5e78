#include "update/state/retry_after.h"

#include <gtest/gtest.h>

namespace brixa {
namespace {

// 2026-12-07 12:00:00 UTC.
constexpr std::int64_t kNow = 1796644800;

TEST(RetryAfterTest, SecondsAndDatesGiveTheTimeToWaitFor) {
  struct Case {
    const char* value;
    std::optional<std::int64_t> until;
  };
  const Case cases[] = {
      {"120", kNow + 120},
      {" 120 ", kNow + 120},
      {"1", kNow + 1},
      {"Mon, 07 Dec 2026 12:02:00 GMT", kNow + 120},
      {"Monday, 07-Dec-26 12:02:00 GMT", kNow + 120},
      {"Mon Dec  7 12:02:00 2026", kNow + 120},
      {"Mon, 07 Dec 2026 12:02:00 UTC", kNow + 120},
      // Beyond the cap: cut to it.
      {"604800", kNow + kMaxRetryAfterSeconds},
      {"Mon, 14 Dec 2026 12:00:00 GMT", kNow + kMaxRetryAfterSeconds},
      // No back-off: now, past, absurd or unreadable.
      {"0", std::nullopt},
      {"Mon, 07 Dec 2026 12:00:00 GMT", std::nullopt},
      {"Sun, 06 Nov 1994 08:49:37 GMT", std::nullopt},
      {"Fri, 31 Dec 9999 23:59:59 GMT", std::nullopt},
      {"99999999999", std::nullopt},
      {"999999999999999999999999", std::nullopt},
      {"-120", std::nullopt},
      {"+120", std::nullopt},
      {"120s", std::nullopt},
      {"1.5", std::nullopt},
      {"", std::nullopt},
      {"soon", std::nullopt},
      {"Mon, 07 Dec 2026 12:02:00 +0100", std::nullopt},
      {"Mon, 07 Dec 2026 12:02:00 PST", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RetryAfterUntil(c.value, kNow), c.until) << '"' << c.value << '"';
  }
}

TEST(RetryAfterTest, AKeptBackOffHoldsUntilItsTimeAndNoLongerThanTheCap) {
  const std::int64_t until = *RetryAfterUntil("120", kNow);
  EXPECT_TRUE(BackOffHolds(until, kNow));
  EXPECT_TRUE(BackOffHolds(until, until - 1));
  EXPECT_FALSE(BackOffHolds(until, until)) << "after the time, the check runs";
  EXPECT_FALSE(BackOffHolds(0, kNow)) << "no back-off kept";
  EXPECT_TRUE(BackOffHolds(kNow + kMaxRetryAfterSeconds, kNow));
  EXPECT_FALSE(BackOffHolds(kNow + kMaxRetryAfterSeconds + 1, kNow)) << "clock set back";
}

TEST(RetryAfterTest, OnlyOverloadStatusesAskForBackOff) {
  for (const std::int32_t status : {429, 503}) EXPECT_TRUE(IsBackOffStatus(status)) << status;
  for (const std::int32_t status : {200, 301, 404, 500, 502, 504}) {
    EXPECT_FALSE(IsBackOffStatus(status)) << status;
  }
}

}  // namespace
}  // namespace brixa
