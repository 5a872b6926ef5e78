// Basic's one step and its header; challenge items never overwrite the stored credentials.

#include "http/auth/auth_basic.h"

#include "http/auth/auth_challenge.h"
#include "http/message/header_list.h"
#include "runtime/codec/mime_coder.h"
#include "runtime/text/text.h"

namespace brixa {

namespace {

constexpr std::string_view kScheme = "Basic";

// Challenge items never replace the credentials that share Params with them.
[[nodiscard]] bool IsCredentialName(std::string_view name) {
  return SameTextNoCase(name, "Username") || SameTextNoCase(name, "Password");
}

}  // namespace

TAuthNextAction TIdBasicAuthentication::Next() {
  const std::string challenge = AuthParamStartingWith(kScheme);
  for (const TIdAuthChallengeItem& item : SplitChallengeItems(DropSchemeWord(challenge))) {
    if (item.Name.empty() || IsCredentialName(item.Name)) continue;
    Params().SetHeaderValue(item.Name, item.Value);
  }
  SetRealm(UnquoteChallengeValue(Params().HeaderValue("realm")));
  return Username().empty() ? naAskApplication : naRetry;
}

std::string TIdBasicAuthentication::BuildAuthorization() {
  return std::string(kScheme) + " " + TIdEncoderMIME::EncodeString(Username() + ":" + Password());
}

}  // namespace brixa
