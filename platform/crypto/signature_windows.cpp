// Signature checks with CNG: the PEM key imported through crypt32, the DER signature turned into
// the raw form bcrypt verifies.

#include <windows.h>
// After windows.h: these need its types.
#include <bcrypt.h>
#include <wincrypt.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/crypto/cng_windows.h"
#include "platform/crypto/der_signature.h"
#include "platform/crypto/signature.h"

namespace brixa {

namespace {

constexpr std::size_t kSha256Bytes = 32;
// The named-curve parameter of a P-256 key: DER of OID 1.2.840.10045.3.1.7.
constexpr BYTE kP256CurveParameter[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};

bool IsP256PublicKey(const CERT_PUBLIC_KEY_INFO& info) noexcept {
  const CRYPT_OBJID_BLOB& curve = info.Algorithm.Parameters;
  return info.Algorithm.pszObjId != nullptr &&
         std::strcmp(info.Algorithm.pszObjId, szOID_ECC_PUBLIC_KEY) == 0 &&
         curve.cbData == sizeof kP256CurveParameter &&
         std::memcmp(curve.pbData, kP256CurveParameter, sizeof kP256CurveParameter) == 0;
}

// What CryptDecodeObjectEx allocated with CRYPT_DECODE_ALLOC_FLAG.
struct LocalMemory {
  void* p = nullptr;
  ~LocalMemory() {
    if (p != nullptr) ::LocalFree(p);
  }
};

BCRYPT_KEY_HANDLE ImportKey(std::string_view pem) {
  const std::vector<BYTE> der = CngPemToDer(pem);
  LocalMemory info;
  DWORD infoSize = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(),
                             static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &info.p, &infoSize)) {
    throw ESignatureError("the update key is not a public key");
  }
  const auto* keyInfo = static_cast<PCERT_PUBLIC_KEY_INFO>(info.p);
  if (!IsP256PublicKey(*keyInfo)) throw ESignatureError("the update key is not an ECDSA P-256 key");
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!::CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, const_cast<PCERT_PUBLIC_KEY_INFO>(keyInfo),
                                     0, nullptr, &key)) {
    throw ESignatureError("the update key cannot be imported");
  }
  return key;
}

}  // namespace

struct TSignatureVerifier::State {
  BCRYPT_KEY_HANDLE key = nullptr;
  BCRYPT_ALG_HANDLE sha256 = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) ::BCryptDestroyHash(hash);
    if (sha256 != nullptr) ::BCryptCloseAlgorithmProvider(sha256, 0);
    if (key != nullptr) ::BCryptDestroyKey(key);
  }
};

TSignatureVerifier::TSignatureVerifier(std::string_view publicKeyPem)
    : state_(std::make_unique<State>()) {
  state_->key = ImportKey(publicKeyPem);
  if (!CngSucceeded(
          ::BCryptOpenAlgorithmProvider(&state_->sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !CngSucceeded(::BCryptCreateHash(state_->sha256, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    throw ESignatureError("SHA-256 is not available");
  }
}

TSignatureVerifier::~TSignatureVerifier() = default;

void TSignatureVerifier::Update(const void* data, std::size_t size) {
  CngHashData(state_->hash, data, size);
}

bool TSignatureVerifier::Verify(std::string_view derSignature) {
  std::array<UCHAR, kSha256Bytes> digest{};
  if (!CngSucceeded(::BCryptFinishHash(state_->hash, digest.data(), kSha256Bytes, 0))) return false;
  // CryptDecodeObjectEx takes BER forms too; the strict decoder accepts what Linux accepts.
  const auto raw = DecodeStrictDerSignature(derSignature);
  if (!raw) return false;
  return ::BCryptVerifySignature(state_->key, nullptr, digest.data(), kSha256Bytes,
                                 const_cast<PUCHAR>(raw->data()), static_cast<ULONG>(raw->size()),
                                 0) == 0;
}

}  // namespace brixa
