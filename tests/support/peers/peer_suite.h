#pragma once
// The fixture of the suites that share running peers among their tests, and its skip macro.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/peers/peer_process.h"

namespace brixa::test {

// One server of each kind for all the tests of a suite: starting squid and stopping it take
// seconds. A peer starts when a test first asks for it and stops when the suite ends; a kind that
// could not be had is not tried again within the suite.
class PeerSuite : public ::testing::Test {
 protected:
  // The running peer of `kind`, or null with the reason in `whyNot`.
  static PeerProcess* Peer(PeerKind kind, std::string& whyNot);
  static void TearDownTestSuite();

 private:
  static inline std::unique_ptr<PeerProcess> peers_[kPeerKindCount];
  static inline std::string whyNot_[kPeerKindCount];
};

}  // namespace brixa::test

// Inside a test of a PeerSuite: `var` (a PeerProcess*) is the suite's peer of `kind`, or the
// test is skipped with the reason.
#define BRIXA_SUITE_PEER_OR_SKIP(var, kind)                    \
  std::string var##WhyNot;                                     \
  ::brixa::test::PeerProcess* var = Peer((kind), var##WhyNot); \
  if (var == nullptr) GTEST_SKIP() << var##WhyNot
