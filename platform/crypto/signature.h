#pragma once
// TSignatureVerifier: ECDSA P-256 / SHA-256 signature checks with the platform's own crypto.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/core/exception.h"

namespace brixa {

// The public key cannot be used, or the platform's crypto is not available.
BRIXA_DECLARE_EXCEPTION(ESignatureError, Exception);

// Checks an ECDSA P-256 signature over SHA-256 of a byte sequence, with the platform's own
// crypto: CNG on Windows (bcrypt, crypt32), the system's libcrypto, loaded at run time, on
// other systems. Nothing of the algorithm is done here.
//
// The key is a SubjectPublicKeyInfo in PEM, as `openssl ec -pubout` writes it; the signature is
// DER, as `openssl dgst -sha256 -sign` writes it. Feed the signed bytes through Update in any
// pieces, then ask Verify once.
class TSignatureVerifier {
 public:
  // Raises ESignatureError when the key is not an ECDSA P-256 public key in PEM or the crypto
  // library is missing.
  explicit TSignatureVerifier(std::string_view publicKeyPem);
  ~TSignatureVerifier();
  TSignatureVerifier(const TSignatureVerifier&) = delete;
  TSignatureVerifier& operator=(const TSignatureVerifier&) = delete;

  void Update(const void* data, std::size_t size);
  // True only when `derSignature` is a well-formed signature by the key over every byte passed
  // to Update. A malformed signature is false, never an exception.
  [[nodiscard]] bool Verify(std::string_view derSignature);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace brixa
