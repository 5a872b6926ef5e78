#include "update/manifest/rollout.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

namespace brixa {
namespace {

// Installations simulated per rollout step, and how far the share that updates may stray from
// the percentage: for 10 000 draws at 50 % one standard deviation is 0.5 points, so 2.5 points
// is five of them (a false alarm about once in two million runs).
constexpr int kInstallations = 10000;
constexpr double kToleranceShare = 0.025;

TEST(RolloutTest, TheShareOfAFleetThatUpdatesFollowsThePercentage) {
  std::vector<std::int32_t> fleet(kInstallations);
  for (std::int32_t& bucket : fleet) {
    bucket = DrawRolloutBucket();
    ASSERT_GE(bucket, 0);
    ASSERT_LT(bucket, kRolloutBuckets);
  }
  std::int32_t updatedAt10 = 0;
  for (const std::int32_t percent : {10, 50, 100}) {
    int updated = 0;
    for (const std::int32_t bucket : fleet) updated += RolloutOffers(percent, bucket) ? 1 : 0;
    EXPECT_NEAR(static_cast<double>(updated) / kInstallations, percent / 100.0, kToleranceShare)
        << percent << " %";
    if (percent == 10) updatedAt10 = updated;
  }
  // Raising the percentage only adds machines: every machine offered at 10 % is offered at 50 %,
  // and asking again gives every machine the same answer.
  int stillOffered = 0;
  for (const std::int32_t bucket : fleet) {
    if (RolloutOffers(10, bucket)) stillOffered += RolloutOffers(50, bucket) ? 1 : 0;
  }
  EXPECT_EQ(stillOffered, updatedAt10);
  // The kill switch: a release partly out stops everywhere.
  for (const std::int32_t bucket : fleet) ASSERT_FALSE(RolloutOffers(0, bucket));
  // Every bucket is drawn: no slice of the fleet is left out of a full rollout by the draw.
  std::array<bool, kRolloutBuckets> seen{};
  for (const std::int32_t bucket : fleet) seen[static_cast<std::size_t>(bucket)] = true;
  for (std::size_t b = 0; b < seen.size(); ++b) EXPECT_TRUE(seen[b]) << "bucket " << b;
}

TEST(RolloutTest, PercentagesAndKeptBucketsAreReadStrictly) {
  struct Case {
    const char* text;
    std::optional<std::int32_t> percent;
    std::optional<std::int32_t> bucket;
  };
  const Case cases[] = {
      {"0", 0, 0},
      {"10", 10, 10},
      {"099", 99, 99},
      {"100", 100, std::nullopt},
      {"101", std::nullopt, std::nullopt},
      {"1000", std::nullopt, std::nullopt},
      {"-1", std::nullopt, std::nullopt},
      {"+5", std::nullopt, std::nullopt},
      {" 5", std::nullopt, std::nullopt},
      {"5%", std::nullopt, std::nullopt},
      {"", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseRolloutPercent(c.text), c.percent) << '"' << c.text << '"';
    EXPECT_EQ(ParseRolloutBucket(c.text), c.bucket) << '"' << c.text << '"';
  }
  EXPECT_FALSE(RolloutOffers(kFullRollout, -1)) << "no bucket, no offer";
  EXPECT_TRUE(RolloutOffers(kFullRollout, kRolloutBuckets - 1));
}

}  // namespace
}  // namespace brixa
