// The shared peers of the suites built on PeerSuite.
#include "support/peers/peer_suite.h"

namespace brixa::test {

PeerProcess* PeerSuite::Peer(PeerKind kind, std::string& whyNot) {
  const auto slot = static_cast<std::size_t>(kind);
  if (!peers_[slot] && whyNot_[slot].empty())
    peers_[slot] = PeerProcess::Start(kind, whyNot_[slot]);
  whyNot = whyNot_[slot];
  return peers_[slot].get();
}

void PeerSuite::TearDownTestSuite() {
  for (auto& peer : peers_) peer.reset();
  for (auto& reason : whyNot_) reason.clear();
}

}  // namespace brixa::test
