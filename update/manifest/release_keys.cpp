// Key lists and context-bound signature checks over the platform's verifier.

#include "update/manifest/release_keys.h"

#include "platform/crypto/signature.h"

namespace brixa {

namespace {
constexpr std::string_view kBegin = "-----BEGIN PUBLIC KEY-----";
constexpr std::string_view kEnd = "-----END PUBLIC KEY-----";
}  // namespace

std::vector<std::string> SplitPublicKeys(std::string_view pems) {
  std::vector<std::string> keys;
  for (std::size_t at = pems.find(kBegin); at != std::string_view::npos;
       at = pems.find(kBegin, at)) {
    const std::size_t end = pems.find(kEnd, at);
    if (end == std::string_view::npos) break;
    keys.emplace_back(pems.substr(at, end + kEnd.size() - at));
    at = end + kEnd.size();
  }
  return keys;
}

bool SignedByAnyKey(const std::vector<std::string>& publicKeys, std::string_view context,
                    std::string_view bytes, std::string_view signature) noexcept {
  for (const std::string& key : publicKeys) {
    try {
      TSignatureVerifier verifier(key);
      verifier.Update(context.data(), context.size());
      verifier.Update(bytes.data(), bytes.size());
      if (verifier.Verify(signature)) return true;
    } catch (...) {
      // an unusable key matches nothing; the next may
    }
  }
  return false;
}

}  // namespace brixa
