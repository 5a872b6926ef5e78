// Tick differences across one wrap of the counter.

#include "runtime/time/ticks.h"

#include <gtest/gtest.h>

namespace brixa {
namespace {

TEST(TicksTest, TickDiffAllowsOneWrap) {
  EXPECT_EQ(TickDiff(100, 250), 150u);
  EXPECT_EQ(TickDiff(4294967290u, 5), 10u);
  EXPECT_EQ(TickDiff(7, 7), 0u);
  const std::uint32_t before = TickCountMs();
  SleepMs(20);
  // Only a lower bound: how much longer the sleep took is up to the scheduler.
  EXPECT_GE(TickDiff(before, TickCountMs()), 19u);
}

}  // namespace
}  // namespace brixa
