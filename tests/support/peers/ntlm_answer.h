#pragma once
// An authorization handler for tests that meet an NTLM challenge with fixed credentials.

#include <string>

#include "http/auth/ntlm/auth_ntlm.h"
#include "http/client/http.h"

namespace brixa::test {

// Answers any challenge as `user` ("DOMAIN\user") with `password`; an NTLM answer in version 1
// when `v1`, else in the version the challenge allows.
[[nodiscard]] inline TIdOnAuthorization AnswerAs(std::string user, std::string password,
                                                 bool v1 = false) {
  return [user = std::move(user), password = std::move(password), v1](
             TComponent*, TIdAuthentication* auth, bool& handled) {
    if (auto* ntlm = dynamic_cast<TIdNTLMAuthentication*>(auth)) ntlm->SetUseNTLMv1(v1);
    auth->StoreUsername(user);
    auth->StorePassword(password);
    handled = true;
  };
}

}  // namespace brixa::test
