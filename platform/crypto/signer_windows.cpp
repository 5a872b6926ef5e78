// Key generation and signing with CNG; keys cross to and from PEM through fixed DER frames.

#include <windows.h>
// After windows.h: these need its types.
#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/crypto/cng_windows.h"
#include "platform/crypto/der_signature.h"
#include "platform/crypto/signer.h"

namespace brixa {

namespace {

using Bytes = std::vector<BYTE>;
constexpr std::size_t kCoordinate = kP256CoordinateBytes;
constexpr std::size_t kSha256Bytes = 32;
// SubjectPublicKeyInfo of a P-256 key up to its uncompressed point (04 || X || Y).
constexpr BYTE kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2A, 0x86, 0x48,
                                0xCE, 0x3D, 0x02, 0x01, 0x06, 0x08, 0x2A, 0x86, 0x48,
                                0xCE, 0x3D, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};
// SEC1 ECPrivateKey: version 1, then the 32-byte private number.
constexpr BYTE kSec1Prefix[] = {0x30, 0x77, 0x02, 0x01, 0x01, 0x04, 0x20};
// ... then the curve and the public point.
constexpr BYTE kSec1Middle[] = {0xA0, 0x0A, 0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D,
                                0x03, 0x01, 0x07, 0xA1, 0x44, 0x03, 0x42, 0x00, 0x04};
// Where the private number starts inside a key of either form: "02 01 01 04 20".
constexpr BYTE kPrivateNumberTag[] = {0x02, 0x01, 0x01, 0x04, 0x20};
// Where the public point starts: "03 42 00 04".
constexpr BYTE kPublicPointTag[] = {0x03, 0x42, 0x00, 0x04};

std::string ToPem(const Bytes& der, const char* label) {
  DWORD size = 0;
  const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCR;
  ::CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, nullptr, &size);
  std::string base64(size, '\0');
  if (!::CryptBinaryToStringA(der.data(), static_cast<DWORD>(der.size()), flags, base64.data(),
                              &size)) {
    throw ESignatureError("the key cannot be written as PEM");
  }
  base64.resize(size);
  return std::string("-----BEGIN ") + label + "-----\n" + base64 + "-----END " + label + "-----\n";
}

// X || Y || d, as BCRYPT_ECCPRIVATE_BLOB holds them after its header.
struct TRawKey {
  std::array<BYTE, 3 * kCoordinate> xyd{};
};

std::string PublicPemOf(const TRawKey& key) {
  Bytes der(std::begin(kSpkiPrefix), std::end(kSpkiPrefix));
  der.insert(der.end(), key.xyd.begin(), key.xyd.begin() + 2 * kCoordinate);
  return ToPem(der, "PUBLIC KEY");
}

std::string PrivatePemOf(const TRawKey& key) {
  Bytes der(std::begin(kSec1Prefix), std::end(kSec1Prefix));
  der.insert(der.end(), key.xyd.begin() + 2 * kCoordinate, key.xyd.end());
  der.insert(der.end(), std::begin(kSec1Middle), std::end(kSec1Middle));
  der.insert(der.end(), key.xyd.begin(), key.xyd.begin() + 2 * kCoordinate);
  return ToPem(der, "EC PRIVATE KEY");
}

// The private number and public point of a SEC1 or PKCS#8 P-256 key (openssl writes the point
// into both). Each must occur once.
TRawKey ParsePrivateKey(const Bytes& der) {
  const auto find = [&](const BYTE* tag, std::size_t tagSize, std::size_t need) {
    const auto at = std::search(der.begin(), der.end(), tag, tag + tagSize);
    if (at == der.end() || static_cast<std::size_t>(der.end() - at) < tagSize + need ||
        std::search(at + 1, der.end(), tag, tag + tagSize) != der.end()) {
      throw ESignatureError("the key is not an ECDSA P-256 private key with its public point");
    }
    return at + static_cast<std::ptrdiff_t>(tagSize);
  };
  TRawKey key;
  const auto d = find(kPrivateNumberTag, sizeof kPrivateNumberTag, kCoordinate);
  const auto point = find(kPublicPointTag, sizeof kPublicPointTag, 2 * kCoordinate);
  std::copy(point, point + 2 * kCoordinate, key.xyd.begin());
  std::copy(d, d + kCoordinate, key.xyd.begin() + 2 * kCoordinate);
  return key;
}

Bytes Blob(const TRawKey& key) {
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, static_cast<ULONG>(kCoordinate)};
  Bytes blob(sizeof header + key.xyd.size());
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.xyd.data(), key.xyd.size());
  return blob;
}

class TAlgorithm {
 public:
  explicit TAlgorithm(LPCWSTR id) {
    if (!CngSucceeded(::BCryptOpenAlgorithmProvider(&handle_, id, nullptr, 0))) {
      throw ESignatureError("the platform's crypto has no such algorithm");
    }
  }
  ~TAlgorithm() { ::BCryptCloseAlgorithmProvider(handle_, 0); }
  TAlgorithm(const TAlgorithm&) = delete;
  TAlgorithm& operator=(const TAlgorithm&) = delete;
  [[nodiscard]] BCRYPT_ALG_HANDLE Get() const noexcept { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

}  // namespace

TSigningKeyPair GenerateSigningKeyPair() {
  TAlgorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  BCRYPT_KEY_HANDLE handle = nullptr;
  if (!CngSucceeded(::BCryptGenerateKeyPair(ecdsa.Get(), &handle, 256, 0)) ||
      !CngSucceeded(::BCryptFinalizeKeyPair(handle, 0))) {
    throw ESignatureError("no P-256 key could be made");
  }
  Bytes blob(sizeof(BCRYPT_ECCKEY_BLOB) + 3 * kCoordinate);
  ULONG size = 0;
  const NTSTATUS exported = ::BCryptExportKey(handle, nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                              static_cast<ULONG>(blob.size()), &size, 0);
  ::BCryptDestroyKey(handle);
  if (!CngSucceeded(exported) || size != blob.size())
    throw ESignatureError("the key cannot be read");
  TRawKey key;
  std::memcpy(key.xyd.data(), blob.data() + sizeof(BCRYPT_ECCKEY_BLOB), key.xyd.size());
  return {PrivatePemOf(key), PublicPemOf(key)};
}

struct TSigner::State {
  TRawKey raw;
  std::unique_ptr<TAlgorithm> ecdsa;
  std::unique_ptr<TAlgorithm> sha256;
  BCRYPT_KEY_HANDLE key = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~State() {
    if (hash != nullptr) ::BCryptDestroyHash(hash);
    if (key != nullptr) ::BCryptDestroyKey(key);
  }
};

TSigner::TSigner(std::string_view privateKeyPem) : state_(std::make_unique<State>()) {
  state_->raw = ParsePrivateKey(CngPemToDer(privateKeyPem));
  state_->ecdsa = std::make_unique<TAlgorithm>(BCRYPT_ECDSA_P256_ALGORITHM);
  state_->sha256 = std::make_unique<TAlgorithm>(BCRYPT_SHA256_ALGORITHM);
  Bytes blob = Blob(state_->raw);
  if (!CngSucceeded(::BCryptImportKeyPair(state_->ecdsa->Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                          &state_->key, blob.data(),
                                          static_cast<ULONG>(blob.size()), 0))) {
    throw ESignatureError("the key is not an ECDSA P-256 key");
  }
  if (!CngSucceeded(
          ::BCryptCreateHash(state_->sha256->Get(), &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    throw ESignatureError("SHA-256 is not available");
  }
}

TSigner::~TSigner() = default;

void TSigner::Update(const void* data, std::size_t size) {
  CngHashData(state_->hash, data, size);
}

std::string TSigner::Sign() {
  std::array<UCHAR, kSha256Bytes> digest{};
  if (!CngSucceeded(::BCryptFinishHash(state_->hash, digest.data(), kSha256Bytes, 0))) {
    throw ESignatureError("SHA-256 failed");
  }
  TRawP256Signature raw{};
  ULONG size = 0;
  if (!CngSucceeded(::BCryptSignHash(state_->key, nullptr, digest.data(), kSha256Bytes, raw.data(),
                                     static_cast<ULONG>(raw.size()), &size, 0)) ||
      size != raw.size()) {
    throw ESignatureError("the signature cannot be made");
  }
  return EncodeDerSignature(raw);
}

std::string TSigner::PublicKeyPem() const {
  return PublicPemOf(state_->raw);
}

}  // namespace brixa
