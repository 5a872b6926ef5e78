// Decodes arbitrary bytes as a DER ECDSA signature: no input crashes, whatever decodes has that
// one encoding, and nothing verifies over a message the key never signed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/crypto/der_signature.h"
#include "platform/crypto/signature.h"

namespace {

constexpr const char* kPublicKey =
    "-----BEGIN PUBLIC KEY-----\n"
    "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEPJaGHTZN+6z1MNW38+CtaoGd8s2a\n"
    "MTFrO2R6mNenCJqsRzkSmed29I9jdOA64byaeb0UnKi4xDkuKGDffcAnMg==\n"
    "-----END PUBLIC KEY-----\n";
constexpr std::string_view kUnsigned = "bytes the key never signed\n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view der(reinterpret_cast<const char*>(data), size);
  const auto raw = brixa::DecodeStrictDerSignature(der);
  if (raw && brixa::EncodeDerSignature(*raw) != der) std::abort();
  brixa::TSignatureVerifier verifier(kPublicKey);
  verifier.Update(kUnsigned.data(), kUnsigned.size());
  if (verifier.Verify(der)) std::abort();
  return 0;
}
