// The low-speed rule: a pure meter judged with times passed in, and the guard on a real
// connection to a scripted peer that trickles its answer.
#include "update/net/low_speed.h"

#include <gtest/gtest.h>

#include <vector>

#include "app/version_check.h"
#include "http/client/http.h"
#include "platform/thread/clock.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"
#include "update/net/update_client.h"

namespace brixa {
namespace {

TEST(LowSpeedMeter, EndsOnlyAfterAWholeWindowBelowTheLimit) {
  constexpr TLowSpeedRule kRule{100, 1000};  // 100 bytes per 1000 ms window
  struct Arrival {
    std::int64_t bytes;
    std::uint64_t atMs;
  };
  const struct {
    const char* what;
    std::vector<Arrival> arrivals;
    bool keepsUp;  // what the last arrival is judged
  } cases[] = {
      {"slow but within the first window", {{10, 100}, {10, 999}}, true},
      {"a whole window below the limit", {{10, 100}, {10, 1000}}, false},
      {"nothing for a window, then one byte", {{1, 5000}}, false},
      {"the limit reached starts a new window", {{100, 900}, {1, 1899}}, true},
      {"the new window is judged afresh", {{100, 900}, {99, 1900}}, false},
      {"steady at the limit", {{50, 500}, {50, 1000}, {50, 1500}, {50, 2000}, {50, 2500}}, true},
      {"fast, then a trickle", {{100000, 10}, {1, 500}, {1, 1010}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TLowSpeedMeter meter(kRule, 0);
    bool keepsUp = true;
    for (const Arrival& a : c.arrivals) keepsUp = meter.Observe(a.bytes, a.atMs);
    EXPECT_EQ(keepsUp, c.keepsUp);
  }
  // Restart forgets the window so far.
  TLowSpeedMeter meter(kRule, 0);
  meter.Restart(900);
  EXPECT_TRUE(meter.Observe(1, 1800));
  EXPECT_FALSE(meter.Observe(1, 1900));
}

// A version file of `size` bytes whose body arrives one byte per `gapMs`.
test::Script TricklingVersionFile(std::size_t size, int gapMs) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\n\r\n";
  test::Script script{test::Expect::LineBlock(), test::Send(head), test::Expect::LineBlock(),
                      test::Send(head)};
  for (std::size_t i = 0; i < size; ++i) {
    script.push_back(test::Pause(gapMs));
    script.push_back(test::Send("x"));
  }
  return script;
}

// Small rules and deadlines stand in for the real ones; what is checked is the outcome, not the
// time taken. A drip above the low-speed limit is ended by the deadline alone.
TEST(LowSpeedGuard, ATricklingServerFailsTheVersionCheckUnderTheRuleOrTheDeadline) {
  constexpr std::size_t kBytes = 12;
  constexpr int kGapMs = 50;               // 20 bytes per second, far inside any read timeout
  constexpr std::uint64_t kShortMs = 250;  // the body needs 600 ms
  const struct {
    const char* what;
    TLowSpeedRule rule;
    std::uint64_t deadlineInMs;  // 0: none
    const char* expected;
    const char* reason;
  } cases[] = {
      {"trickle below the limit", {1000, 200}, 0, RSVersionCheckError, "too little"},
      {"trickle above the limit", {4, 1000}, 0, "", ""},
      {"trickle above the limit past the deadline",
       {4, 1000},
       kShortMs,
       RSVersionCheckError,
       "longer than allowed"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    test::ScriptedServer server(TricklingVersionFile(kBytes, kGapMs));
    const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/version.ini";
    const std::uint64_t deadline =
        c.deadlineInMs == 0 ? kNoDeadline : MonotonicMilliseconds() + c.deadlineInMs;
    std::string bytes;
    std::string error;
    EXPECT_EQ(DownloadVersionFile(url, bytes, error, deadline, c.rule), c.expected);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

// Past the deadline nothing more is received, and no new request starts.
TEST(LowSpeedGuard, NothingPassesTheDeadline) {
  TLowSpeedGuard guard(nullptr, {1, 1000000});
  TIdByteArray block(10, 'x');
  guard.Receive(block);
  guard.SetDeadline(MonotonicMilliseconds());
  EXPECT_THROW(guard.Receive(block), EUpdateDeadlinePassed);
  TIdHTTP http;
  SetUpUpdateClient(http, guard);
  EXPECT_THROW(PrepareUpdateRequest(http, guard, "http://127.0.0.1:1/"), EUpdateDeadlinePassed);
}

}  // namespace
}  // namespace brixa
