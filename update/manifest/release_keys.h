#pragma once
// The keys a release must be signed with, and what each signature is bound to.

#include <string>
#include <string_view>
#include <vector>

namespace brixa {

// Every signature covers a context line and then the file: a signature made for one kind of
// file never verifies as another kind (an installer's signature served as a manifest's). The
// signed bytes are exactly context + file; `openssl dgst -sha256 -sign` over that makes one.
inline constexpr std::string_view kManifestSignatureContext = "BrixaUpdater manifest v1\n";

// The PEM public keys in `pems`, one per "-----BEGIN PUBLIC KEY-----" block, in order: a build
// trusts every key of the list it was made with (key rotation).
[[nodiscard]] std::vector<std::string> SplitPublicKeys(std::string_view pems);

// True when `signature` (DER) by any of `publicKeys` verifies over context + bytes. A key that
// cannot be used counts as not matching; nothing raises.
[[nodiscard]] bool SignedByAnyKey(const std::vector<std::string>& publicKeys,
                                  std::string_view context, std::string_view bytes,
                                  std::string_view signature) noexcept;

}  // namespace brixa
