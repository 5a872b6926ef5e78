#include <windows.h>
// After windows.h: these need its types.
#include <bcrypt.h>
#include <wincrypt.h>

#include <array>
#include <cstdint>
#include <cwchar>
#include <vector>

#include "platform/signature.h"

namespace brixa {

namespace {

constexpr std::size_t kCoordinateBytes = 32;  // P-256
constexpr std::size_t kSha256Bytes = 32;
constexpr wchar_t kP256Algorithm[] = L"ECDSA_P256";

bool Succeeded(NTSTATUS status) noexcept {
  return status >= 0;
}

// What CryptDecodeObjectEx allocated with CRYPT_DECODE_ALLOC_FLAG.
struct LocalMemory {
  void* p = nullptr;
  ~LocalMemory() {
    if (p != nullptr) ::LocalFree(p);
  }
};

std::vector<BYTE> PemToDer(std::string_view pem) {
  DWORD size = 0;
  if (!::CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              nullptr, &size, nullptr, nullptr)) {
    throw ESignatureError("the update key is not in PEM form");
  }
  std::vector<BYTE> der(size);
  if (!::CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER,
                              der.data(), &size, nullptr, nullptr)) {
    throw ESignatureError("the update key is not in PEM form");
  }
  der.resize(size);
  return der;
}

BCRYPT_KEY_HANDLE ImportKey(std::string_view pem) {
  const std::vector<BYTE> der = PemToDer(pem);
  LocalMemory info;
  DWORD infoSize = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, der.data(),
                             static_cast<DWORD>(der.size()), CRYPT_DECODE_ALLOC_FLAG, nullptr,
                             &info.p, &infoSize)) {
    throw ESignatureError("the update key is not a public key");
  }
  BCRYPT_KEY_HANDLE key = nullptr;
  if (!::CryptImportPublicKeyInfoEx2(X509_ASN_ENCODING, static_cast<PCERT_PUBLIC_KEY_INFO>(info.p),
                                     0, nullptr, &key)) {
    throw ESignatureError("the update key cannot be imported");
  }
  std::array<wchar_t, 32> name{};
  ULONG nameSize = 0;
  if (!Succeeded(
          ::BCryptGetProperty(key, BCRYPT_ALGORITHM_NAME, reinterpret_cast<PUCHAR>(name.data()),
                              static_cast<ULONG>(sizeof name) - sizeof(wchar_t), &nameSize, 0)) ||
      std::wcscmp(name.data(), kP256Algorithm) != 0) {
    ::BCryptDestroyKey(key);
    throw ESignatureError("the update key is not an ECDSA P-256 key");
  }
  return key;
}

// A CRYPT_UINT_BLOB (little-endian, unsigned) as a big-endian coordinate of kCoordinateBytes.
bool AppendBigEndian(const CRYPT_UINT_BLOB& value, std::vector<BYTE>& out) {
  DWORD size = value.cbData;
  while (size > 0 && value.pbData[size - 1] == 0) --size;  // leading zeros of the number
  if (size > kCoordinateBytes) return false;
  out.insert(out.end(), kCoordinateBytes - size, 0);
  for (DWORD i = size; i > 0; --i) out.push_back(value.pbData[i - 1]);
  return true;
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
  if (!Succeeded(
          ::BCryptOpenAlgorithmProvider(&state_->sha256, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !Succeeded(::BCryptCreateHash(state_->sha256, &state_->hash, nullptr, 0, nullptr, 0, 0))) {
    throw ESignatureError("SHA-256 is not available");
  }
}

TSignatureVerifier::~TSignatureVerifier() = default;

void TSignatureVerifier::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const UCHAR*>(data);
  while (size > 0) {
    const ULONG piece = size > MAXDWORD ? MAXDWORD : static_cast<ULONG>(size);
    if (!Succeeded(::BCryptHashData(state_->hash, const_cast<PUCHAR>(bytes), piece, 0))) {
      throw ESignatureError("SHA-256 failed");
    }
    bytes += piece;
    size -= piece;
  }
}

bool TSignatureVerifier::Verify(std::string_view derSignature) {
  std::array<UCHAR, kSha256Bytes> digest{};
  if (!Succeeded(::BCryptFinishHash(state_->hash, digest.data(), kSha256Bytes, 0))) return false;
  LocalMemory decoded;
  DWORD decodedSize = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ECC_SIGNATURE,
                             reinterpret_cast<const BYTE*>(derSignature.data()),
                             static_cast<DWORD>(derSignature.size()), CRYPT_DECODE_ALLOC_FLAG,
                             nullptr, &decoded.p, &decodedSize)) {
    return false;
  }
  const auto* signature = static_cast<const CERT_ECC_SIGNATURE*>(decoded.p);
  std::vector<BYTE> raw;  // r || s, big-endian
  if (!AppendBigEndian(signature->r, raw) || !AppendBigEndian(signature->s, raw)) return false;
  return ::BCryptVerifySignature(state_->key, nullptr, digest.data(), kSha256Bytes, raw.data(),
                                 static_cast<ULONG>(raw.size()), 0) == 0;
}

}  // namespace brixa
