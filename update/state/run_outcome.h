#pragma once
// How an updater run ended: the one set of outcomes the check, the download and the run log
// share.

#include <string_view>

namespace brixa {

enum class TRunOutcome {
  roNone,       // nothing decided yet
  roFailed,     // the check or the download failed (network, server, file, launch)
  roRefused,    // the server's release was refused (signature, product, expiry, serial, state)
  roDeferred,   // the server asked not to be asked yet; no request was made
  roHeldBack,   // a release outside this installation's rollout bucket
  roUpdate,     // a release to install was found (the download follows)
  roUpToDate,   // the server's stamp is the local one
  roInstalled,  // the verified installer was started
};

// The outcome's name in the run log: "failed", "refused", "deferred", "held back", "update",
// "up-to-date", "installed" ("" for roNone).
[[nodiscard]] std::string_view RunOutcomeName(TRunOutcome outcome) noexcept;

// A server whose check ended so passes the run to the next server of the build's list.
[[nodiscard]] constexpr bool PassesToNextServer(TRunOutcome outcome) noexcept {
  return outcome == TRunOutcome::roFailed || outcome == TRunOutcome::roRefused ||
         outcome == TRunOutcome::roDeferred;
}

}  // namespace brixa
