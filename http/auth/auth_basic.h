#pragma once
// The "Basic" authentication scheme.

#include <string>
#include <string_view>

#include "http/auth/authentication.h"

namespace brixa {

// The "Basic" scheme: one step, the credentials sent as base64 of "user:password".
class TIdBasicAuthentication : public TIdAuthentication {
 public:
  static constexpr std::string_view kClassName = "TIdBasicAuthentication";
  static constexpr int kRank = kAuthRankBasic;

  // Copies the items of the "Basic" challenge into Params and takes Realm from it. Answers
  // naRetry when a user name is stored, naAskApplication otherwise; the step never changes.
  [[nodiscard]] TAuthNextAction Next() override;
  [[nodiscard]] int StepCount() const override { return 1; }
  // "Basic " + base64 of user name, ":" and password, each character as one byte (Latin-1).
  // An empty user name still sends the colon.
  [[nodiscard]] std::string BuildAuthorization() override;
};

}  // namespace brixa
