#pragma once
// What the libcrypto signature verifier and signer share: a P-256 key read from PEM and a
// SHA-256 digest context started on it.

#include <cstddef>
#include <memory>
#include <string_view>

#include "platform/crypto/signature.h"

namespace brixa {

// The names libcrypto goes by, newest first: OpenSSL 3, 1.1, and the development link.
inline constexpr const char* kLibcryptoNames[] = {"libcrypto.so.3", "libcrypto.so.1.1",
                                                  "libcrypto.so"};

// A table of libcrypto entry points (`library` and `Bind()`), from the first libcrypto that has
// them all; raises ESignatureError when none has.
template <typename Crypto>
[[nodiscard]] std::unique_ptr<Crypto> LoadLibcrypto() {
  auto crypto = std::make_unique<Crypto>();
  for (const char* name : kLibcryptoNames) {
    if (crypto->library.Load(name) && crypto->Bind()) return crypto;
  }
  throw ESignatureError("libcrypto (OpenSSL 1.1 or 3) is not available");
}

inline constexpr int kLibcryptoEvpPkeyEc = 408;  // EVP_PKEY_EC, the NID of id-ecPublicKey
inline constexpr int kLibcryptoP256Bits = 256;

// Reads the key of `pem` with `read` (PEM_read_bio_PUBKEY or PEM_read_bio_PrivateKey), checks
// it is an ECDSA P-256 key and starts `context` on it with `init` (EVP_DigestVerifyInit or
// EVP_DigestSignInit) and SHA-256. `crypto` is either unit's table of bound entry points;
// `key` and `context` are left for the caller's state to free, also when this raises
// ESignatureError (`notPem` is its message when there is no key).
template <typename Crypto, typename Read, typename Init>
void OpenP256Key(const Crypto& crypto, std::string_view pem, Read read, Init init, void*& key,
                 void*& context, const char* notPem) {
  void* bio = crypto.bioNewMemBuf(pem.data(), static_cast<int>(pem.size()));
  if (bio == nullptr) throw ESignatureError("out of memory");
  key = read(bio, nullptr, nullptr, nullptr);
  crypto.bioFree(bio);
  if (key == nullptr) throw ESignatureError(notPem);
  if (crypto.pkeyBaseId(key) != kLibcryptoEvpPkeyEc || crypto.pkeyBits(key) != kLibcryptoP256Bits) {
    throw ESignatureError("the key is not an ECDSA P-256 key");
  }
  context = crypto.mdCtxNew();
  if (context == nullptr || init(context, nullptr, crypto.sha256(), nullptr, key) != 1) {
    throw ESignatureError("SHA-256 with ECDSA is not available");
  }
}

// What either unit keeps between calls: its bound entry points, the key and the digest context,
// freed together.
template <typename Crypto>
struct TLibcryptoDigest {
  std::unique_ptr<Crypto> crypto;
  void* key = nullptr;
  void* context = nullptr;

  TLibcryptoDigest() = default;
  TLibcryptoDigest(const TLibcryptoDigest&) = delete;
  TLibcryptoDigest& operator=(const TLibcryptoDigest&) = delete;
  ~TLibcryptoDigest() {
    if (context != nullptr) crypto->mdCtxFree(context);
    if (key != nullptr) crypto->pkeyFree(key);
  }

  // Feeds the next signed bytes to the digest.
  void Update(const void* data, std::size_t size) {
    if (crypto->digestUpdate(context, data, size) != 1) throw ESignatureError("SHA-256 failed");
  }
};

}  // namespace brixa
