// Hands arbitrary "WWW-Authenticate" / "Proxy-Authenticate" values (one per line) to the choice
// of scheme and to the Basic and Digest schemes that read them: nothing raises but the
// documented refusal of an unknown Digest algorithm, and no header built holds a line break.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "http/auth/auth_basic.h"
#include "http/auth/auth_challenge.h"
#include "http/auth/auth_digest.h"
#include "http/message/header_list.h"

namespace {

void Answer(brixa::TIdAuthentication& scheme, const brixa::TIdHeaderList& challenges) {
  scheme.StoreUsername("user");
  scheme.StorePassword("password");
  scheme.SetAuthParams(challenges);
  scheme.SetRequest({.Method = "GET", .Target = "/x", .Host = "h"});
  try {
    (void)scheme.Next();
  } catch (const brixa::EIdInvalidAlgorithm&) {
    return;
  }
  const std::string header = scheme.BuildAuthorization();
  if (header.find_first_of("\r\n") != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  brixa::TIdHeaderList challenges;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end - start);
    challenges.Add(line);
    for (const auto& item : brixa::SplitChallengeItems(brixa::DropSchemeWord(line))) {
      (void)brixa::UnquoteChallengeValue(item.Value);
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  (void)brixa::ChooseAuthScheme(challenges, true);
  (void)brixa::ChooseAuthScheme(challenges, false);
  brixa::TIdBasicAuthentication basic;
  Answer(basic, challenges);
  brixa::TIdDigestAuthentication digest;
  Answer(digest, challenges);
  return 0;
}
