#pragma once
// Staged rollout: which installations a release is offered to.

#include <cstdint>
#include <optional>
#include <string_view>

namespace brixa {

// Buckets are whole percents, so Rollout=N reaches the installations of buckets 0 .. N-1.
inline constexpr std::int32_t kRolloutBuckets = 100;
// A manifest without "Rollout=" reaches everyone.
inline constexpr std::int32_t kFullRollout = 100;

// A bucket drawn from the system's random source, 0 .. kRolloutBuckets-1. Drawn once per
// installation and kept: the same machine must give the same answer for the same manifest,
// or a release at 10 % would reach everyone who starts the product ten times.
[[nodiscard]] std::int32_t DrawRolloutBucket();

// A kept bucket read back: nothing unless it is the decimal of a bucket, so a damaged record
// leads to a new draw (which can only move this machine, never the fleet) rather than to a
// bucket outside the range that would always or never update.
[[nodiscard]] std::optional<std::int32_t> ParseRolloutBucket(std::string_view text) noexcept;

// The manifest's "Rollout=" value: 0 to kFullRollout, plain decimal digits. Nothing for
// anything else; a manifest that says something unreadable here offers nothing.
[[nodiscard]] std::optional<std::int32_t> ParseRolloutPercent(std::string_view text) noexcept;

// Whether a release at `percent` is offered to the installation of `bucket`. Rollout=0 offers
// it to no one: published under a higher serial, it stops a bad release at once.
[[nodiscard]] constexpr bool RolloutOffers(std::int32_t percent, std::int32_t bucket) noexcept {
  return bucket >= 0 && bucket < percent;
}

}  // namespace brixa
