#pragma once
// What the CNG signature verifier and signer share: PEM decoding and feeding a hash.

#include <windows.h>
// After windows.h: it needs its types.
#include <bcrypt.h>

#include <cstddef>
#include <string_view>
#include <vector>

namespace brixa {

[[nodiscard]] inline bool CngSucceeded(NTSTATUS status) noexcept {
  return status >= 0;
}

// The DER bytes of the first PEM block of `pem`; raises ESignatureError when there is none.
[[nodiscard]] std::vector<BYTE> CngPemToDer(std::string_view pem);

// Feeds `size` bytes to `hash` in pieces CNG takes; raises ESignatureError on failure.
void CngHashData(BCRYPT_HASH_HANDLE hash, const void* data, std::size_t size);

}  // namespace brixa
